// The real updater killed (SIGKILL) at random moments of an update over an
// older install, as a crash or the task manager would end it. After every
// kill each file of the update is whole: byte for byte its old version
// (absent if the game did not have it) or its new one, and the uninstall
// list is its old text or the merged one. The game is one release, old or
// new, unless the kill fell among the moves, which follow each other at
// once. The only other files are temporary ones, which the next run
// replaces.
#include <dirent.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/file_replace.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"

namespace {

std::string Noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  std::mt19937 gen(seed);
  for (size_t i = 0; i + 4 <= size; i += 4) {
    uint32_t v = gen();
    memcpy(&out[i], &v, 4);
  }
  return out;
}

std::vector<std::string> FileNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class InstallationKillTest : public ::testing::Test, protected UpdaterWorld {
 protected:
  InstallationKillTest() {
    // Two archives the game has in an older version, one it does not have.
    const size_t kMiB = 1 << 20;
    new_ = {{"data1.arc", Noise(20 * kMiB, 1)},
            {"data2.arc", Noise(30 * kMiB, 2)},
            {"movie.arc", Noise(24 * kMiB, 3)}};
    old_ = {{"data1.arc", Noise(22 * kMiB, 11)},
            {"data2.arc", Noise(26 * kMiB, 12)},
            {"movie.arc", ""}};
    new_ = WithListOfAll(new_);
    old_.push_back({"vrx.hvl", ""});
    old_list_ = Z("game.exe\ndata1.arc\ndata2.arc\n");
    new_list_ = Z("game.exe\ndata1.arc\ndata2.arc\nmovie.arc\nvrx.hvl\n");
    SetPayload(BuildPayload(new_));
  }

  // The install folder as the older release left it ("" means absent).
  void PutOldInstall() {
    for (const std::string& name : FileNames(folder())) {
      unlink((folder() + "/" + name).c_str());
    }
    for (const TestEntry& e : old_) {
      if (!e.data.empty()) WriteFileOrDie(folder() + "/" + e.name, e.data);
    }
    WriteFileOrDie(folder() + "/uninst.lst", old_list_);
  }

  // Starts the updater answering Yes and kills it after delay, whether it
  // has ended by then or not.
  void RunAndKill(std::chrono::microseconds delay) {
    ChildProcess child = SpawnProcess({updater()}, Options(""));
    ssize_t w = write(child.in, "y\n", 2);
    (void)w;
    close(child.in);
    std::this_thread::sleep_for(delay);
    kill(child.pid, SIGKILL);
    int status = 0;
    waitpid(child.pid, &status, 0);
    close(child.err);
  }

  // What a kill left: how many entries are new, whether the list is, and
  // how many files are cut short (neither old nor new) or temporary.
  struct Left {
    int entries_new = 0, cut_short = 0, temporaries = 0;
    bool list_new = false;
  };

  Left Look(int round) {
    Left left;
    for (size_t i = 0; i < new_.size(); i++) {
      std::string path = folder() + "/" + new_[i].name;
      bool exists = FileExists(path);
      std::string bytes = ReadFileOrEmpty(path);
      if (exists && bytes == new_[i].data) {
        left.entries_new++;
      } else if (old_[i].data.empty() ? exists : bytes != old_[i].data) {
        ADD_FAILURE() << "round " << round << ": " << new_[i].name
                      << " is neither old nor new (" << bytes.size()
                      << " bytes)";
        left.cut_short++;
      }
    }
    std::string list = ReadFileOrEmpty(folder() + "/uninst.lst");
    left.list_new = list == new_list_;
    if (list != old_list_ && !left.list_new) {
      ADD_FAILURE() << "round " << round << ": uninst.lst is cut or mixed";
      left.cut_short++;
    }
    for (const std::string& name : FileNames(folder())) {
      bool known = name == "uninst.lst";
      for (const TestEntry& e : new_) known = known || name == e.name;
      if (known) continue;
      EXPECT_TRUE(EndsWith(name, kTempSuffix))
          << "round " << round << ": stray file " << name;
      left.temporaries++;
    }
    return left;
  }

  std::vector<TestEntry> new_, old_;
  std::string old_list_, new_list_;
};

TEST_F(InstallationKillTest, EveryFileWholeAfterAKillAtAnyMoment) {
  // How long a whole run takes here: the kills fall anywhere within it.
  PutOldInstall();
  auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(RunUpdate("y\n").status, 0);
  auto whole_run = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - began);
  Left complete = Look(0);
  ASSERT_EQ(complete.entries_new, 4);
  ASSERT_TRUE(complete.list_new);
  ASSERT_EQ(complete.temporaries, 0);

  const int kRounds = 40;
  uint32_t seed = std::random_device()();
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int64_t> moment(0, whole_run.count());
  int cut_short = 0, mixed = 0, staged = 0, all_new = 0;
  Left left;
  // Past kRounds, only until a kill leaves a temporary file for the last
  // run to find.
  for (int round = 1;
       round <= kRounds || (left.temporaries == 0 && round <= 2 * kRounds);
       round++) {
    PutOldInstall();
    RunAndKill(std::chrono::microseconds(moment(gen)));
    left = Look(round);
    cut_short += left.cut_short;
    if (left.entries_new > 0 && left.entries_new < 4) mixed++;
    if (left.entries_new == 0 && left.temporaries > 0) staged++;
    if (left.entries_new == 4) all_new++;
  }
  std::string tally = std::to_string(cut_short) + " files cut short, " +
                      std::to_string(mixed) + " installs mixed, " +
                      std::to_string(staged) + " killed while staging, " +
                      std::to_string(all_new) + " complete";
  RecordProperty("outcomes", tally);
  printf("kills (seed %u): %s\n", seed, tally.c_str());
  EXPECT_EQ(cut_short, 0) << "seed " << seed;
  // Only a kill among the moves, which follow each other at once, leaves
  // old and new entries together.
  EXPECT_LE(mixed * 10, kRounds) << "seed " << seed;
  // The kills must have fallen inside the update, not all before or after.
  EXPECT_GT(staged, 0) << "seed " << seed;
  ASSERT_GT(left.temporaries, 0);

  // The next run starts over what the last kill left and ends complete,
  // its temporary files replaced and gone.
  ASSERT_EQ(RunUpdate("y\n").status, 0);
  left = Look(0);
  EXPECT_EQ(left.entries_new, 4);
  EXPECT_TRUE(left.list_new);
  EXPECT_EQ(left.temporaries, 0);
}

}  // namespace
