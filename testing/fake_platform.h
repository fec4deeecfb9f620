// A Platform kept in memory, for the tests: folders, files and links, the
// registry, named mutexes and message boxes. It follows Windows' rules where
// the updater relies on them: names are compared without regard to case;
// share modes decide which opens, moves and deletes a held file allows; a
// read-only file is replaced or deleted only as the contract allows (never
// when it has other names); a link in a folder part of a path is followed,
// the last part's only when the call follows links. One file may have
// several names (hard links). The program's own file is known by its name
// and by the file it was started from, which another name may take.
//
// It also keeps what a power cut would leave. What FlushFileToDisk made
// durable of a file's data, and what FlushFolder made durable of one
// folder's names, stays; the rest lives in the cache, and a power cut keeps
// of it what a real disk may (CrashState). Every call is counted and
// traced, so that a test can fail any one of them, or cut the power there.
#ifndef TESTING_FAKE_PLATFORM_H_
#define TESTING_FAKE_PLATFORM_H_

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

// One call made through the fake: its name, the path it named (for calls
// on a handle, the path the handle was opened with), and for reads and
// seeks the position they started at or asked for.
struct FakeCall {
  std::string name;
  std::string path;
  uint64_t position = 0;
};

// What a power cut keeps of what was never made durable, as a real disk
// may. Of each file's unflushed data: nothing, the first half of it (ext4
// writes data back in order), its length with zeros in it (NTFS extends the
// length in its journal before the data lands), or all of it. Of each
// folder's unflushed name changes (creates, moves, removals), an in-order
// prefix, as a journal commits them: none, the first half, all, or all in
// every other folder (in the order of their names) and none in the rest.
enum CrashData { kDataDropped, kDataPrefix, kDataZeros, kDataWhole };
enum CrashNames {
  kNamesNone,
  kNamesHalf,
  kNamesAll,
  kNamesOddFolders,
  kNamesEvenFolders
};
struct CrashState {
  CrashNames names = kNamesNone;
  CrashData data = kDataDropped;
};

// A message box the fake showed.
struct FakeBox {
  std::string text;
  uint32_t style = 0;
};

class FakePlatform final : public Platform {
 public:
  FakePlatform();
  ~FakePlatform();

  // The world. Paths are Windows paths ("C:\Game\data1.arc"); what these
  // make is durable at once.
  void AddFolder(const std::string& path);
  void AddFile(const std::string& path, const std::string& data,
               bool read_only = false);
  void AddLink(const std::string& path, const std::string& target);
  // A second name for the file at existing (a hard link); links in
  // existing's path are followed.
  void AddHardLink(const std::string& path, const std::string& existing);
  // The updater's own file: the program was started from it, by that name,
  // which OpenOwnExecutable opens (whatever stands there by then).
  void SetOwnExecutable(const std::string& path, const std::string& data);
  void SetRegistryValue(const std::string& key, const std::string& name,
                        uint32_t type, const std::string& bytes);
  // Another process holds the file open, sharing reading only, until the
  // fake clock has gone on for the given time (0: for good).
  void HoldFile(const std::string& path, uint32_t milliseconds);
  // Every such hold ends now.
  void ReleaseFiles() { holds_.clear(); }
  // Another process holds the named mutex.
  void HoldMutex(const std::string& name);
  // Another process moves or removes a name, as Windows lets it: not a
  // file held without sharing deletion, nor a folder that this process
  // holds (OpenFolder) or holds anything in. Nonzero when done; durable at
  // once.
  int MoveAsOther(const std::string& from, const std::string& to);
  int RemoveAsOther(const std::string& path);
  // Runs before every later call, once it is counted: another process
  // acting at that moment (MoveAsOther, AddLink, ...), never the fake's own
  // calls. Cleared by Restart.
  void SetBeforeCall(std::function<void(const FakeCall& call)> hook) {
    before_call_ = hook;
  }
  // What the question box answers (kAnswerYes unless set).
  void SetAnswer(int answer) { answer_ = answer; }

