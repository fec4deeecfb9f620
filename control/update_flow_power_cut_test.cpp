// The whole update on the fake system, tried at every call it makes: the
// power cut there (what was made durable stays, and of the rest what a
// real disk may keep: CrashState), the process killed there (the system's
// cache stays), and the call failing once. Each crash is judged from the
// old and the new release alone: every file whole, the game one release
// outside the moves, all new once the end was reported; and a second run
// must complete the update. Each failure must end in the result it calls
// for, nothing left open or held.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>
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
  return WithListOfAll({{"data1.arc", Pattern(5 * kPieceSize / 2)},
                        {"movie\\op.dat", "new op"},
                        {"new.arc", "a new file"}});
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

// How the uninstall list stands before the update: there, missing, or
// read-only (which the run refuses to replace).
enum ListState { kListThere, kListMissing, kListReadOnly };

void MakeWorld(FakePlatform* fake, ListState list) {
  // Made once for each list state and copied: the update is megabytes.
  static std::map<ListState, FakePlatform>* made =
      new std::map<ListState, FakePlatform>();
  if (made->count(list) == 0) {
    FakePlatform& world = (*made)[list];
    MakeWorld(&world);
    std::string path = std::string(kGame) + "\\uninst.lst";
    if (list == kListMissing) world.RemoveAsOther(path);
    if (list == kListReadOnly) world.AddFile(path, Z(kOldList), true);
  }
  *fake = made->at(list);
}

// The list merged by the list format's rule: each name not found anywhere
// in the text (letter case counting), appended on a line of its own.
std::string MergedList(std::string text, const std::vector<TestEntry>& in) {
  for (const TestEntry& e : in) {
    if (text.find(e.name) == std::string::npos) text += e.name + "\n";
  }
  return Z(text);
}

// The old and the new release as they lie in the install folder, from the
// world and the update alone: what every verdict below is drawn from.
struct Releases {
  Folder old_game, new_game;
};

Releases MakeReleases(ListState list) {
  FakePlatform fake;
  MakeWorld(&fake, list);
  Releases r;
  r.old_game = r.new_game = fake.Snapshot(kGame);
  for (const TestEntry& e : Entries()) r.new_game[e.name] = e.data;
  if (list == kListThere) {
    r.new_game["uninst.lst"] = MergedList(kOldList, Entries());
  }
  return r;
}

enum Verdict { kAllOld, kAllNew, kMixed };

// Judges what is in the folder after a crash: every file its old or its
// new version (a file of one release alone may be missing), nothing else
// but temporary files, and the list merged only once every entry is new.
// Returns why not, or "" with the verdict.
std::string Judge(const Releases& r, const Folder& found, Verdict* verdict) {
  std::map<std::string, bool> names;
  for (const auto& f : r.old_game) names[f.first] = true;
  for (const auto& f : r.new_game) names[f.first] = true;
  bool any_old = false, any_new = false, list_new = false;
  for (const auto& name : names) {
    auto at = found.find(name.first);
    auto old_file = r.old_game.find(name.first);
    auto new_file = r.new_game.find(name.first);
    bool present = at != found.end();
    bool is_old = old_file == r.old_game.end()
                      ? !present
                      : present && at->second == old_file->second;
    bool is_new = new_file == r.new_game.end()
                      ? !present
                      : present && at->second == new_file->second;
    if (!is_old && !is_new) {
      return name.first + " is neither old nor new: " +
             (present ? std::to_string(at->second.size()) + " bytes"
                      : std::string("missing"));
    }
    if (is_old != is_new) (is_old ? any_old : any_new) = true;
    if (name.first == "uninst.lst" && !is_old) list_new = true;
  }
  for (const auto& f : found) {
    if (names.count(f.first) == 0 && !IsTemporary(f.first)) {
      return f.first + " belongs to neither release";
    }
  }
  if (list_new && any_old) return "the list merged before every entry is new";
  *verdict = any_old && any_new ? kMixed : any_new ? kAllNew : kAllOld;
  return "";
}

