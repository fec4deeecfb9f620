// The native updater as a process, with another one acting at the exact
// moment it means to: before the open of the uninstall list or of the
// install folder (the process paused there by testing/pause_shim.c), or
// while the question waits for the player. Whatever it does, nothing
// outside the game's folder is read into it, changed or removed, and what
// the player started is what is installed.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"

namespace {

const char kConfirm[] = "アップデートを行いますか？";
const char kSecret[] = "root's secret";

// True once path exists, waiting a minute at most.
bool AppearsWithin(const std::string& path) {
  for (int i = 0; i < 60000 && !FileExists(path); i++) {
    struct timespec ms = {0, 1000000};
    nanosleep(&ms, nullptr);
  }
  return FileExists(path);
}

// The updater's world, with a folder outside the game beside it.
class RaceWorld : public UpdaterWorld {
 public:
  RaceWorld() {
    WriteFileOrDie(folder() + "/data1.arc", "old data");
    mkdir((folder() + "/movie").c_str(), 0755);
    WriteFileOrDie(folder() + "/movie/op.dat", "old op");
    // What a link would lead the run to: files of the entries' names, one
    // that looks like a leftover, and a file only root may read.
    mkdir(outside_.c_str(), 0755);
    mkdir((outside_ + "/movie").c_str(), 0755);
    WriteFileOrDie(outside_ + "/data1.arc", "system file");
    WriteFileOrDie(outside_ + "/movie/op.dat", "system file");
    WriteFileOrDie(outside_ + "/cache.updating", "system file");
    chmod((outside_ + "/cache.updating").c_str(), 0444);
    WriteFileOrDie(outside_ + "/secret", Z(kSecret));
    chmod((outside_ + "/secret").c_str(), 0600);
    SetPayload(Started());
  }

  static std::string Started() {
    return BuildPayload(
        {{"data1.arc", "new data"}, {"movie\\op.dat", "new op"}});
  }

  // Runs the update answering Yes, stopped before the open of a name whose
  // last part is at, where act plays the other process.
  ProcessResult RunPausedAt(const std::string& at,
                            const std::function<void()>& act) {
    std::string pause = dir().Sub("pause");
    mkdir(pause.c_str(), 0755);
    ProcessOptions options = Options("");
    options.env.push_back(std::string("LD_PRELOAD=") + PAUSE_SHIM);
    options.env.push_back("PAUSE_SHIM_AT=" + at);
    options.env.push_back("PAUSE_SHIM_DIR=" + pause);
    // The sanitizer build's runtime would refuse a library loaded first.
    options.env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    ChildProcess child = SpawnProcess({updater()}, options);
    // Yes at once: the pause comes after the question.
    EXPECT_EQ(write(child.in, "y\n", 2), 2);
    bool paused = AppearsWithin(pause + "/paused");
    EXPECT_TRUE(paused) << "the updater never opened " << at;
    if (paused) act();
    WriteFileOrDie(pause + "/go", "");
    return FinishProcess(&child, "");
  }

  // What is wrong with the world; "" when nothing is. The game is where
  // the other process left it.
  std::string Judge(const std::string& outside_before) {
    if (SnapshotDir(outside_) != outside_before) return "the outside changed";
    std::string game =
        FileExists(folder() + ".away") ? folder() + ".away" : folder();
    std::string files = SnapshotDir(game);
    // The other process's own link shows what it leads to: only a file the
    // run wrote may not hold the secret.
    struct stat st;
    if (lstat((game + "/uninst.lst").c_str(), &st) == 0 &&
        S_ISREG(st.st_mode) && st.st_nlink == 1 &&
        ReadFileOrEmpty(game + "/uninst.lst").find(kSecret) !=
            std::string::npos) {
      return "the secret was read into the game's uninst.lst";
    }
    return "";
  }

  const std::string& outside() const { return outside_; }

 private:
  std::string outside_ = dir().Sub("outside");
};

TEST(UpdateFlowRaceTest, NamesSwappedAtTheirOpen) {
  const struct {
    const char* what;
    const char* at;
    std::function<void(const std::string& game, const std::string& outside)>
        act;
    int status;
  } races[] = {
      {"uninst.lst swapped for a link to a file only root may read",
       "uninst.lst",
       [](const std::string& game, const std::string& outside) {
         unlink((game + "/uninst.lst").c_str());
         symlink((outside + "/secret").c_str(), (game + "/uninst.lst").c_str());
       },
       5},
      {"uninst.lst swapped for a hard link to a file only root may read",
       "uninst.lst",
       [](const std::string& game, const std::string& outside) {
         unlink((game + "/uninst.lst").c_str());
         link((outside + "/secret").c_str(), (game + "/uninst.lst").c_str());
       },
       5},
      {"the install folder swapped for a link", "Game",
       [](const std::string& game, const std::string& outside) {
         rename(game.c_str(), (game + ".away").c_str());
         symlink(outside.c_str(), game.c_str());
       },
       4},
  };
  for (const auto& race : races) {
    RaceWorld world;
    std::string outside_before = SnapshotDir(world.outside());
    std::string game_before = SnapshotDir(world.folder());
    ProcessResult r = world.RunPausedAt(
        race.at, [&] { race.act(world.folder(), world.outside()); });
    EXPECT_EQ(r.status, race.status) << race.what << "\n" << r.err;
    EXPECT_EQ(world.Judge(outside_before), "") << race.what;
    if (race.status == 4) {
      EXPECT_EQ(SnapshotDir(world.folder() + ".away"), game_before)
          << race.what;
    }
  }
}

// While the question waits for the player, the file that was started is
// renamed away and another update put at its name: the player's update is
// what installs.
TEST(UpdateFlowRaceTest, OwnFileSwappedDuringTheQuestion) {
  RaceWorld world;
  const std::string& updater = world.updater();
  ChildProcess child = SpawnProcess({updater}, world.Options(""));
  ASSERT_NE(ReadUntil(&child, kConfirm).find(kConfirm), std::string::npos);
  ASSERT_EQ(rename(updater.c_str(), (updater + ".away").c_str()), 0);
  std::string program = ReadFileOrEmpty(UPDATER_BINARY);
  WriteFileOrDie(updater,
                 UpdaterFile(BuildPayload({{"data1.arc", "another update"},
                                           {"evil.dll", "another update"}}),
                             program));
  ProcessResult r = FinishProcess(&child, "y\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileOrEmpty(world.folder() + "/data1.arc"), "new data");
  EXPECT_FALSE(FileExists(world.folder() + "/evil.dll"));
}

}  // namespace
