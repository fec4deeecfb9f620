#include "testing/platform_contract.h"

#include <string.h>

namespace {

// The scene's folder, held through the Platform for the length of a case.
class HeldRoot {
 public:
  HeldRoot(Platform* p, ContractScene* scene)
      : p_(p), folder_(p->OpenFolder(kNoFolder, scene->Root().c_str())) {}
  ~HeldRoot() {
    if (folder_ != kNoFolder) p_->CloseFolder(folder_);
  }
  HeldRoot(const HeldRoot&) = delete;
  HeldRoot& operator=(const HeldRoot&) = delete;
  FolderHandle get() const { return folder_; }

 private:
  Platform* p_;
  FolderHandle folder_;
};

// Collects what a case found wrong; the first thing is enough.
class Check {
 public:
  void That(bool ok, const std::string& what) {
    if (!ok && why_.empty()) why_ = what;
  }
  // A setting-up step; what the case found after a failed one means nothing.
  void Setup(bool ok, const std::string& what) {
    That(ok, "the scene could not be set up: " + what);
  }
  std::string Why() const { return why_; }

 private:
  std::string why_;
};

std::string Expected(const std::string& what, const std::string& got) {
  return what + ", found \"" + got + "\"";
}

// A file created new, written and closed through the Platform; false when
// any step fails.
bool CreateThrough(Platform* p, FolderHandle folder, const char* name,
                   const char* data) {
  FileHandle file = p->CreateNewFile(folder, name);
  if (file == kInvalidFileHandle) return false;
  uint32_t n = static_cast<uint32_t>(strlen(data));
  bool written = p->WriteFileBytes(file, data, n) == n;
  p->CloseFileHandle(file);
  return written;
}

// Create-new fails, as something being there, on a file, a link to a file,
// a link to nothing and a folder; none is followed or changed.
std::string CreateNewFailsOnAnything(Platform* p, ContractScene* scene,
                                     int differences) {
  Check check;
  check.Setup(scene->MakeFile("file", "old", false), "file");
  check.Setup(scene->MakeFile("target", "target", false), "target");
  check.Setup(scene->MakeLink("link", "target"), "link");
  check.Setup(scene->MakeLink("dangling", "nowhere"), "dangling");
  check.Setup(scene->MakeFolder("folder"), "folder");
  HeldRoot root(p, scene);
  // Without it every name would be one in the working folder.
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  for (const char* name : {"file", "link", "dangling", "folder"}) {
    FileHandle file = p->CreateNewFile(root.get(), name);
    if (file != kInvalidFileHandle) p->CloseFileHandle(file);
    check.That(file == kInvalidFileHandle,
               std::string("a new file was created over ") + name);
    check.That(
        name == std::string("folder") || p->LastFileError() == kFileErrorExists,
        std::string("not kFileErrorExists at ") + name);
  }
  check.That(scene->Read("file") == "old", "the file was changed");
  check.That(scene->Read("target") == "target", "the link was followed");
  check.That(scene->Read("nowhere") == "<missing>",
             "the dangling link was followed");
  for (const char* name : {"link", "dangling"}) {
    PathKind kind = p->GetPathKind(root.get(), name);
    bool unseen = (differences & kDanglingLinkUnseen) != 0 &&
                  name == std::string("dangling");
    check.That(kind == (unseen ? kPathMissing : kPathLink),
               std::string(name) + " seen as " + std::to_string(kind));
  }
  return check.Why();
}

// A move over a link replaces the link itself; what it led to is left as
// it was.
std::string MoveReplacesALinkItself(Platform* p, ContractScene* scene, int) {
  Check check;
  check.Setup(scene->MakeFile("target", "target", false), "target");
  check.Setup(scene->MakeLink("link", "target"), "link");
  check.Setup(scene->MakeFile("new", "new", false), "new");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  check.That(p->MoveFileOver(root.get(), "new", "link", false) != 0,
             "move failed");
  check.That(p->GetPathKind(root.get(), "link") == kPathFile,
             "the link is still there");
  check.That(scene->Read("link") == "new",
             Expected("link: new", scene->Read("link")));
  check.That(scene->Read("target") == "target",
             Expected("target unchanged", scene->Read("target")));
  return check.Why();
}

// A read-only file, or a folder, is never moved over; both names stay. A
// read-only file is, when the move may replace one and it has no other
// name; one with other names is refused all the same, and keeps its
// attribute and its bytes under them.
std::string MoveOverReadOnlyOrFolder(Platform* p, ContractScene* scene, int) {
  Check check;
  check.Setup(scene->MakeFile("read-only", "old", true), "read-only");
  check.Setup(scene->MakeFile("shared", "shared", true), "shared");
  check.Setup(scene->MakeHardLink("other-name", "shared"), "other-name");
  check.Setup(scene->MakeFolder("folder"), "folder");
  check.Setup(scene->MakeFile("new", "new", false), "new");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  check.That(p->MoveFileOver(root.get(), "new", "read-only", false) == 0 &&
                 p->LastFileError() == kFileErrorOther,
             "a read-only file was replaced, or not refused as such");
  check.That(p->CanMoveOver(root.get(), "read-only", false) == 0,
             "a read-only file can be moved over");
  check.That(scene->Read("read-only") == "old" && scene->Read("new") == "new",
             Expected("both as they were", scene->Read("read-only")));
  check.That(p->MoveFileOver(root.get(), "new", "folder", true) == 0,
             "a folder was replaced");
  check.That(p->CanMoveOver(root.get(), "folder", true) == 0 &&
                 p->LastFileError() == kFileErrorOther,
             "a folder can be moved over");
  check.That(p->GetPathKind(root.get(), "folder") == kPathFolder,
             "the folder is gone");
  check.That(p->CanMoveOver(root.get(), "shared", true) == 0 &&
                 p->LastFileError() == kFileErrorOther,
             "a read-only file with another name can be moved over");
  check.That(p->MoveFileOver(root.get(), "new", "shared", true) == 0,
             "a read-only file with another name was replaced");
  check.That(
      scene->IsReadOnly("other-name") && scene->Read("other-name") == "shared",
      "the file's other name lost its attribute, or its bytes");
  check.That(p->CanMoveOver(root.get(), "read-only", true) != 0,
             "a read-only file cannot be moved over when it may");
  check.That(p->MoveFileOver(root.get(), "new", "read-only", true) != 0,
             "a read-only file was refused where it may be replaced");
  check.That(scene->Read("read-only") == "new",
             Expected("new", scene->Read("read-only")));
  return check.Why();
}

// A file another process holds open, sharing reading only, may be read but
// not moved over or removed; the updater sees it busy until it is let go.
std::string HeldFileSharesReadingOnly(Platform* p, ContractScene* scene,
                                      int differences) {
  Check check;
  check.Setup(scene->MakeFile("held", "old", false), "held");
  check.Setup(scene->MakeFile("new", "new", false), "new");
  check.Setup(scene->MakeFile("other", "other", false), "other");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  check.Setup(scene->HoldAsOther("held"), "hold");
  check.Setup(scene->HoldAsOther("other"), "hold other");
  FileHandle read = p->OpenFileForRead(root.get(), "held");
  check.That(read != kInvalidFileHandle, "a held file cannot be read");
  if (read != kInvalidFileHandle) p->CloseFileHandle(read);
  check.That(p->CanMoveOver(root.get(), "held", true) == 0 &&
                 p->LastFileError() == kFileErrorBusy,
             "a held file is free");
  check.That(p->MoveFileOver(root.get(), "new", "held", true) == 0 &&
                 p->LastFileError() == kFileErrorBusy,
             "a held file was moved over, or not as busy");
  int removed = p->RemoveFile(root.get(), "other");
  if ((differences & kHeldFileRemovable) != 0) {
    check.That(removed != 0, "a held file was kept from removal here");
  } else {
    check.That(removed == 0 && p->LastFileError() == kFileErrorBusy,
               "a held file was removed, or not as busy");
  }
  scene->ReleaseOther();
  check.That(scene->Read("held") == "old", "the held file changed");
  check.That(p->CanMoveOver(root.get(), "held", true) != 0,
             "let go, still busy");
  check.That(p->MoveFileOver(root.get(), "new", "held", true) != 0,
             "let go, still refused");
  check.That(scene->Read("held") == "new",
             Expected("new", scene->Read("held")));
  return check.Why();
}

// A folder this process holds cannot be renamed by another; where it can
// (a named difference), a name made through the held folder lands in the
// folder itself, under its new name.
std::string HeldFolderIsNotRenamed(Platform* p, ContractScene* scene,
                                   int differences) {
  Check check;
  check.Setup(scene->MakeFolder("held"), "held");
  check.Setup(scene->MakeFolder("free"), "free");
  // What the other process does to a folder nobody holds, so that its
  // refusal below is the hold's.
  check.Setup(scene->RenameAsOther("free", "freed"), "a free folder renamed");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  FolderHandle held = p->OpenFolder(root.get(), "held");
  check.Setup(held != kNoFolder, "OpenFolder held");
  bool renamed = scene->RenameAsOther("held", "moved");
  if ((differences & kHeldFolderFollowsRename) == 0) {
    check.That(!renamed, "another process renamed a held folder");
  } else {
    check.That(renamed, "the named difference did not show: not renamed");
  }
  if (renamed && (differences & kHeldFolderFollowsRename) != 0) {
    check.That(CreateThrough(p, held, "made", "made"), "no file made");
    check.That(scene->Read("moved\\made") == "made",
               "the held folder did not follow its rename");
  }
  if (held != kNoFolder) p->CloseFolder(held);
  return check.Why();
}

// Names are compared without regard to letter case: one file answers to
// every spelling of its name. Where names are case-sensitive (a named
// difference), every spelling is a name of its own.
std::string NamesComparedWithoutCase(Platform* p, ContractScene* scene,
                                     int differences) {
  Check check;
  check.Setup(scene->MakeFile("Data.Arc", "old", false), "Data.Arc");
  check.Setup(scene->MakeFile("new", "new", false), "new");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  bool sensitive = (differences & kCaseSensitiveNames) != 0;
  PathKind kind = p->GetPathKind(root.get(), "DATA.ARC");
  check.That(kind == (sensitive ? kPathMissing : kPathFile),
             "DATA.ARC seen as " + std::to_string(kind));
  FileHandle file = p->CreateNewFile(root.get(), "data.arc");
  if (file != kInvalidFileHandle) p->CloseFileHandle(file);
  check.That((file != kInvalidFileHandle) == sensitive,
             sensitive ? "data.arc could not be made beside Data.Arc"
                       : "data.arc was made beside Data.Arc");
  check.That(p->MoveFileOver(root.get(), "new", "DATA.ARC", false) != 0,
             "the move failed");
  check.That(scene->Read("Data.Arc") == (sensitive ? "old" : "new"),
             Expected("Data.Arc", scene->Read("Data.Arc")));
  return check.Why();
}

// A path or name through a folder that is not there fails, and makes
// nothing.
std::string MissingFolderPartFails(Platform* p, ContractScene* scene, int) {
  Check check;
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  std::string missing = scene->Root() + "\\missing";
  check.That(
      p->OpenFolder(kNoFolder, (missing + "\\below").c_str()) == kNoFolder,
      "a folder opened below a missing one");
  check.That(p->OpenFolder(root.get(), "missing") == kNoFolder,
             "a missing folder opened");
  FileHandle file = p->CreateNewFile(kNoFolder, (missing + "\\new").c_str());
  if (file != kInvalidFileHandle) p->CloseFileHandle(file);
  check.That(file == kInvalidFileHandle, "a file made in a missing folder");
  check.That(
      p->GetPathKind(kNoFolder, (missing + "\\new").c_str()) == kPathMissing,
      "something stands in a missing folder");
  check.That(p->OpenFileForRead(kNoFolder, (missing + "\\new").c_str()) ==
                 kInvalidFileHandle,
             "a file read in a missing folder");
  return check.Why();
}

// Below a held folder, a link to a folder is never opened as a folder; a
// path's links are followed.
std::string OpenFolderRefusesALink(Platform* p, ContractScene* scene, int) {
  Check check;
  check.Setup(scene->MakeFolder("real"), "real");
  check.Setup(scene->MakeFile("real\\inside", "inside", false), "inside");
  check.Setup(scene->MakeLink("link", "real"), "link");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  FolderHandle through = p->OpenFolder(root.get(), "link");
  check.That(through == kNoFolder, "a link opened as a held folder");
  if (through != kNoFolder) p->CloseFolder(through);
  FolderHandle real = p->OpenFolder(root.get(), "real");
  check.That(real != kNoFolder, "the real folder could not be opened");
  if (real != kNoFolder) p->CloseFolder(real);
  FolderHandle path =
      p->OpenFolder(kNoFolder, (scene->Root() + "\\link").c_str());
  check.That(path != kNoFolder, "a path through a link was refused");
  if (path != kNoFolder) {
    check.That(p->GetPathKind(path, "inside") == kPathFile,
               "the path's folder is not the one linked to");
    p->CloseFolder(path);
  }
  return check.Why();
}

// A file's data and a held folder's names can be flushed; a folder not
// held cannot.
std::string FlushesFileAndFolder(Platform* p, ContractScene* scene, int) {
  Check check;
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  FileHandle file = p->CreateNewFile(root.get(), "flushed");
  check.That(file != kInvalidFileHandle, "no new file");
  if (file != kInvalidFileHandle) {
    check.That(p->WriteFileBytes(file, "data", 4) == 4, "not written");
    check.That(p->FlushFileToDisk(file) != 0, "the file was not flushed");
    p->CloseFileHandle(file);
  }
  check.That(p->FlushFolder(root.get()) != 0, "the folder was not flushed");
  check.That(p->FlushFolder(kNoFolder) == 0, "no folder was flushed");
  check.That(scene->Read("flushed") == "data",
             Expected("data", scene->Read("flushed")));
  return check.Why();
}

// A read-only file held by another process is not replaced, and keeps its
// attribute: whatever was cleared to try is given back.
std::string HeldReadOnlyFileKeepsItsAttribute(Platform* p, ContractScene* scene,
                                              int) {
  Check check;
  check.Setup(scene->MakeFile("held", "old", true), "held");
  check.Setup(scene->MakeFile("new", "new", false), "new");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  check.Setup(scene->HoldAsOther("held"), "hold");
  check.That(p->MoveFileOver(root.get(), "new", "held", true) == 0 &&
                 p->LastFileError() == kFileErrorBusy,
             "a held read-only file was moved over, or not as busy");
  scene->ReleaseOther();
  check.That(scene->IsReadOnly("held") && scene->Read("held") == "old",
             "the held file lost its attribute, or changed");
  return check.Why();
}

// In a held folder a name is read as itself: a link there, or a file that
// has other names, is never opened.
std::string ReadOpensANameAsItself(Platform* p, ContractScene* scene, int) {
  Check check;
  check.Setup(scene->MakeFile("plain", "plain", false), "plain");
  check.Setup(scene->MakeFile("target", "target", false), "target");
  check.Setup(scene->MakeLink("link", "target"), "link");
  check.Setup(scene->MakeFile("shared", "shared", false), "shared");
  check.Setup(scene->MakeHardLink("other-name", "shared"), "other-name");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  for (const char* name : {"plain", "link", "other-name"}) {
    FileHandle file = p->OpenFileForRead(root.get(), name);
    if (file != kInvalidFileHandle) p->CloseFileHandle(file);
    check.That((file != kInvalidFileHandle) == (name == std::string("plain")),
               std::string(name) + (file != kInvalidFileHandle
                                        ? " was opened"
                                        : " could not be opened"));
  }
  return check.Why();
}

// A removal takes a read-only file too, and a link itself, but never what
// a link leads to, nor a read-only file that has other names.
std::string RemoveTakesOnlyTheName(Platform* p, ContractScene* scene, int) {
  Check check;
  check.Setup(scene->MakeFile("read-only", "old", true), "read-only");
  check.Setup(scene->MakeFile("shared", "shared", true), "shared");
  check.Setup(scene->MakeHardLink("other-name", "shared"), "other-name");
  check.Setup(scene->MakeFile("target", "target", true), "target");
  check.Setup(scene->MakeLink("link", "target"), "link");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  check.That(p->RemoveFile(root.get(), "read-only") != 0 &&
                 scene->Read("read-only") == "<missing>",
             "a read-only file was not removed");
  check.That(p->RemoveFile(root.get(), "shared") == 0,
             "a read-only file with another name was removed");
  check.That(scene->Read("shared") == "shared" && scene->IsReadOnly("shared") &&
                 scene->IsReadOnly("other-name"),
             "a read-only file with another name changed");
  // A link goes itself, or stays where the system would only follow it:
  // what it leads to stays as it was either way.
  p->RemoveFile(root.get(), "link");
  check.That(scene->Read("target") == "target" && scene->IsReadOnly("target"),
             "what a link led to was changed");
  return check.Why();
}

// Only a file is moved: a link at the name moved from is never moved, nor
// is what it leads to.
std::string MoveNeverTakesALink(Platform* p, ContractScene* scene, int) {
  Check check;
  check.Setup(scene->MakeFile("target", "target", false), "target");
  check.Setup(scene->MakeLink("link", "target"), "link");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  check.That(p->MoveFileOver(root.get(), "link", "moved", true) == 0,
             "a link was moved");
  check.That(
      scene->Read("target") == "target" && scene->Read("moved") == "<missing>",
      "what the link led to was moved");
  return check.Why();
}

// The program's own file is told from any other, a copy of its bytes
// included, by the file and not by its name.
std::string OwnImageIsTold(Platform* p, ContractScene* scene, int) {
  Check check;
  FileHandle own = p->OpenOwnExecutable();
  if (own == kInvalidFileHandle) return "the own file cannot be opened";
  std::string bytes(65536, '\0');
  uint32_t n = p->ReadFileBytes(own, &bytes[0], 65536);
  bytes.resize(n);
  check.That(n > 0, "the own file cannot be read");
  check.That(p->IsOwnImage(own) != 0, "the own file is not the own image");
  p->CloseFileHandle(own);
  check.Setup(scene->MakeFile("copy", bytes, false), "copy");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  FileHandle copy = p->OpenFileForRead(root.get(), "copy");
  check.That(copy != kInvalidFileHandle, "the copy cannot be opened");
  if (copy != kInvalidFileHandle) {
    check.That(p->IsOwnImage(copy) == 0, "a copy is taken for the own image");
    p->CloseFileHandle(copy);
  }
  return check.Why();
}

// The folder a path names is held only when no part of the path is a
// link; letter case (where names are compared without it) and a trailing
// separator do not matter.
std::string FolderWithoutLinks(Platform* p, ContractScene* scene,
                               int differences) {
  Check check;
  check.Setup(scene->MakeFolder("real"), "real");
  check.Setup(scene->MakeFolder("real\\sub"), "sub");
  check.Setup(scene->MakeFile("real\\sub\\inside", "inside", false), "inside");
  check.Setup(scene->MakeLink("link", "real"), "link");
  bool sensitive = (differences & kCaseSensitiveNames) != 0;
  std::string root = scene->Root();
  const struct {
    std::string path;
    bool held;
  } cases[] = {
      {root + "\\real\\sub", true},
      {root + (sensitive ? "\\real\\sub\\" : "\\REAL\\Sub\\"), true},
      {root + "\\link\\sub", false},
      {root + "\\link", false},
      {root + "\\missing", false},
  };
  for (const auto& c : cases) {
    FolderHandle folder = p->OpenFolderWithoutLinks(c.path.c_str());
    check.That((folder != kNoFolder) == c.held,
               c.path + (c.held ? " was refused" : " was held"));
    if (folder == kNoFolder) continue;
    check.That(p->GetPathKind(folder, "inside") == kPathFile,
               c.path + " held another folder");
    p->CloseFolder(folder);
  }
  return check.Why();
}

int AddListed(void* names, const char* name, PathKind) {
  static_cast<std::string*>(names)->append(std::string(name) + "|");
  return 0;
}

// Names in code page 932 are the system's own: a file another program made
// as ルーメン.dat is the one the updater finds and replaces by those bytes, a
// folder セーブ is held by its name or on a path, ソフト.txt (ソ ends in 0x5C)
// is one name, ャ.dat is no ア.dat in another case, and a listing gives each
// name back in code page 932.
std::string JapaneseNamesAreTheSystems(Platform* p, ContractScene* scene, int) {
  const std::string kLumen = "\x83\x8B\x81\x5B\x83\x81\x83\x93.dat";
  const std::string kSave = "\x83\x5A\x81\x5B\x83\x75";
  const std::string kHelp = "\x90\xE0\x96\xBE.txt";
  const std::string kSoft = "\x83\x5C\x83\x74\x83\x67.txt";
  Check check;
  check.Setup(scene->MakeFile(kLumen, "old", false), "lumen");
  check.Setup(scene->MakeFolder(kSave), "save");
  check.Setup(scene->MakeFile(kSoft, "soft", false), "soft");
  check.Setup(scene->MakeFile("new", "new", false), "new");
  HeldRoot root(p, scene);
  if (root.get() == kNoFolder) return "the scene's folder cannot be held";
  check.That(p->GetPathKind(root.get(), kSoft.c_str()) == kPathFile,
             "ソフト.txt is not one file");
  // ャ (83 61) is no ア (83 41) in other letter case.
  check.That(CreateThrough(p, root.get(), "\x83\x61.dat", "small ya"),
             "ャ.dat was taken for ア.dat");
  check.That(scene->Read("\x83\x41.dat") == "<missing>", "ア.dat was made");
  check.That(p->MoveFileOver(root.get(), "new", kLumen.c_str(), false) != 0,
             "the move over ルーメン.dat failed");
  check.That(scene->Read(kLumen) == "new",
             Expected("new", scene->Read(kLumen)));
  FolderHandle save = p->OpenFolder(root.get(), kSave.c_str());
  check.That(save != kNoFolder, "セーブ cannot be held");
  if (save != kNoFolder) {
    check.That(CreateThrough(p, save, kHelp.c_str(), "help"),
               "説明.txt not made");
    p->CloseFolder(save);
  }
  check.That(scene->Read(kSave + "\\" + kHelp) == "help",
             Expected("help", scene->Read(kSave + "\\" + kHelp)));
  std::string path = scene->Root() + "\\" + kSave;
  FolderHandle by_path = p->OpenFolder(kNoFolder, path.c_str());
  check.That(by_path != kNoFolder, "セーブ cannot be held by its path");
  if (by_path != kNoFolder) {
    check.That(p->GetPathKind(by_path, kHelp.c_str()) == kPathFile,
               "説明.txt not found on the path");
    p->CloseFolder(by_path);
  }
  std::string listed;
  check.That(p->ListFolder(root.get(), AddListed, &listed) != 0, "no listing");
  for (const std::string& name : {kLumen, kSave, kSoft}) {
    check.That(listed.find(name + "|") != std::string::npos,
               Expected("listed in code page 932", listed));
  }
  return check.Why();
}

}  // namespace