// The states of a power cut tried at a crash point: each way of keeping the
// folders' unflushed names with each way of losing unflushed data that
// leaves a file neither old nor new. Where nothing of one kind is unflushed
// its ways leave the same disk, and one stands for them all.
std::vector<CrashState> CrashStates(const FakePlatform& cut) {
  std::vector<CrashNames> names = {kNamesNone};
  if (cut.HasUnflushedNames()) {
    names = {kNamesNone, kNamesHalf, kNamesAll, kNamesOddFolders,
             kNamesEvenFolders};
  }
  std::vector<CrashData> data = {kDataDropped};
  if (cut.HasUnflushedData()) data = {kDataDropped, kDataPrefix, kDataZeros};
  std::vector<CrashState> states;
  for (CrashNames n : names) {
    for (CrashData d : data) {
      CrashState state;
      state.names = n;
      state.data = d;
      states.push_back(state);
    }
  }
  return states;
}

const char* const kNamesShown[] = {"no", "half the", "all", "odd folders'",
                                   "even folders'"};
const char* const kDataShown[] = {"dropped", "a prefix of", "zeros for", "all"};

// The folder's names and bytes in one string, to know a disk seen before.
std::string Fingerprint(const Folder& folder) {
  std::string out;
  for (const auto& file : folder) {
    uint64_t hash = 14695981039346656037u;
    for (char c : file.second) {
      hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211u;
    }
    out += file.first + " " + std::to_string(file.second.size()) + " " +
           std::to_string(hash) + "\n";
  }
  return out;
}

// What a crash at one point may leave, the second run after it, and whether
// any state showed the folder mixed. A second run starts from the disk
// alone, so after a power cut one from a disk already tried (seen) is not
// run again. Returns the first fault found, or "".
std::string TryCrashPoint(ListState list, size_t n, bool* mixed, size_t* tried,
                          std::set<std::string>* seen) {
  static std::map<ListState, Releases>* releases =
      new std::map<ListState, Releases>();
  if (releases->count(list) == 0) (*releases)[list] = MakeReleases(list);
  const Releases& r = releases->at(list);
  FakePlatform cut;
  MakeWorld(&cut, list);
  cut.CutPowerAtCall(n);
  RunUpdate(&cut);
  bool reported = false;
  for (const FakeBox& box : cut.boxes()) {
    reported |= box.text == kTextDone || box.text == kTextUninstallFailed;
  }
  const int expected = list == kListThere ? 0 : kResultUninstallListFailed;
  // Each state, and last the process killed (the cache kept).
  std::vector<CrashState> states = CrashStates(cut);
  for (size_t i = 0; i <= states.size(); i++) {
    bool kill = i == states.size();
    FakePlatform fake = cut;
    std::string at = "at call " + std::to_string(n) + ", ";
    if (kill) {
      fake.Restart();
      at += "the process killed";
    } else {
      fake.PowerCut(states[i]);
      at += std::string("a power cut keeping ") + kNamesShown[states[i].names] +
            " unflushed names and " + kDataShown[states[i].data] +
            " unflushed data";
    }
    (*tried)++;
    Verdict verdict;
    Folder game = fake.Snapshot(kGame);
    std::string why = Judge(r, game, &verdict);
    if (!why.empty()) return at + ": " + why;
    if (reported && verdict != kAllNew) {
      return at + ": success reported, yet the game is not all new";
    }
    *mixed |= verdict == kMixed;
    // A kill keeps attributes the cache changed, which the bytes do not
    // show; a power cut keeps those of the disk, the same for equal bytes.
    if (!kill && !seen->insert(Fingerprint(game)).second) continue;
    if (RunUpdate(&fake) != expected) return at + ": the next run fails";
    if (Summary(fake.Snapshot(kGame)) != Summary(r.new_game)) {
      return at + ": the next run leaves " + Summary(fake.Snapshot(kGame));
    }
    if (fake.DataOf(kOutside) != "not the game's") return at + ": outside";
  }
  return "";
}

size_t CallsOfCleanRun(ListState list) {
  FakePlatform fake;
  MakeWorld(&fake, list);
  RunUpdate(&fake);
  return fake.calls();
}

