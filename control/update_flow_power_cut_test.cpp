// The whole update on the fake system, tried at every call it makes: the
// power cut there (only what was made durable stays), the process killed
// there (the system's cache stays), and the call failing once. Each time
// every file must be whole, the game one release outside the moves, the
// result the one that call's failure calls for, nothing left open or
// held; and a second run must complete the update.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "control/texts.h"
#include "control/update_flow.h"
#include "gtest/gtest.h"
#include "payload/payload_archive.h"
#include "platform/file_replace.h"
#include "testing/fake_platform.h"
#include "testing/update_bytes.h"

namespace {

typedef std::map<std::string, std::string> Folder;

const char kOwnPath[] = "C:\\Users\\Zoe\\Downloads\\setup.exe";
const char kGame[] = "C:\\Games\\Lumenhollow";
const char kOutside[] = "C:\\Windows\\system.ini";

// The update: a data file of two and a half pieces, a read-only file in a
// folder, a file the game did not have, and the verification list.
std::vector<TestEntry> Entries() {
  std::vector<TestEntry> entries = {{"data1.arc", Pattern(5 * kPieceSize / 2)},
                                    {"movie\\op.dat", "new op"},
                                    {"new.arc", "a new file"}};
  std::vector<TestRecord> records;
  for (const TestEntry& e : entries) {
    records.push_back({e.name, ChecksumOf(e.data)});
  }
  entries.push_back({"vrx.hvl", BuildVerificationList(records)});
  return entries;
}

const char kOldList[] = "game.exe\ndata1.arc\nmovie\\op.dat\n";

void MakeWorld(FakePlatform* fake) {
  fake->AddFile(std::string(kGame) + "\\game.exe", "game 1.0");
  fake->AddFile(std::string(kGame) + "\\data1.arc", "old data");
  fake->AddFile(std::string(kGame) + "\\movie\\op.dat", "old op", true);
  fake->AddFile(std::string(kGame) + "\\uninst.lst", Z(kOldList));
  fake->AddFile(kOutside, "not the game's");
  fake->SetOwnExecutable(kOwnPath, UpdaterFile(BuildPayload(Entries())));
  std::string key = std::string(kRegistryKeyPart1) + "\\" + kRegistryKeyPart2 +
                    "\\" + kRegistryKeyPart3;
  fake->SetRegistryValue(key, kInstalledFolderValue, kRegistryValueSz,
                         Z(kGame));
}

int RunUpdate(FakePlatform* fake) {
  UsePlatform(fake);
  int code = RunUpdateFlow();
  UsePlatform(nullptr);
  return code;
}

bool IsTemporary(const std::string& name) {
  size_t n = sizeof(kTempSuffix) - 1;
  return name.size() > n && name.compare(name.size() - n, n, kTempSuffix) == 0;
}

// The folder in a line per file: its name, length and a hash of its bytes,
// short enough to show when two differ.
std::string Summary(const Folder& folder) {
  std::string out;
  for (const auto& file : folder) {
    uint64_t hash = 14695981039346656037u;
    for (char c : file.second)
      hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211u;
    out += file.first + " " + std::to_string(file.second.size()) + " " +
           std::to_string(hash % 100000) + "\n";
  }
  return out;
}

Folder WithoutTemporaries(Folder folder) {
  for (auto it = folder.begin(); it != folder.end();) {
    it = IsTemporary(it->first) ? folder.erase(it) : std::next(it);
  }
  return folder;
}

// The game before and after a complete update, and the calls that update
// makes: where its moves begin, where they are flushed to the disk, and
// the same for the uninstall list's move after them. 1-based call numbers.
struct CleanRun {
  Folder old_game, new_game;
  std::vector<FakeCall> trace;
  std::vector<std::string> targets;  // of the entries, in directory order
  size_t first_move = 0, moves_flushed = 0, list_move = 0, list_flushed = 0;
};

CleanRun MakeCleanRun() {
  CleanRun run;
  FakePlatform fake;
  MakeWorld(&fake);
  run.old_game = fake.Snapshot(kGame);
  EXPECT_EQ(RunUpdate(&fake), 0);
  run.new_game = fake.Snapshot(kGame);
  run.trace = fake.trace();
  for (const TestEntry& e : Entries()) {
    run.targets.push_back(std::string(kGame) + "\\" + e.name);
  }
  for (size_t i = 0; i < run.trace.size(); i++) {
    const FakeCall& call = run.trace[i];
    if (call.name == "MoveFileOver") {
      if (call.path == std::string(kGame) + "\\uninst.lst") {
        run.list_move = i + 1;
      } else if (run.first_move == 0) {
        run.first_move = i + 1;
      }
    } else if (call.name == "FlushFolder") {
      (run.list_move == 0 ? run.moves_flushed : run.list_flushed) = i + 1;
    }
  }
  return run;
}

const CleanRun& Clean() {
  static const CleanRun* run = new CleanRun(MakeCleanRun());
  return *run;
}

// The game with the first `moved` entries new, and the list old or merged.
Folder Mixed(size_t moved, bool list_merged) {
  const CleanRun& clean = Clean();
  Folder game = clean.old_game;
  for (size_t i = 0; i < moved; i++) {
    std::string name = clean.targets[i].substr(strlen(kGame) + 1);
    game[name] = clean.new_game.at(name);
  }
  if (list_merged) game["uninst.lst"] = clean.new_game.at("uninst.lst");
  return game;
}

// After a stop at call n (it and what follows never happened): every file
// old or new, and outside the moves all of them one or the other. After a
// power cut the moves count from the flush that made them durable, after a
// kill from the moves themselves.
void CheckWhole(const FakePlatform& fake, size_t n, bool power_cut,
                const char* how) {
  const CleanRun& clean = Clean();
  Folder game = WithoutTemporaries(fake.Snapshot(kGame));
  for (const auto& file : game) {
    auto old_file = clean.old_game.find(file.first);
    auto new_file = clean.new_game.find(file.first);
    bool is_old =
        old_file != clean.old_game.end() && old_file->second == file.second;
    bool is_new =
        new_file != clean.new_game.end() && new_file->second == file.second;
    EXPECT_TRUE(is_old || is_new) << how << " at call " << n << ": "
                                  << file.first << " is neither old nor new";
  }
  size_t list_done = power_cut ? clean.list_flushed : clean.list_move;
  if (n <= clean.first_move) {
    EXPECT_EQ(Summary(game), Summary(clean.old_game))
        << how << " before the moves, at " << n;
  } else if (n > clean.moves_flushed) {
    EXPECT_EQ(Summary(game),
              Summary(Mixed(clean.targets.size(), n > list_done)))
        << how << " after the moves, at " << n;
  }
  EXPECT_EQ(fake.DataOf(kOutside), "not the game's");
}

TEST(UpdateFlowPowerCutTest, CleanRunMovesInOneStretch) {
  const CleanRun& clean = Clean();
  if (getenv("SHOW_TRACE") != nullptr) {
    for (size_t i = 0; i < clean.trace.size(); i++) {
      printf("%zu %s %s %llu\n", i + 1, clean.trace[i].name.c_str(),
             clean.trace[i].path.substr(0, 60).c_str(),
             static_cast<unsigned long long>(clean.trace[i].position));
    }
  }
  ASSERT_NE(clean.first_move, 0u);
  ASSERT_LT(clean.first_move, clean.moves_flushed);
  EXPECT_EQ(clean.list_move, clean.moves_flushed + 1);
  // From the first move to their flush, nothing but the moves and the
  // attributes they clear: nothing to read, write or wait for.
  for (size_t i = clean.first_move; i < clean.moves_flushed - 1; i++) {
    const std::string& name = clean.trace[i - 1].name;
    EXPECT_TRUE(name == "MoveFileOver" || name == "ClearFileAttributes")
        << "call " << i << " in the moves: " << name;
  }
  RecordProperty("calls", static_cast<int>(clean.trace.size()));
  RecordProperty("move_window_calls",
                 static_cast<int>(clean.moves_flushed - clean.first_move + 1));
}

// The power cut, or the process killed, at every call; then the update is
// run again and completes.
TEST(UpdateFlowPowerCutTest, EveryCallIsACrashPoint) {
  const CleanRun& clean = Clean();
  for (size_t n = 1; n <= clean.trace.size() + 1; n++) {
    for (bool power_cut : {true, false}) {
      const char* how = power_cut ? "power cut" : "kill";
      FakePlatform fake;
      MakeWorld(&fake);
      fake.CutPowerAtCall(n);
      RunUpdate(&fake);
      if (power_cut) {
        fake.PowerCut();
      } else {
        fake.Restart();
      }
      CheckWhole(fake, n, power_cut, how);
      ASSERT_EQ(RunUpdate(&fake), 0) << how << " at call " << n;
      ASSERT_EQ(Summary(fake.Snapshot(kGame)), Summary(clean.new_game))
          << how << " at " << n;
    }
  }
  RecordProperty("crash_points", static_cast<int>(clean.trace.size() + 1));
}

// What a failure of the call (not a busy file: one that no wait mends) must
// end in: the exit code, and how many entries were moved by then.
struct Outcome {
  int code;
  size_t moved;
  bool list_merged;
};

// Which file a call is about, for the table below.
enum Subject { kOwn, kEntryFile, kList, kOtherSubject };

Subject SubjectOf(const FakeCall& call) {
  std::string game = std::string(kGame) + "\\";
  if (call.path == kOwnPath) return kOwn;
  if (call.path.compare(0, game.size(), game) != 0) return kOtherSubject;
  std::string name = call.path.substr(game.size());
  return name.compare(0, 10, "uninst.lst") == 0 ? kList : kEntryFile;
}

Outcome Expect(size_t n) {
  const CleanRun& clean = Clean();
  const FakeCall& call = clean.trace[n - 1];
  const Outcome kUntouched = {0, 0, false};
  const Outcome kComplete = {0, clean.targets.size(), true};
  Outcome unwritten = kUntouched;
  const std::string& name = call.name;
  Subject subject = SubjectOf(call);
  bool before_staging = true;
  for (size_t i = 0; i + 1 < n; i++) {
    if (clean.trace[i].name == "CreateNewFile") before_staging = false;
  }
  if (name == "CloseFileHandle" || name == "CloseNamedMutex" ||
      name == "CloseRegistryKey" || name == "FreePages" || name == "Sleep" ||
      name == "HardenProcess" || name == "ClearFileAttributes" ||
      name == "RestoreFileAttributes" || name == "RemoveFile" ||
      (name == "GetPathKind" && IsTemporary(call.path))) {
    // Closing, freeing, waiting, and clearing a temporary file's name,
    // which is looked at again: nothing to fail.
    return kComplete;
  }
  if (name == "CreateNamedMutex") {
    unwritten.code =
        call.path == kUpdaterMutexName ? kExitAnotherUpdater : kExitGameRunning;
  } else if (name == "OpenMachineRegistryKey" || name == "QueryRegistryValue") {
    unwritten.code = kExitNotInstalled;
  } else if (name == "ShowMessageBox") {
    if (call.path != kTextConfirm) return kComplete;  // the last box
    unwritten.code = kExitDeclined;
  } else if (name == "FlushFolder") {
    return n == clean.moves_flushed
               ? Outcome{static_cast<int>(kResultCannotWrite),
                         clean.targets.size(), false}
               : Outcome{static_cast<int>(kResultUninstallListFailed),
                         clean.targets.size(), true};
  } else if (name == "AllocatePages") {
    unwritten.code = static_cast<int>(kResultPayloadUnreadable);
  } else if (subject == kOwn) {
    // Reading the verification list is the one read whose failure only
    // leaves the entries unchecked.
    bool list_read = before_staging && name != "OpenOwnExecutable" &&
                     name != "GetFileLength" &&
                     call.position >= kPayloadOffset + 16 + 32 * 4;
    if (list_read) return kComplete;
    unwritten.code = static_cast<int>(kResultPayloadUnreadable);
  } else if (subject == kList) {
    return Outcome{static_cast<int>(kResultUninstallListFailed),
                   clean.targets.size(), false};
  } else if (subject == kEntryFile &&
             (name == "GetPathKind" || name == "CreateNewFile" ||
              name == "WriteFileBytes" || name == "FlushFileToDisk" ||
              name == "FileIsFree" || name == "MoveFileOver")) {
    unwritten.code = static_cast<int>(kResultCannotWrite);
    for (size_t i = 0; name == "MoveFileOver" && i < clean.targets.size();
         i++) {
      if (clean.targets[i] == call.path) unwritten.moved = i;
    }
  } else {
    ADD_FAILURE() << "no outcome known for call " << n << " " << name;
  }
  return unwritten;
}

// Each call failing once: the result its failure calls for, the game as
// that result promises, nothing left behind in the folder or the process.
TEST(UpdateFlowPowerCutTest, EveryCallFailsOnce) {
  const CleanRun& clean = Clean();
  std::map<int, int> results;
  for (size_t n = 1; n <= clean.trace.size(); n++) {
    FakePlatform fake;
    MakeWorld(&fake);
    fake.FailCall(n, kFileErrorOther);
    int code = RunUpdate(&fake);
    Outcome expected = Expect(n);
    const FakeCall& call = clean.trace[n - 1];
    std::string at = "call " + std::to_string(n) + " " + call.name + " " +
                     call.path.substr(0, 40);
    EXPECT_EQ(code, expected.code) << at;
    EXPECT_EQ(Summary(fake.Snapshot(kGame)),
              Summary(Mixed(expected.moved, expected.list_merged)))
        << at;
    EXPECT_EQ(fake.OpenHandles(), 0u) << at;
    EXPECT_EQ(fake.PagesHeld(), 0u) << at;
    EXPECT_EQ(fake.MutexesHeld(), 0u) << at;
    results[code]++;
  }
  // Every kind of result was reached.
  for (int code : {0, kExitAnotherUpdater, kExitGameRunning, kExitNotInstalled,
                   kExitDeclined, static_cast<int>(kResultPayloadUnreadable),
                   static_cast<int>(kResultCannotWrite),
                   static_cast<int>(kResultUninstallListFailed)}) {
    EXPECT_GT(results[code], 0) << code;
  }
  RecordProperty("failure_points", static_cast<int>(clean.trace.size()));
}

// A file held for a moment, as a scanner holds each new file, or a call
// that finds a file busy once, is waited for; a file held throughout ends
// the run before the first move.
TEST(UpdateFlowPowerCutTest, BusyFilesAreWaitedFor) {
  const CleanRun& clean = Clean();
  for (size_t n = 1; n <= clean.trace.size(); n++) {
    const std::string& name = clean.trace[n - 1].name;
    if (name != "CreateNewFile" && name != "FileIsFree" &&
        name != "MoveFileOver") {
      continue;
    }
    FakePlatform fake;
    MakeWorld(&fake);
    fake.FailCall(n, kFileErrorBusy);
    EXPECT_EQ(RunUpdate(&fake), 0) << "busy once at call " << n << " " << name;
    EXPECT_EQ(Summary(fake.Snapshot(kGame)), Summary(clean.new_game)) << n;
  }
  const std::string target = std::string(kGame) + "\\movie\\op.dat";
  for (uint32_t held_ms : {300u, 0u}) {
    FakePlatform fake;
    MakeWorld(&fake);
    fake.HoldFile(target, held_ms);
    int code = RunUpdate(&fake);
    if (held_ms != 0) {
      EXPECT_EQ(code, 0);
      EXPECT_EQ(Summary(fake.Snapshot(kGame)), Summary(clean.new_game));
    } else {
      EXPECT_EQ(code, static_cast<int>(kResultCannotWrite));
      EXPECT_EQ(Summary(fake.Snapshot(kGame)), Summary(clean.old_game));
      // About two seconds of waiting, not more.
      EXPECT_GE(fake.clock_ms(), 1500u);
      EXPECT_LE(fake.clock_ms(), 2500u);
    }
  }
}

// The memory a run takes is the same for an entry of a few bytes and one
// of many pieces: one piece buffer.
TEST(UpdateFlowPowerCutTest, MemoryIsOnePieceWhateverTheEntries) {
  FakePlatform fake;
  MakeWorld(&fake);
  ASSERT_EQ(RunUpdate(&fake), 0);
  EXPECT_EQ(fake.PeakPages(), kPieceSize);
}

}  // namespace
