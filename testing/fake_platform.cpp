#include "testing/fake_platform.h"

#include <stdlib.h>
#include <string.h>

namespace {

const uint32_t kAttributeReadOnly = 0x01;
const uint32_t kAttributeArchive = 0x20;

// The length of the character at path[i]: a code page 932 lead byte and
// the byte after it are one, whatever that byte is (ソ is 83 5C, and ャ 83 61
// is no small a), as Windows reads a narrow name.
size_t CharAt(const std::string& path, size_t i) {
  unsigned char c = static_cast<unsigned char>(path[i]);
  bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
  return lead && i + 1 < path.size() ? 2 : 1;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Windows compares names without regard to case, with either separator.
std::string Fold(const std::string& path) {
  std::string folded = path;
  for (size_t i = 0; i < folded.size(); i += CharAt(folded, i)) {
    char& c = folded[i];
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < path.size(); i += CharAt(path, i)) {
    if (IsSeparator(path[i])) {
      parts.emplace_back();
    } else {
      parts.back() += path.substr(i, CharAt(path, i));
    }
  }
  return parts;
}

std::string Parent(const std::string& key) {
  std::vector<std::string> parts = Split(key);
  return parts.size() < 2 ? ""
                          : key.substr(0, key.size() - parts.back().size() - 1);
}

}  // namespace

FakePlatform::FakePlatform() {}

FakePlatform::~FakePlatform() {}

size_t FakePlatform::AddNode(NodeKind kind, const std::string& data) {
  Node node;
  node.kind = kind;
  node.data = node.durable_data = data;
  nodes_.push_back(node);
  return nodes_.size() - 1;
}

void FakePlatform::AddName(const std::string& path, size_t node) {
  Entry entry{path, node};
  names_[Fold(path)] = entry;
  durable_names_[Fold(path)] = entry;
}

void FakePlatform::AddFolder(const std::string& path) {
  std::string so_far;
  for (const std::string& part : Split(path)) {
    so_far = so_far.empty() ? part : so_far + "\\" + part;
    if (names_.count(Fold(so_far)) == 0) AddName(so_far, AddNode(kFolder, ""));
  }
}

void FakePlatform::AddFile(const std::string& path, const std::string& data,
                           bool read_only) {
  AddFolder(Parent(path));
  size_t node = AddNode(kFile, data);
  nodes_[node].read_only = nodes_[node].durable_read_only = read_only;
  AddName(path, node);
}

void FakePlatform::AddLink(const std::string& path, const std::string& target) {
  AddFolder(Parent(path));
  size_t node = AddNode(kLink, "");
  nodes_[node].target = target;
  AddName(path, node);
}

void FakePlatform::AddHardLink(const std::string& path,
                               const std::string& existing) {
  const Entry* entry = Find(existing, true);
  if (entry == nullptr) return;
  AddFolder(Parent(path));
  AddName(path, entry->node);
}

void FakePlatform::SetOwnExecutable(const std::string& path,
                                    const std::string& data) {
  AddFile(path, data);
  own_path_ = path;
  own_node_ = nodes_.size() - 1;
}

void FakePlatform::SetRegistryValue(const std::string& key,
                                    const std::string& name, uint32_t type,
                                    const std::string& bytes) {
  registry_[Fold(key)][Fold(name)] = std::make_pair(type, bytes);
}

void FakePlatform::HoldFile(const std::string& path, uint32_t milliseconds) {
  const Entry* entry = Find(path, true);
  if (entry == nullptr) return;
  Handle hold;
  hold.node = entry->node;
  hold.access = kRead;
  hold.share = kRead;
  hold.path = path;
  hold.until_ms = milliseconds == 0 ? 0 : clock_ms_ + milliseconds;
  holds_.push_back(hold);
}

void FakePlatform::HoldMutex(const std::string& name) { mutexes_[name] = -1; }

std::map<std::string, std::string> FakePlatform::Snapshot(
    const std::string& folder) const {
  std::map<std::string, std::string> files;
  std::string prefix = Fold(folder) + "\\";
  for (const auto& name : names_) {
    if (name.first.compare(0, prefix.size(), prefix) != 0) continue;
    const Node& node = nodes_[name.second.node];
    std::string relative = name.second.name.substr(prefix.size());
    files[relative] = node.kind == kFolder ? "<folder>"
                      : node.kind == kLink ? "<link to " + node.target + ">"
                                           : node.data;
  }
  return files;
}

PathKind FakePlatform::KindOf(const std::string& path) const {
  const Entry* entry = Find(path, false);
  if (entry == nullptr) return kPathMissing;
  NodeKind kind = nodes_[entry->node].kind;
  return kind == kFolder ? kPathFolder : kind == kLink ? kPathLink : kPathFile;
}

std::string FakePlatform::DataOf(const std::string& path) const {
  const Entry* entry = Find(path, true);
  return entry != nullptr ? nodes_[entry->node].data : "";
}

bool FakePlatform::IsReadOnly(const std::string& path) const {
  const Entry* entry = Find(path, true);
  return entry != nullptr && nodes_[entry->node].read_only;
}

size_t FakePlatform::LinkCount(const std::string& path) const {
  const Entry* entry = Find(path, true);
  return entry != nullptr ? NamesOf(entry->node) : 0;
}

size_t FakePlatform::NamesOf(size_t node) const {
  size_t n = 0;
  for (const auto& name : names_) n += name.second.node == node ? 1 : 0;
  return n;
}

size_t FakePlatform::KeptChanges(CrashNames names, size_t n, size_t index) {
  switch (names) {
    case kNamesNone:
      return 0;
    case kNamesHalf:
      return n / 2;
    case kNamesAll:
      return n;
    case kNamesOddFolders:
      return index % 2 == 0 ? n : 0;
    case kNamesEvenFolders:
      return index % 2 == 1 ? n : 0;
  }
  return 0;
}

std::string FakePlatform::DataAfterCut(const Node& node, CrashData data) {
  const std::string& durable = node.durable_data;
  const std::string& cached = node.data;
  if (cached == durable) return durable;
  bool appended = cached.size() > durable.size() &&
                  cached.compare(0, durable.size(), durable) == 0;
  switch (data) {
    case kDataDropped:
      return durable;
    case kDataPrefix:
      return appended ? cached.substr(0, (durable.size() + cached.size()) / 2)
                      : cached.substr(0, cached.size() / 2);
    case kDataZeros:
      return appended
                 ? durable + std::string(cached.size() - durable.size(), '\0')
                 : std::string(cached.size(), '\0');
    case kDataWhole:
      return cached;
  }
  return durable;
}

bool FakePlatform::HasUnflushedData() const {
  for (const Node& node : nodes_) {
    if (node.data != node.durable_data) return true;
  }
  return false;
}

void FakePlatform::MakeDurable(const NameChange& change) {
  if (!change.from.empty()) durable_names_.erase(change.from);
  if (!change.to.empty()) durable_names_[change.to] = change.entry;
}

void FakePlatform::PowerCut(CrashState state) {
  std::map<std::string, size_t> pending_in;
  for (const NameChange& change : pending_) pending_in[change.folder]++;
  std::map<std::string, size_t> kept;
  size_t index = 0;
  for (const auto& folder : pending_in) {
    kept[folder.first] = KeptChanges(state.names, folder.second, index++);
  }
  for (const NameChange& change : pending_) {
    size_t& left = kept[change.folder];
    if (left == 0) continue;
    left--;
    MakeDurable(change);
  }
  pending_.clear();
  names_ = durable_names_;
  for (Node& node : nodes_) {
    node.data = node.durable_data = DataAfterCut(node, state.data);
    node.read_only = node.durable_read_only;
  }
  Restart();
}

void FakePlatform::Restart() {
  handles_.clear();
  folders_.clear();
  before_call_ = nullptr;
  holds_.clear();
  for (auto it = mutexes_.begin(); it != mutexes_.end();) {
    it = it->second > 0 ? mutexes_.erase(it) : std::next(it);
  }
  open_keys_.clear();
  boxes_.clear();
  trace_.clear();
  calls_ = fail_at_ = cut_at_ = 0;
  last_error_ = kFileErrorNone;
}

size_t FakePlatform::MutexesHeld() const {
  size_t held = 0;
  for (const auto& m : mutexes_) held += m.second > 0 ? 1 : 0;
  return held;
}

bool FakePlatform::Enter(const char* name, const std::string& path,
                         uint64_t position) {
  calls_++;
  FakeCall call;
  call.name = name;
  call.path = path;
  call.position = position;
  trace_.push_back(call);
  if (before_call_) before_call_(call);
  if (cut_at_ != 0 && calls_ >= cut_at_) return Fail(kFileErrorOther);
  if (calls_ == fail_at_) return Fail(fail_error_);
  return true;
}

bool FakePlatform::Fail(FileError error) {
  last_error_ = error;
  return false;
}

bool FakePlatform::Resolve(const std::string& path, bool follow_last,
                           std::string* key) const {
  std::vector<std::string> parts = Split(path);
  std::string current;
  for (size_t i = 0; i < parts.size(); i++) {
    if (parts[i].empty()) return false;
    current =
        current.empty() ? Fold(parts[i]) : current + "\\" + Fold(parts[i]);
    bool last = i + 1 == parts.size();
    // A link to a link is followed too, a few times at most.
    for (int depth = 0; depth < 8; depth++) {
      auto it = names_.find(current);
      if (it == names_.end()) break;
      const Node& node = nodes_[it->second.node];
      if (node.kind != kLink || (last && !follow_last)) break;
      current = Fold(node.target);
    }
    if (last) break;
    auto it = names_.find(current);
    if (it == names_.end() || nodes_[it->second.node].kind != kFolder) {
      return false;
    }
  }
  *key = current;
  return true;
}

bool FakePlatform::ResolveWithoutLinks(const std::string& path,
                                       std::string* key) const {
  std::string current;
  std::vector<std::string> parts = Split(path);
  if (parts.size() > 1 && parts.back().empty()) parts.pop_back();
  for (const std::string& part : parts) {
    if (part.empty()) return false;
    current = current.empty() ? Fold(part) : current + "\\" + Fold(part);
    auto it = names_.find(current);
    if (it != names_.end() && nodes_[it->second.node].kind == kLink) {
      return false;
    }
  }
  *key = current;
  return true;
}

const FakePlatform::Entry* FakePlatform::Find(const std::string& path,
                                              bool follow_last) const {
  std::string key;
  if (!Resolve(path, follow_last, &key)) return nullptr;
  auto it = names_.find(key);
  return it == names_.end() ? nullptr : &it->second;
}

bool FakePlatform::Place(FolderHandle folder, const std::string& name,
                         bool follow_last, std::string* key) const {
  if (folder == kNoFolder) return Resolve(name, follow_last, key);
  auto held = folders_.find(folder);
  if (held == folders_.end() || name.empty() || Split(name).size() > 1 ||
      name == "." || name == "..") {
    return false;
  }
  auto at = names_.find(held->second.second);
  if (at == names_.end() || at->second.node != held->second.first) {
    return false;
  }
  *key = held->second.second + "\\" + Fold(name);
  auto it = names_.find(*key);
  if (!follow_last || it == names_.end() ||
      nodes_[it->second.node].kind != kLink) {
    return true;
  }
  return Resolve(nodes_[it->second.node].target, true, key);
}

std::string FakePlatform::Shown(FolderHandle folder,
                                const std::string& name) const {
  auto held = folders_.find(folder);
  if (held == folders_.end()) return name;
  auto at = names_.find(held->second.second);
  return (at != names_.end() ? at->second.name : held->second.second) + "\\" +
         name;
}

bool FakePlatform::HeldBelow(const std::string& key) const {
  auto within = [&](const std::string& k) {
    return k == key || k.compare(0, key.size() + 1, key + "\\") == 0;
  };
  for (const auto& folder : folders_) {
    if (within(folder.second.second)) return true;
  }
  for (const auto& name : names_) {
    if (!within(name.first)) continue;
    for (const auto& h : handles_) {
      if (h.second.node == name.second.node) return true;
    }
  }
  return false;
}

int FakePlatform::MoveAsOther(const std::string& from, const std::string& to) {
  std::string from_key, to_key;
  if (!Resolve(from, false, &from_key) || names_.count(from_key) == 0 ||
      !Resolve(to, false, &to_key) || !ParentIsFolder(to_key) ||
      names_.count(to_key) != 0 || HeldBelow(from_key)) {
    return 0;
  }
  const int kAll = kRead | kWrite | kDelete;
  if (!SharingAllows(names_[from_key].node, kDelete, kAll)) return 0;
  // Everything below a moved folder moves with it.
  std::map<std::string, Entry> moved;
  for (auto it = names_.begin(); it != names_.end();) {
    const std::string& k = it->first;
    if (k == from_key ||
        k.compare(0, from_key.size() + 1, from_key + "\\") == 0) {
      Entry entry = it->second;
      entry.name = to + entry.name.substr(from.size());
      moved[to_key + k.substr(from_key.size())] = entry;
      durable_names_.erase(k);
      it = names_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& m : moved) {
    names_[m.first] = m.second;
    durable_names_[m.first] = m.second;
  }
  return 1;
}

int FakePlatform::RemoveAsOther(const std::string& path) {
  std::string key;
  if (!Resolve(path, false, &key) || names_.count(key) == 0 || HeldBelow(key)) {
    return 0;
  }
  const int kAll = kRead | kWrite | kDelete;
  if (!SharingAllows(names_[key].node, kDelete, kAll)) return 0;
  for (auto it = names_.begin(); it != names_.end();) {
    bool below = it->first == key ||
                 it->first.compare(0, key.size() + 1, key + "\\") == 0;
    if (below) durable_names_.erase(it->first);
    it = below ? names_.erase(it) : std::next(it);
  }
  return 1;
}

bool FakePlatform::ParentIsFolder(const std::string& key) const {
  auto it = names_.find(Parent(key));
  return it != names_.end() && nodes_[it->second.node].kind == kFolder;
}

bool FakePlatform::SharingAllows(size_t node, int access, int share) {
  auto conflicts = [&](const Handle& h) {
    return h.node == node &&
           ((access & ~h.share) != 0 || (h.access & ~share) != 0);
  };
  for (const auto& h : handles_) {
    if (conflicts(h.second)) return false;
  }
  for (const Handle& h : holds_) {
    if ((h.until_ms == 0 || clock_ms_ < h.until_ms) && conflicts(h)) {
      return false;
    }
  }
  return true;
}

FileHandle FakePlatform::NewHandle(size_t node, int access, int share,
                                   const std::string& path) {
  Handle h;
  h.node = node;
  h.access = access;
  h.share = share;
  h.path = path;
  handles_[next_handle_] = h;
  return next_handle_++;
}

FakePlatform::Handle* FakePlatform::HandleOf(FileHandle file) {
  auto it = handles_.find(file);
  return it == handles_.end() ? nullptr : &it->second;
}

FileHandle FakePlatform::OpenFileForRead(FolderHandle folder,
                                         const char* name) {
  std::string path = Shown(folder, name);
  if (!Enter("OpenFileForRead", path)) return kInvalidFileHandle;
  std::string key;
  const Entry* entry = nullptr;
  // In a held folder the name is opened as itself: never a link's target.
  bool as_itself = folder != kNoFolder;
  if (Place(folder, name, !as_itself, &key) && names_.count(key) != 0) {
    entry = &names_[key];
  }
  if (entry == nullptr) return Fail(kFileErrorOther), kInvalidFileHandle;
  if (as_itself &&
      (nodes_[entry->node].kind == kLink || NamesOf(entry->node) > 1)) {
    return Fail(kFileErrorOther), kInvalidFileHandle;
  }
  // Windows answers access denied for a folder opened as a file.
  if (nodes_[entry->node].kind != kFile ||
      !SharingAllows(entry->node, kRead, kRead)) {
    return Fail(kFileErrorBusy), kInvalidFileHandle;
  }
  return NewHandle(entry->node, kRead, kRead, path);
}

FileHandle FakePlatform::OpenOwnExecutable() {
  if (!Enter("OpenOwnExecutable", own_path_)) return kInvalidFileHandle;
  const Entry* entry = Find(own_path_, true);
  if (entry == nullptr || !SharingAllows(entry->node, kRead, kRead)) {
    return Fail(kFileErrorOther), kInvalidFileHandle;
  }
  return NewHandle(entry->node, kRead, kRead, own_path_);
}

int FakePlatform::IsOwnImage(FileHandle file) {
  Handle* h = HandleOf(file);
  if (!Enter("IsOwnImage", h ? h->path : "")) return 0;
  return h != nullptr && h->node == own_node_;
}

FileHandle FakePlatform::CreateNewFile(FolderHandle folder, const char* name) {
  std::string path = Shown(folder, name);
  if (!Enter("CreateNewFile", path)) return kInvalidFileHandle;
  std::string key;
  if (!Place(folder, name, false, &key) || !ParentIsFolder(key)) {
    return Fail(kFileErrorOther), kInvalidFileHandle;
  }
  if (names_.count(key) != 0) return Fail(kFileErrorExists), kInvalidFileHandle;
  size_t node = nodes_.size();
  nodes_.emplace_back();
  std::string shown = names_[Parent(key)].name + "\\" + Split(path).back();
  names_[key] = Entry{shown, node};
  pending_.push_back(NameChange{Parent(key), "", key, names_[key]});
  return NewHandle(node, kWrite, 0, path);
}

uint32_t FakePlatform::ReadFileBytes(FileHandle file, void* buffer,
                                     uint32_t n) {
  Handle* h = HandleOf(file);
  if (!Enter("ReadFileBytes", h ? h->path : "", h ? h->position : 0)) return 0;
  if (h == nullptr || (h->access & kRead) == 0) return Fail(kFileErrorOther);
  const std::string& data = nodes_[h->node].data;
  uint64_t left = h->position < data.size() ? data.size() - h->position : 0;
  uint32_t count = left < n ? static_cast<uint32_t>(left) : n;
  if (count > 0) memcpy(buffer, data.data() + h->position, count);
  h->position += count;
  return count;
}

uint32_t FakePlatform::WriteFileBytes(FileHandle file, const void* buffer,
                                      uint32_t n) {
  Handle* h = HandleOf(file);
  if (!Enter("WriteFileBytes", h ? h->path : "", h ? h->position : 0)) return 0;
  if (h == nullptr || (h->access & kWrite) == 0) return Fail(kFileErrorOther);
  std::string& data = nodes_[h->node].data;
  if (data.size() < h->position + n) data.resize(h->position + n);
  memcpy(&data[h->position], buffer, n);
  h->position += n;
  return n;
}

uint32_t FakePlatform::SetFilePosition(FileHandle file, uint32_t position) {
  Handle* h = HandleOf(file);
  if (!Enter("SetFilePosition", h ? h->path : "", position) || h == nullptr ||
      position >= 0x80000000u) {
    return kInvalidFileValue;
  }
  h->position = position;
  return position;
}

uint64_t FakePlatform::GetFileLength(FileHandle file) {
  Handle* h = HandleOf(file);
  if (!Enter("GetFileLength", h ? h->path : "") || h == nullptr) {
    return kInvalidFileLength;
  }
  return nodes_[h->node].data.size();
}

void FakePlatform::CloseFileHandle(FileHandle file) {
  Handle* h = HandleOf(file);
  Enter("CloseFileHandle", h ? h->path : "");
  handles_.erase(file);  // a handle goes, whatever else fails
}

int FakePlatform::FlushFileToDisk(FileHandle file) {
  Handle* h = HandleOf(file);
  if (!Enter("FlushFileToDisk", h ? h->path : "")) return 0;
  if (h == nullptr || (h->access & kWrite) == 0) return Fail(kFileErrorOther);
  Node& node = nodes_[h->node];
  node.durable_data = node.data;
  node.durable_read_only = node.read_only;
  return 1;
}

FileError FakePlatform::ReplaceRefusal(size_t node, bool replace_read_only) {
  const Node& old = nodes_[node];
  const int kAll = kRead | kWrite | kDelete;
  // A link is replaced itself; a folder never; a read-only file only when
  // asked to, and not when it has other names.
  if (old.kind == kLink) return kFileErrorNone;
  if (old.kind == kFolder ||
      (old.read_only && (!replace_read_only || NamesOf(node) > 1))) {
    return kFileErrorOther;
  }
  return SharingAllows(node, kDelete, kAll) ? kFileErrorNone : kFileErrorBusy;
}

int FakePlatform::MoveFileOver(FolderHandle folder, const char* from,
                               const char* to, bool replace_read_only) {
  if (!Enter("MoveFileOver", Shown(folder, to))) return 0;
  std::string from_key, to_key;
  if (!Place(folder, from, false, &from_key) || names_.count(from_key) == 0 ||
      nodes_[names_[from_key].node].kind != kFile ||
      !Place(folder, to, false, &to_key) || !ParentIsFolder(to_key)) {
    return Fail(kFileErrorOther);
  }
  Entry moved = names_[from_key];
  // The move opens both for deleting: every other handle must share that.
  const int kAll = kRead | kWrite | kDelete;
  if (!SharingAllows(moved.node, kDelete, kAll)) return Fail(kFileErrorBusy);
  auto target = names_.find(to_key);
  if (target != names_.end() && target->second.node != moved.node) {
    FileError refusal = ReplaceRefusal(target->second.node, replace_read_only);
    if (refusal != kFileErrorNone) return Fail(refusal);
    // As Windows must: the attribute goes from the file before its name
    // does, and from every other name of it.
    nodes_[target->second.node].read_only = false;
  }
  moved.name = names_[Parent(to_key)].name + "\\" + Split(to).back();
  names_.erase(from_key);
  names_[to_key] = moved;
  pending_.push_back(NameChange{Parent(to_key), from_key, to_key, moved});
  return 1;
}

FolderHandle FakePlatform::OpenFolder(FolderHandle folder, const char* name) {
  if (!Enter("OpenFolder", Shown(folder, name))) return kNoFolder;
  // Below a held folder a link is never followed; a path's links are.
  std::string key;
  if (!Place(folder, name, folder == kNoFolder, &key) ||
      names_.count(key) == 0 || nodes_[names_[key].node].kind != kFolder) {
    return Fail(kFileErrorOther), kNoFolder;
  }
  folders_[next_handle_] = std::make_pair(names_[key].node, key);
  return next_handle_++;
}

FolderHandle FakePlatform::OpenFolderOf(const char* path) {
  std::string folder = Split(path).size() > 1 ? Parent(Fold(path)) : "";
  return OpenFolder(kNoFolder, folder.c_str());
}

FolderHandle FakePlatform::OpenFolderWithoutLinks(const char* path) {
  if (!Enter("OpenFolderWithoutLinks", path)) return kNoFolder;
  std::string key;
  if (!ResolveWithoutLinks(path, &key) || names_.count(key) == 0 ||
      nodes_[names_[key].node].kind != kFolder) {
    return Fail(kFileErrorOther), kNoFolder;
  }
  folders_[next_handle_] = std::make_pair(names_[key].node, key);
  return next_handle_++;
}

void FakePlatform::CloseFolder(FolderHandle folder) {
  Enter("CloseFolder", Shown(folder, ""));
  folders_.erase(folder);
}

int FakePlatform::FlushFolder(FolderHandle folder) {
  if (!Enter("FlushFolder", Shown(folder, ""))) return 0;
  auto held = folders_.find(folder);
  if (held == folders_.end()) return Fail(kFileErrorOther);
  // This folder's name changes become durable, in order; no other folder's,
  // nor the data of the files they name.
  const std::string& key = held->second.second;
  std::vector<NameChange> left;
  for (const NameChange& change : pending_) {
    if (change.folder == key) {
      MakeDurable(change);
    } else {
      left.push_back(change);
    }
  }
  pending_.swap(left);
  return 1;
}

int FakePlatform::ListFolder(FolderHandle folder, FolderEntryFn fn,
                             void* context) {
  if (!Enter("ListFolder", Shown(folder, ""))) return 0;
  auto held = folders_.find(folder);
  if (held == folders_.end()) return Fail(kFileErrorOther);
  std::string prefix = held->second.second + "\\";
  std::vector<std::pair<std::string, PathKind>> listed;
  for (const auto& name : names_) {
    if (name.first.compare(0, prefix.size(), prefix) != 0 ||
        Split(name.first.substr(prefix.size())).size() > 1) {
      continue;
    }
    NodeKind kind = nodes_[name.second.node].kind;
    listed.emplace_back(Split(name.second.name).back(),
                        kind == kFolder ? kPathFolder
                        : kind == kLink ? kPathLink
                                        : kPathFile);
  }
  // Listed from a copy: fn may change the folder.
  for (const auto& entry : listed) {
    if (fn(context, entry.first.c_str(), entry.second) != 0) break;
  }
  return 1;
}

int FakePlatform::RemoveFile(FolderHandle folder, const char* name) {
  if (!Enter("RemoveFile", Shown(folder, name))) return 0;
  std::string key;
  if (!Place(folder, name, false, &key) || names_.count(key) == 0) {
    return Fail(kFileErrorOther);
  }
  size_t node = names_[key].node;
  if (nodes_[node].kind == kFolder ||
      !SharingAllows(node, kDelete, kRead | kWrite | kDelete)) {
    return Fail(kFileErrorBusy);
  }
  // A read-only file goes too, but not one with other names, which would
  // see its attribute change on a system that must clear it first.
  if (nodes_[node].read_only && NamesOf(node) > 1) {
    return Fail(kFileErrorOther);
  }
  nodes_[node].read_only = false;  // cleared first, as on Windows
  names_.erase(key);
  pending_.push_back(NameChange{Parent(key), key, "", Entry()});
  return 1;
}

PathKind FakePlatform::GetPathKind(FolderHandle folder, const char* name) {
  if (!Enter("GetPathKind", Shown(folder, name))) return kPathOther;
  std::string key;
  if (!Place(folder, name, false, &key)) return kPathMissing;
  auto it = names_.find(key);
  if (it == names_.end()) return kPathMissing;
  NodeKind kind = nodes_[it->second.node].kind;
  return kind == kFolder ? kPathFolder : kind == kLink ? kPathLink : kPathFile;
}

const FakePlatform::Entry* FakePlatform::FindIn(FolderHandle folder,
                                                const char* name) const {
  std::string key;
  if (!Place(folder, name, false, &key)) return nullptr;
  auto it = names_.find(key);
  return it == names_.end() ? nullptr : &it->second;
}

int FakePlatform::CanMoveOver(FolderHandle folder, const char* name,
                              bool replace_read_only) {
  if (!Enter("CanMoveOver", Shown(folder, name))) return 0;
  const Entry* entry = FindIn(folder, name);
  if (entry == nullptr) return 1;
  FileError refusal = ReplaceRefusal(entry->node, replace_read_only);
  return refusal == kFileErrorNone ? 1 : Fail(refusal);
}

int FakePlatform::MakeExecutable(const char* path) {
  // Windows' files carry no such bit; only the call is counted.
  if (!Enter("MakeExecutable", path)) return 0;
  return Find(path, false) != nullptr ? 1 : Fail(kFileErrorOther);
}

void FakePlatform::Sleep(uint32_t milliseconds) {
  Enter("Sleep", "");
  clock_ms_ += milliseconds;
}

void* FakePlatform::AllocatePages(size_t size) {
  if (!Enter("AllocatePages", "") || size == 0) return nullptr;
  void* pages = malloc(size);
  if (pages == nullptr) return nullptr;
  pages_held_ += size;
  if (pages_held_ > peak_pages_) peak_pages_ = pages_held_;
  return pages;
}

void FakePlatform::FreePages(void* pages, size_t size) {
  Enter("FreePages", "");
  if (pages == nullptr) return;
  free(pages);
  pages_held_ -= size;
}

MutexHandle FakePlatform::CreateNamedMutex(const char* name,
                                           uint32_t* last_error) {
  if (!Enter("CreateNamedMutex", name)) {
    *last_error = 2;  // ERROR_FILE_NOT_FOUND
    return kNoMutex;
  }
  MutexHandle handle = next_mutex_++;
  if (mutexes_.count(name) != 0) {
    *last_error = kErrorAlreadyExists;
    return handle;  // a handle to the mutex another one holds
  }
  mutexes_[name] = handle;
  *last_error = 0;
  return handle;
}

void FakePlatform::CloseNamedMutex(MutexHandle mutex) {
  Enter("CloseNamedMutex", "");
  for (auto it = mutexes_.begin(); it != mutexes_.end(); ++it) {
    if (it->second == mutex) {
      mutexes_.erase(it);
      return;
    }
  }
}

int32_t FakePlatform::OpenMachineRegistryKey(const char* path,
                                             RegistryKey* key) {
  if (!Enter("OpenMachineRegistryKey", path)) return 2;
  if (registry_.count(Fold(path)) == 0) return 2;  // ERROR_FILE_NOT_FOUND
  RegistryKey k = static_cast<RegistryKey>(open_keys_.size() + 1);
  open_keys_[k] = Fold(path);
  *key = k;
  return 0;
}

int32_t FakePlatform::QueryRegistryValue(RegistryKey key, const char* name,
                                         uint32_t* type, uint8_t* data,
                                         uint32_t* size) {
  if (!Enter("QueryRegistryValue", name)) return 2;
  auto k = open_keys_.find(key);
  if (k == open_keys_.end()) return 6;  // ERROR_INVALID_HANDLE
  const auto& values = registry_[k->second];
  auto v = values.find(Fold(name));
  if (v == values.end()) return 2;
  const std::string& bytes = v->second.second;
  *type = v->second.first;
  if (bytes.size() > *size) {
    *size = static_cast<uint32_t>(bytes.size());
    return kRegistryMoreData;
  }
  memcpy(data, bytes.data(), bytes.size());
  *size = static_cast<uint32_t>(bytes.size());
  return 0;
}

void FakePlatform::CloseRegistryKey(RegistryKey key) {
  Enter("CloseRegistryKey", "");
  open_keys_.erase(key);
}

int FakePlatform::ShowMessageBox(const char* text, const char*,
                                 uint32_t style) {
  if (!Enter("ShowMessageBox", text)) return 0;
  boxes_.push_back(FakeBox{text, style});
  return style == kBoxQuestion ? answer_ : 1;  // IDOK
}

void FakePlatform::HardenProcess() { Enter("HardenProcess", ""); }