const ContractCase kContractCases[] = {
    {"CreateNewFailsOnAnything", CreateNewFailsOnAnything},
    {"MoveReplacesALinkItself", MoveReplacesALinkItself},
    {"MoveOverReadOnlyOrFolder", MoveOverReadOnlyOrFolder},
    {"HeldReadOnlyFileKeepsItsAttribute", HeldReadOnlyFileKeepsItsAttribute},
    {"ReadOpensANameAsItself", ReadOpensANameAsItself},
    {"RemoveTakesOnlyTheName", RemoveTakesOnlyTheName},
    {"MoveNeverTakesALink", MoveNeverTakesALink},
    {"OwnImageIsTold", OwnImageIsTold},
    {"FolderWithoutLinks", FolderWithoutLinks},
    {"HeldFileSharesReadingOnly", HeldFileSharesReadingOnly},
    {"HeldFolderIsNotRenamed", HeldFolderIsNotRenamed},
    {"NamesComparedWithoutCase", NamesComparedWithoutCase},
    {"MissingFolderPartFails", MissingFolderPartFails},
    {"OpenFolderRefusesALink", OpenFolderRefusesALink},
    {"FlushesFileAndFolder", FlushesFileAndFolder},
    {"JapaneseNamesAreTheSystems", JapaneseNamesAreTheSystems},
};

const int kContractCaseCount =
    static_cast<int>(sizeof(kContractCases) / sizeof(kContractCases[0]));
