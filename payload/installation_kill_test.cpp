// The real updater killed (SIGKILL) at random moments of an update over an
// older install, as a crash, a power cut or the task manager would end it.
// After every kill each file of the update is whole: byte for byte its old
// version (absent if the game did not have it) or its new one, and the
// uninstall list is its old text or the merged one. The only other files
// are the temporary ones of the entry being written, which the next run
// replaces.
#include <dirent.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
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

std::string Z(const std::string& text) { return text + std::string(1, '\0'); }

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
    std::vector<TestRecord> records;
    for (const TestEntry& e : new_)
      records.push_back({e.name, ChecksumOf(e.data)});
    new_.push_back({"vrx.hvl", BuildVerificationList(records)});
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

  // Checks the folder after a run; returns how many of the update's files
  // are new, or -1 after a failure. Counts the temporary files left.
  int CheckWhole(int round, int* temporaries) {
    int fresh = 0;
    for (size_t i = 0; i < new_.size(); i++) {
      std::string path = folder() + "/" + new_[i].name;
      bool exists = FileExists(path);
      std::string bytes = ReadFileOrEmpty(path);
      if (exists && bytes == new_[i].data) {
        fresh++;
      } else if (old_[i].data.empty() ? exists : bytes != old_[i].data) {
        ADD_FAILURE() << "round " << round << ": " << new_[i].name
                      << " is neither old nor new (" << bytes.size()
                      << " bytes)";
        return -1;
      }
    }
    std::string list = ReadFileOrEmpty(folder() + "/uninst.lst");
    if (list != old_list_ && list != new_list_) {
      ADD_FAILURE() << "round " << round << ": uninst.lst is cut or mixed";
      return -1;
    }
    if (list == new_list_) fresh++;
    *temporaries = 0;
    for (const std::string& name : FileNames(folder())) {
      bool known = name == "uninst.lst";
      for (const TestEntry& e : new_) known = known || name == e.name;
      if (known) continue;
      if (!EndsWith(name, kTempSuffix)) {
        ADD_FAILURE() << "round " << round << ": stray file " << name;
        return -1;
      }
      (*temporaries)++;
    }
    return fresh;
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
  int temporaries = 0;
  ASSERT_EQ(CheckWhole(0, &temporaries), 5);
  ASSERT_EQ(temporaries, 0);

  const int kRounds = 40;
  uint32_t seed = std::random_device()();
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int64_t> moment(0, whole_run.count());
  std::map<int, int> outcomes;  // files new after the kill -> rounds
  int cut_mid_entry = 0;
  int in_between = 0;  // rounds that ended with some files new, not all
  // Past kRounds, only until a kill leaves a temporary file for the last
  // run to find.
  for (int round = 1;
       round <= kRounds || (temporaries == 0 && round <= 2 * kRounds);
       round++) {
    PutOldInstall();
    RunAndKill(std::chrono::microseconds(moment(gen)));
    int fresh = CheckWhole(round, &temporaries);
    ASSERT_GE(fresh, 0) << "moments drawn with seed " << seed;
    outcomes[fresh]++;
    if (fresh > 0 && fresh < 5) in_between++;
    if (temporaries > 0) cut_mid_entry++;
  }
  // The kills must have fallen inside the update, not all before or after.
  EXPECT_GT(in_between + cut_mid_entry, 0);
  ASSERT_GT(temporaries, 0);
  std::string tally;
  for (const auto& o : outcomes) {
    tally += std::to_string(o.first) + " new: " + std::to_string(o.second) +
             " rounds; ";
  }
  RecordProperty("outcomes", tally + std::to_string(cut_mid_entry) +
                                 " cut in the middle of an entry");
  printf("kills (seed %u): %s%d cut in the middle of an entry\n", seed,
         tally.c_str(), cut_mid_entry);

  // The next run starts over what the last kill left and ends complete,
  // its temporary files replaced and gone.
  ASSERT_EQ(RunUpdate("y\n").status, 0);
  EXPECT_EQ(CheckWhole(0, &temporaries), 5);
  EXPECT_EQ(temporaries, 0);
}

}  // namespace