  // What is there now. Snapshot gives every file, folder and link under
  // folder, relative name -> contents ("<folder>", "<link to ...>").
  std::map<std::string, std::string> Snapshot(const std::string& folder) const;
  PathKind KindOf(const std::string& path) const;
  std::string DataOf(const std::string& path) const;
  // Of the file at path, links followed: its read-only attribute, and how
  // many names it has.
  bool IsReadOnly(const std::string& path) const;
  size_t LinkCount(const std::string& path) const;

  // Faults. Call n (counted from 1) fails once with the given error, and
  // changes nothing; or the power is cut at call n: it and every later call
  // fail and change nothing, until PowerCut() drops what was not durable.
  void FailCall(uint64_t n, FileError error) {
    fail_at_ = n;
    fail_error_ = error;
  }
  void CutPowerAtCall(uint64_t n) { cut_at_ = n; }
  // The power cut itself: durable data and names remain, and of the rest
  // what state keeps (by default nothing); every handle and mutex is gone,
  // as with the process. The fake works again after.
  void PowerCut(CrashState state = CrashState());
  // A new process on the same disk: handles and mutexes gone, the cache
  // kept, counters and faults cleared.
  void Restart();

  // Whether a power cut now has anything to choose: a folder's name change
  // or a file's data that was never made durable.
  bool HasUnflushedNames() const { return !pending_.empty(); }
  bool HasUnflushedData() const;

  uint64_t calls() const { return calls_; }
  const std::vector<FakeCall>& trace() const { return trace_; }
  const std::vector<FakeBox>& boxes() const { return boxes_; }
  uint64_t clock_ms() const { return clock_ms_; }
  // What the process still holds: open files, pages, mutexes.
  size_t OpenHandles() const { return handles_.size(); }
  size_t PagesHeld() const { return pages_held_; }
  size_t PeakPages() const { return peak_pages_; }
  size_t MutexesHeld() const;