// Every call of an update is a crash point, and each state a power cut may
// leave there is judged by the promise: every file old or new, the game
// all old or all new but during its moves, all new once the end was
// reported; and the next run completes.
TEST(UpdateFlowPowerCutTest, EveryCallIsACrashPoint) {
  const size_t entries = Entries().size();
  const size_t calls = CallsOfCleanRun(kListThere);
  size_t tried = 0, first_mixed = 0, last_mixed = 0, mixed_points = 0;
  std::set<std::string> seen;
  for (size_t n = 1; n <= calls + 1; n++) {
    bool mixed = false;
    std::string fault = TryCrashPoint(kListThere, n, &mixed, &tried, &seen);
    ASSERT_EQ(fault, "");
    if (!mixed) continue;
    if (first_mixed == 0) first_mixed = n;
    last_mixed = n;
    mixed_points++;
  }
  // The moves: one stretch of crash points, no longer than two calls for
  // each move of an entry or the list (the move, and a folder's sync after
  // them all).
  EXPECT_EQ(mixed_points, first_mixed == 0 ? 0 : last_mixed - first_mixed + 1)
      << "the game was mixed at crash points " << first_mixed << " to "
      << last_mixed << " with old or new between";
  EXPECT_LE(mixed_points, 2 * (entries + 1))
      << "the game was mixed from crash point " << first_mixed << " to "
      << last_mixed;
  RecordProperty("crash_points", static_cast<int>(calls + 1));
  RecordProperty("crash_states", static_cast<int>(tried));
  RecordProperty("distinct_disks", static_cast<int>(seen.size()));
  RecordProperty("mixed_points", static_cast<int>(mixed_points));
}

// A run that cannot merge the list (it is missing, or read-only) reports
// that once every entry is in: its moves must be as durable as with the
// list merged, whatever the power cut keeps.
TEST(UpdateFlowPowerCutTest, RunWithoutTheListSyncsItsMoves) {
  for (ListState list : {kListMissing, kListReadOnly}) {
    bool mixed = false;
    size_t tried = 0;
    std::set<std::string> seen;
    EXPECT_EQ(
        TryCrashPoint(list, CallsOfCleanRun(list) + 1, &mixed, &tried, &seen),
        "")
        << (list == kListMissing ? "no list" : "a read-only list");
  }
}

// The calls of a complete update, for the tests that fail each one in
// turn: the entries' targets in directory order, and where the moves begin
// and the list's move is (1-based call numbers).
struct CleanRun {
  Folder old_game, new_game;
  std::vector<FakeCall> trace;
  std::vector<std::string> targets;
  size_t first_move = 0, list_move = 0, last_sync = 0;
};

CleanRun MakeCleanRun() {
  CleanRun run;
  Releases r = MakeReleases(kListThere);
  run.old_game = r.old_game;
  run.new_game = r.new_game;
  FakePlatform fake;
  MakeWorld(&fake);
  EXPECT_EQ(RunUpdate(&fake), 0);
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
      run.last_sync = i + 1;
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
  ASSERT_LT(clean.first_move, clean.list_move);
  ASSERT_LT(clean.list_move, clean.last_sync);
  // From the first move to the last sync, nothing but the moves and the
  // folders' syncs: nothing to read, write or wait for.
  for (size_t i = clean.first_move; i <= clean.last_sync; i++) {
    const std::string& name = clean.trace[i - 1].name;
    EXPECT_TRUE(name == "MoveFileOver" || name == "FlushFolder")
        << "call " << i << " in the moves: " << name;
  }
  RecordProperty("calls", static_cast<int>(clean.trace.size()));
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
  bool before_staging = true, in_sweep = false;
  for (size_t i = 0; i + 1 < n; i++) {
    if (clean.trace[i].name == "CreateNewFile") before_staging = false;
    if (clean.trace[i].name == "ListFolder") in_sweep = true;
    if (clean.trace[i].name == "GetPathKind") in_sweep = false;
  }
  if (name == "CloseFileHandle" || name == "CloseNamedMutex" ||
      name == "CloseRegistryKey" || name == "FreePages" || name == "Sleep" ||
      name == "HardenProcess" || name == "RemoveFile" ||
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
    return n < clean.list_move
               ? Outcome{static_cast<int>(kResultCannotWrite),
                         clean.targets.size(), false}
               : Outcome{static_cast<int>(kResultUninstallListFailed),
                         clean.targets.size(), true};
  } else if (name == "ListFolder" || name == "CloseFolder" ||
             (name == "OpenFolder" && in_sweep)) {
    // The sweep of what killed runs left is done as far as it can be.
    return kComplete;
  } else if (name == "OpenFolder" || name == "OpenFolderWithoutLinks") {
    unwritten.code = static_cast<int>(kResultCannotWrite);
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
              name == "CanMoveOver" || name == "MoveFileOver")) {
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
    if (name != "CreateNewFile" && name != "CanMoveOver" &&
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
