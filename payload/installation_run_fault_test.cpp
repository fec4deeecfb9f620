// The installation run under real faults: a full disk, a file size limit,
// folders and files the user may not write, files held by another process,
// the updater file cut short. Each ends in its result code with the install
// folder, byte for byte, as it was, and no temporary file left; only the
// uninstall list, rewritten after every entry is in, can fail on its own.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "payload/installation_run.h"
#include "payload/payload_archive.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"

namespace {

// What the game folder holds before the update. Files are 0666 so that an
// unprivileged updater may replace them unless a test says otherwise.
struct Game {
  std::vector<TestEntry> files = {{"a.arc", "old a"},
                                  {"big.arc", "old big"},
                                  {"readme.txt", "not in the payload"}};
  std::string list = Z("game.exe\na.arc\nbig.arc\n");
  mode_t list_mode = 0666;
};

void MakeGame(const std::string& dir, const Game& game) {
  mkdir(dir.c_str(), 0777);
  for (const TestEntry& f : game.files) {
    WriteFileOrDie(dir + "/" + f.name, f.data);
    chmod((dir + "/" + f.name).c_str(), 0666);
  }
  WriteFileOrDie(dir + "/uninst.lst", game.list);
  chmod((dir + "/uninst.lst").c_str(), game.list_mode);
}

// Fills the filesystem holding path until a write fails for want of space.
void FillUp(const std::string& path) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  setvbuf(f, nullptr, _IONBF, 0);
  std::string page(4096, 'f');
  while (fwrite(page.data(), 1, page.size(), f) == page.size()) {
  }
  while (fwrite("f", 1, 1, f) == 1) {
  }
  fclose(f);
}

class InstallationFaultTest : public ::testing::Test {
 protected:
  InstallationFaultTest() {
    // An unprivileged updater must be able to reach the scratch folder.
    chmod(dir_.path().c_str(), 0755);
    entries_ = WithListOfAll({{"a.arc", "alpha"},
                              {"big.arc", Pattern(512 << 10)},
                              {"new.arc", "a file the game did not have"}});
  }

  void SetUpGame(const Game& game) {
    game_ = game;
    MakeGame(folder_, game);
    WriteFileOrDie(updater_, UpdaterFile(BuildPayload(entries_)));
  }

  uint32_t Install(bool unprivileged = false, uint64_t file_size_limit = 0) {
    std::string updater = updater_, folder = folder_;
    ChildLimits limits;
    limits.file_size_limit = file_size_limit;
    limits.unprivileged = unprivileged;
    return CallInChild(
        [updater, folder] {
          return InstallPayload(updater.c_str(), folder.c_str());
        },
        limits);
  }

  // The folder as the table says: the game as it was, with the first
  // `installed` entries in place, each a new file that replaced the old.
  std::string Expected(size_t installed, bool list_updated = false) {
    std::string dir = dir_.Sub("expected" + std::to_string(expected_count_++));
    MakeGame(dir, game_);
    for (size_t i = 0; i < installed; i++) {
      Recreate(dir + "/" + entries_[i].name, entries_[i].data);
    }
    if (list_updated) {
      std::string list = game_.list.substr(0, game_.list.size() - 1);
      for (size_t i = 0; i < installed; i++) {
        if (list.find(entries_[i].name) == std::string::npos) {
          list += entries_[i].name + "\n";
        }
      }
      Recreate(dir + "/uninst.lst", Z(list));
    }
    return SnapshotDir(dir);
  }

  // A file replaced by another is a new file, with a new file's mode.
  static void Recreate(const std::string& path, const std::string& bytes) {
    unlink(path.c_str());
    WriteFileOrDie(path, bytes);
  }

  // Install while another process holds the file of that name throughout.
  uint32_t InstallWhileHeld(const std::string& name) {
    pid_t holder = HoldFlock(folder_ + "/" + name);
    uint32_t result = Install();
    StopProcess(holder);
    return result;
  }

  // Puts the install folder on a tmpfs of the given size, mounted for the
  // rest of the test. True when it is; without root the test is skipped.
  bool OnSmallFilesystem(int kib) {
    Mount(kib);
    return !IsSkipped() && !HasFatalFailure();
  }
  void Mount(int kib) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    fs_.reset(new SmallFilesystem(dir_.Sub("fs"), kib));
    ASSERT_TRUE(fs_->mounted()) << "no small filesystem can be mounted here";
    folder_ = dir_.Sub("fs/Game");
  }

  ScratchDir dir_;
  std::string updater_ = dir_.Sub("setup.exe");
  std::string folder_ = dir_.Sub("Game");
  std::vector<TestEntry> entries_;
  Game game_;
  int expected_count_ = 0;
  std::unique_ptr<SmallFilesystem> fs_;
};