  FileHandle OpenFileForRead(FolderHandle folder, const char* name) override;
  FileHandle OpenOwnExecutable() override;
  int IsOwnImage(FileHandle file) override;
  FileHandle CreateNewFile(FolderHandle folder, const char* name) override;
  uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t n) override;
  uint32_t WriteFileBytes(FileHandle file, const void* buffer,
                          uint32_t n) override;
  uint32_t SetFilePosition(FileHandle file, uint32_t position) override;
  uint64_t GetFileLength(FileHandle file) override;
  void CloseFileHandle(FileHandle file) override;
  int FlushFileToDisk(FileHandle file) override;
  FolderHandle OpenFolder(FolderHandle folder, const char* name) override;
  FolderHandle OpenFolderOf(const char* path) override;
  FolderHandle OpenFolderWithoutLinks(const char* path) override;
  void CloseFolder(FolderHandle folder) override;
  int FlushFolder(FolderHandle folder) override;
  int ListFolder(FolderHandle folder, FolderEntryFn fn, void* context) override;
  int MoveFileOver(FolderHandle folder, const char* from, const char* to,
                   bool replace_read_only) override;
  int RemoveFile(FolderHandle folder, const char* name) override;
  PathKind GetPathKind(FolderHandle folder, const char* name) override;
  int CanMoveOver(FolderHandle folder, const char* name,
                  bool replace_read_only) override;
  FileError LastFileError() override { return last_error_; }
  int MakeExecutable(const char* path) override;
  void Sleep(uint32_t milliseconds) override;
  void* AllocatePages(size_t size) override;
  void FreePages(void* pages, size_t size) override;
  MutexHandle CreateNamedMutex(const char* name, uint32_t* last_error) override;
  void CloseNamedMutex(MutexHandle mutex) override;
  int32_t OpenMachineRegistryKey(const char* path, RegistryKey* key) override;
  int32_t QueryRegistryValue(RegistryKey key, const char* name, uint32_t* type,
                             uint8_t* data, uint32_t* size) override;
  void CloseRegistryKey(RegistryKey key) override;
  int ShowMessageBox(const char* text, const char* caption,
                     uint32_t style) override;
  void HardenProcess() override;

 private:
  enum NodeKind { kFile, kFolder, kLink };
  struct Node {
    NodeKind kind = kFile;
    std::string data, durable_data;
    bool read_only = false, durable_read_only = false;
    std::string target;  // of a link
  };
  // A name in a folder: as it was given, and the node it names.
  struct Entry {
    std::string name;
    size_t node = 0;
  };
  enum Access { kRead = 1, kWrite = 2, kDelete = 4 };
  struct Handle {
    size_t node = 0;
    int access = 0, share = 0;
    uint64_t position = 0;
    std::string path;
    uint64_t until_ms = 0;  // another process's hold: when it ends
  };

  // Counts and traces a call; false when it must fail (set to fail, or
  // after the power cut), with last_error_ set.
  bool Enter(const char* name, const std::string& path, uint64_t position = 0);
  bool Fail(FileError error);
  // The key of the name path resolves to: folder parts' links followed,
  // the last part's too when follow_last. False when a folder part is
  // missing or not a folder.
  bool Resolve(const std::string& path, bool follow_last,
               std::string* key) const;
  // Resolve, but false when any part of path is a link.
  bool ResolveWithoutLinks(const std::string& path, std::string* key) const;
  // How many names the node has.
  size_t NamesOf(size_t node) const;
  // Why a move with replace_read_only may not replace the node, or
  // kFileErrorNone.
  FileError ReplaceRefusal(size_t node, bool replace_read_only);
  const Entry* Find(const std::string& path, bool follow_last) const;
  // The key of a name in a held folder, or of a path with kNoFolder, as
  // Resolve; false for a folder no longer held or at its name, or a name
  // that is not one part.
  const Entry* FindIn(FolderHandle folder, const char* name) const;
  bool Place(FolderHandle folder, const std::string& name, bool follow_last,
             std::string* key) const;
  // The name a call shows in the trace: the path, or the folder's and the
  // name.
  std::string Shown(FolderHandle folder, const std::string& name) const;
  // True when this process holds the folder at key, or anything below it.
  bool HeldBelow(const std::string& key) const;
  bool ParentIsFolder(const std::string& key) const;
  bool SharingAllows(size_t node, int access, int share);
  FileHandle NewHandle(size_t node, int access, int share,
                       const std::string& path);
  Handle* HandleOf(FileHandle file);
  size_t AddNode(NodeKind kind, const std::string& data);
  void AddName(const std::string& path, size_t node);

  std::vector<Node> nodes_;
  std::map<std::string, Entry> names_, durable_names_;
  std::map<FileHandle, Handle> handles_;
  // Held folders: the node and the key it had when opened, which cannot
  // change while it is held.
  std::map<FolderHandle, std::pair<size_t, std::string>> folders_;
  std::function<void(const FakeCall& call)> before_call_;
  std::vector<Handle> holds_;
  // A name change not yet durable: the folder it was made in (the key of
  // its name), the name it takes away (none for a create) and the name it
  // gives the entry (none for a removal).
  struct NameChange {
    std::string folder, from, to;
    Entry entry;
  };
  void MakeDurable(const NameChange& change);
  // How many of a folder's n pending changes a power cut keeps; the
  // folder is the index-th (from 0) with changes pending.
  static size_t KeptChanges(CrashNames names, size_t n, size_t index);
  static std::string DataAfterCut(const Node& node, CrashData data);
  std::vector<NameChange> pending_;
  FileHandle next_handle_ = 100;
  std::string own_path_;
  size_t own_node_ = 0;
  std::map<std::string, std::map<std::string, std::pair<uint32_t, std::string>>>
      registry_;
  std::map<RegistryKey, std::string> open_keys_;
  std::map<std::string, MutexHandle> mutexes_;  // name -> holder
  MutexHandle next_mutex_ = 1;
  std::vector<FakeBox> boxes_;
  int answer_ = kAnswerYes;
  uint64_t clock_ms_ = 0;
  size_t pages_held_ = 0, peak_pages_ = 0;
  uint64_t calls_ = 0, fail_at_ = 0, cut_at_ = 0;
  FileError fail_error_ = kFileErrorOther;
  FileError last_error_ = kFileErrorNone;
  std::vector<FakeCall> trace_;
};

#endif  // TESTING_FAKE_PLATFORM_H_