TEST_F(InstallationFaultTest, CompleteRunForComparison) {
  SetUpGame(Game());
  EXPECT_EQ(Install(), kResultOk);
  EXPECT_EQ(SnapshotDir(folder_), Expected(entries_.size(), true));
}

TEST_F(InstallationFaultTest, DiskFullInTheMiddleOfAnEntry) {
  // 128 KiB hold the small files and part of the 512 KiB entry.
  if (!OnSmallFilesystem(128)) return;
  SetUpGame(Game());
  EXPECT_EQ(Install(), kResultCannotWrite);
  // Nothing moved, and what the disk took of the new files is gone.
  EXPECT_EQ(SnapshotDir(folder_), Expected(0));
}

TEST_F(InstallationFaultTest, ShortWriteInTheMiddleOfAnEntry) {
  SetUpGame(Game());
  EXPECT_EQ(Install(false, 100000), kResultCannotWrite);
  EXPECT_EQ(SnapshotDir(folder_), Expected(0));
}

TEST_F(InstallationFaultTest, FolderTheUserMayNotWrite) {
  // Files are replaced by new ones beside them: in a folder the user may
  // not write, none can be, even where the old file itself is writable.
  SetUpGame(Game());
  chmod(folder_.c_str(), 0555);
  EXPECT_EQ(Install(true), kResultCannotWrite);
  EXPECT_EQ(SnapshotDir(folder_), Expected(0));
}

// A file held throughout stops the run before the first move; one held for
// a moment, as a scanner holds each new file, is waited for.
TEST_F(InstallationFaultTest, OutputHeldByAnotherProcess) {
  SetUpGame(Game());
  EXPECT_EQ(InstallWhileHeld("big.arc"), kResultCannotWrite);
  EXPECT_EQ(SnapshotDir(folder_), Expected(0));
  pid_t holder = HoldFlock(folder_ + "/big.arc", "0.5");
  EXPECT_EQ(Install(), kResultOk);
  StopProcess(holder);
  EXPECT_EQ(SnapshotDir(folder_), Expected(entries_.size(), true));
}

TEST_F(InstallationFaultTest, ReadOnlyOutputHeldByAnotherProcess) {
  // The attribute is cleared for the move; when the move fails, the file
  // gets it back: nothing of it changes.
  SetUpGame(Game());
  std::string big = folder_ + "/big.arc";
  chmod(big.c_str(), 0444);
  EXPECT_EQ(InstallWhileHeld("big.arc"), kResultCannotWrite);
  EXPECT_EQ(ReadFileOrEmpty(folder_ + "/a.arc"), "old a");
  EXPECT_EQ(ReadFileOrEmpty(big), "old big");
  struct stat st;
  ASSERT_EQ(stat(big.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_FALSE(FileExists(big + ".updating"));
}

TEST_F(InstallationFaultTest, EntryOfFourGibibytes) {
  // An entry that claims more bytes than the file holds is refused before
  // anything is written.
  SetUpGame(Game());
  std::string payload = BuildPayload(entries_);
  PatchEntry(&payload, 3,
             static_cast<uint32_t>(payload.size() - 16 - 4 * 32 -
                                   entries_[3].data.size()),
             0xFFFFFFFFu);
  WriteFileOrDie(updater_, UpdaterFile(payload));
  EXPECT_EQ(Install(), kResultPayloadUnreadable);
  EXPECT_EQ(SnapshotDir(folder_), Expected(0));
}

TEST_F(InstallationFaultTest, UpdaterCutAtEveryByte) {
  // Small entries, so that every cut position can be tried: the header, the
  // directory, each entry's data and the list. A download cut short
  // anywhere changes nothing.
  entries_ = {{"a.arc", "alpha"}, {"new.arc", "new!"}};
  entries_.push_back(
      {"vrx.hvl", BuildVerificationList({{"a.arc", ChecksumOf("alpha")},
                                         {"new.arc", ChecksumOf("new!")}})});
  SetUpGame(Game());
  std::string payload = BuildPayload(entries_);
  std::string untouched = SnapshotDir(folder_);
  // Cuts at every byte of the payload, from the end down, then before it:
  // the file is written once and cut shorter each time.
  WriteFileOrDie(updater_, UpdaterFile(payload));
  std::vector<size_t> cuts;
  for (size_t n = payload.size(); n-- > 0;) cuts.push_back(kPayloadOffset + n);
  for (size_t cut : {size_t{kPayloadOffset - 1}, size_t{1}, size_t{0}}) {
    cuts.push_back(cut);
  }
  for (size_t cut : cuts) {
    ASSERT_EQ(truncate(updater_.c_str(), static_cast<off_t>(cut)), 0);
    EXPECT_EQ(Install(), kResultPayloadUnreadable) << cut;
    ASSERT_EQ(SnapshotDir(folder_), untouched) << cut;
  }
  RecordProperty("cuts", static_cast<int>(cuts.size()));
}

// The uninstall list, once every entry is in: whatever stops its rewrite,
// the result is 0x80000005 and the list is as it was.
TEST_F(InstallationFaultTest, ListTheUserMayNotWrite) {
  Game game;
  game.list_mode = 0444;
  SetUpGame(game);
  chmod(folder_.c_str(), 0777);  // the entries themselves may be written
  EXPECT_EQ(Install(true), kResultUninstallListFailed);
  EXPECT_EQ(SnapshotDir(folder_), Expected(entries_.size()));
}

TEST_F(InstallationFaultTest, ListHeldByAnotherProcess) {
  SetUpGame(Game());
  EXPECT_EQ(InstallWhileHeld("uninst.lst"), kResultUninstallListFailed);
  EXPECT_EQ(SnapshotDir(folder_), Expected(entries_.size()));
}

TEST_F(InstallationFaultTest, ShortRewriteOfTheList) {
  // A list of 600 KiB and a limit 3 bytes above it: every entry fits, the
  // merged list does not.
  Game game;
  game.list = "game.exe\n";
  while (game.list.size() < (600 << 10)) {
    game.list += "data" + std::to_string(game.list.size()) + ".dat\n";
  }
  game.list = Z(game.list);
  SetUpGame(game);
  EXPECT_EQ(Install(false, game.list.size() + 3), kResultUninstallListFailed);
  EXPECT_EQ(SnapshotDir(folder_), Expected(entries_.size()));
}

TEST_F(InstallationFaultTest, DiskFullWhileRewritingTheList) {
  // The two new files need a free page each until the old ones go, and
  // give them back then; the merged list needs three pages beside the old
  // one, and the disk has two.
  if (!OnSmallFilesystem(64)) return;
  entries_ = {{"a.arc", "alpha"}, {"big.arc", Pattern(3000)}};
  Game game;
  game.list = Z(std::string(8183, 'x') + "\na.arc\n");  // two pages, less 1
  ASSERT_EQ(game.list.size(), 8191u);
  SetUpGame(game);
  std::string filler = dir_.Sub("fs/filler");
  FillUp(filler);
  ASSERT_EQ(truncate(filler.c_str(),
                     static_cast<off_t>(ReadFileOrEmpty(filler).size() - 8192)),
            0);
  EXPECT_EQ(Install(), kResultUninstallListFailed);
  EXPECT_EQ(SnapshotDir(folder_), Expected(entries_.size()));
}

}  // namespace

namespace {

// Another process swaps a folder part for a link to an outside folder
// while the run stages the large entry before it, as an attacker would
// time it: the later entry must not be written or moved through the link.
TEST(InstallationRaceTest, FolderSwappedForALinkWhileStaging) {
  ScratchDir dir;
  std::string outside = dir.Sub("outside");
  std::string updater = dir.Sub("setup");
  mkdir(outside.c_str(), 0777);
  WriteFileOrDie(outside + "/op.dat", "system file");
  WriteFileOrDie(updater,
                 UpdaterFile(BuildPayload({{"big.arc", Pattern(32 << 20)},
                                           {"more.arc", Pattern(32 << 20, 2)},
                                           {"movie\\op.dat", "new op"}})));
  for (int round = 0; round < 3; round++) {
    std::string game = dir.Sub("game" + std::to_string(round));
    Game old;
    MakeGame(game, old);
    mkdir((game + "/movie").c_str(), 0777);
    WriteFileOrDie(game + "/movie/op.dat", "old op");
    pid_t attacker = fork();
    if (attacker == 0) {
      struct stat st;
      // Once the large entry is being staged, the folder is checked.
      while (stat((game + "/big.arc.updating").c_str(), &st) != 0) usleep(100);
      rename((game + "/movie").c_str(), (game + "/movie.away").c_str());
      _exit(symlink(outside.c_str(), (game + "/movie").c_str()) == 0 ? 0 : 1);
    }
    ResultCode result = InstallPayload(updater.c_str(), game.c_str());
    int status = -1;
    waitpid(attacker, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no swap";
    EXPECT_EQ(ReadFileOrEmpty(outside + "/op.dat"), "system file") << round;
    EXPECT_EQ(ReadFileOrEmpty(outside + "/op.dat.updating"), "") << round;
    // The held folder went with its name: the entry is in it, inside.
    if (result == kResultOk) {
      EXPECT_EQ(ReadFileOrEmpty(game + "/movie.away/op.dat"), "new op");
    }
  }
}

}  // namespace
