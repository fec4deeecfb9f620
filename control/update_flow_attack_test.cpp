// Another program, one that may write the game's folder, its parent or the
// folder the update was started from, acts just before one call of a whole
// update: it renames, replaces, removes or links (symbolically or hard) a
// name there. Every attack of the table is tried before every call. The
// verdict reads the world alone: nothing outside the game's folder is read
// into it, changed or removed; every file of the game that the attacker
// did not touch is its old version or the new one of the update the player
// started, never another update's; and the done box comes only when the
// game is what that update brings.
#include <malloc.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "control/texts.h"
#include "control/update_flow.h"
#include "gtest/gtest.h"
#include "payload/payload_archive.h"
#include "testing/fake_platform.h"
#include "testing/update_bytes.h"

namespace {

const char kOwn[] = "C:\\Users\\Zoe\\Downloads\\setup.exe";
const char kOther[] = "C:\\Users\\Zoe\\Downloads\\other.exe";
const char kGame[] = "C:\\Games\\Lumenhollow";
const char kOutside[] = "C:\\Windows\\System32";
const char kSecret[] = "the system's secret";
const char kOldList[] = "game.exe\ndata1.arc\nmovie\\op.dat\n";

std::string In(const std::string& folder, const std::string& name) {
  return folder + "\\" + name;
}
std::string InGame(const std::string& name) { return In(kGame, name); }
std::string Outside(const std::string& name) { return In(kOutside, name); }

// The update the player started: a file of a piece and a half, a file in a
// folder, a new file and the verification list.
const std::vector<TestEntry>& Started() {
  static const std::vector<TestEntry>* started = [] {
    return new std::vector<TestEntry>(
        WithListOfAll({{"data1.arc", Pattern(kPieceSize + 4096)},
                       {"movie\\op.dat", "new op"},
                       {"new.arc", "a new file"}}));
  }();
  return *started;
}

// The game before the update, file by file.
std::map<std::string, std::string> OldGame() {
  return {{"game.exe", "game 1.0"},
          {"data1.arc", "old data"},
          {"movie\\op.dat", "old op"},
          {"uninst.lst", Z(kOldList)}};
}

std::map<std::string, std::string> MakeNewGame() {
  std::map<std::string, std::string> game = OldGame();
  std::string list = kOldList;
  for (const TestEntry& e : Started()) {
    game[e.name] = e.data;
    if (list.find(e.name + "\n") == std::string::npos) list += e.name + "\n";
  }
  game["uninst.lst"] = Z(list);
  return game;
}

const std::map<std::string, std::string>& NewGame() {
  static const auto* game =
      new std::map<std::string, std::string>(MakeNewGame());
  return *game;
}

const FakePlatform& World() {
  static const FakePlatform* world = [] {
    FakePlatform* fake = new FakePlatform();
    for (const auto& file : OldGame()) {
      fake->AddFile(InGame(file.first), file.second, file.first == "data1.arc");
    }
    // What links could lead the run to: a system folder holding files of
    // the entries' names, read-only ones, and a secret.
    for (const char* name : {"op.dat", "data1.arc", "new.arc", "uninst.lst"}) {
      fake->AddFile(Outside(name), "system file");
    }
    fake->AddFile(Outside("movie\\op.dat"), "system file");
    fake->AddFile(Outside("cache.updating"), "system file", true);
    fake->AddFile(Outside("driver.sys"), "system file", true);
    fake->AddFile(Outside("secret.txt"), Z(kSecret));
    // Another update beside the player's, which an attacker may put at its
    // name: another game.exe and a name of its own for the uninstall list.
    fake->AddFile(
        kOther, UpdaterFile(BuildPayload({{"game.exe", "another game"},
                                          {"evil.dll", "another update's"}})));
    fake->SetOwnExecutable(kOwn, UpdaterFile(BuildPayload(Started())));
    std::string key = std::string(kRegistryKeyPart1) + "\\" +
                      kRegistryKeyPart2 + "\\" + kRegistryKeyPart3;
    fake->SetRegistryValue(key, kInstalledFolderValue, kRegistryValueSz,
                           Z(kGame));
    return fake;
  }();
  return *world;
}

// One act of the attacker, and the names of the game it touches itself:
// what stands there after is its doing, not the run's. One on the own file
// changes nothing once the run holds it.
struct Attack {
  const char* what;
  std::vector<std::string> touched;
  std::function<void(FakePlatform*)> act;
  bool on_own_file = false;
};

// Puts something else at path, where another process may remove what
// stands there (a file held without sharing deletion it may not).
void Instead(FakePlatform* f, const std::string& path,
             const std::function<void()>& put) {
  if (f->KindOf(path) == kPathMissing || f->RemoveAsOther(path)) put();
}

std::vector<Attack> Attacks() {
  auto link = [](const std::string& path, const std::string& target) {
    return [path, target](FakePlatform* f) {
      Instead(f, path, [&] { f->AddLink(path, target); });
    };
  };
  auto hard_link = [](const std::string& path, const std::string& target) {
    return [path, target](FakePlatform* f) {
      Instead(f, path, [&] { f->AddHardLink(path, target); });
    };
  };
  auto swap_for_link = [](const std::string& path, const std::string& target) {
    return [path, target](FakePlatform* f) {
      if (f->MoveAsOther(path, path + ".away")) f->AddLink(path, target);
    };
  };
  return {
      {"the own file renamed away, another update put at its name",
       {},
       [](FakePlatform* f) {
         if (f->MoveAsOther(kOwn, std::string(kOwn) + ".away")) {
           f->AddFile(kOwn, f->DataOf(kOther));
         }
       },
       true},
      {"the own file replaced by a link to another update",
       {},
       link(kOwn, kOther),
       true},
      {"the own file replaced by a hard link to another update",
       {},
       hard_link(kOwn, kOther),
       true},
      {"the install folder swapped for a link",
       {},
       swap_for_link(kGame, kOutside)},
      {"a folder part swapped for a link",
       {"movie\\op.dat"},
       swap_for_link(InGame("movie"), kOutside)},
      {"the uninstall list swapped for a link to a secret",
       {"uninst.lst"},
       link(InGame("uninst.lst"), Outside("secret.txt"))},
      {"the uninstall list swapped for a hard link to a secret",
       {"uninst.lst"},
       hard_link(InGame("uninst.lst"), Outside("secret.txt"))},
      {"a target swapped for a hard link to a read-only file",
       {"data1.arc"},
       hard_link(InGame("data1.arc"), Outside("driver.sys"))},
      // A staged file's name the attacker takes decides what its entry
      // becomes, as any write into the folder after the run would.
      {"a hard link to a read-only file at a temporary name",
       {"data1.arc"},
       hard_link(InGame("data1.arc.updating"), Outside("driver.sys"))},
      {"a link at a temporary name",
       {},
       link(InGame("movie\\op.dat.updating"), Outside("op.dat"))},
      {"a link at a staged file's name",
       {},
       link(InGame("data1.arc.updating"), Outside("data1.arc"))},
      {"a target turned into a link",
       {"data1.arc"},
       link(InGame("data1.arc"), Outside("data1.arc"))},
      {"a new target planted as a link",
       {"new.arc"},
       link(InGame("new.arc"), Outside("new.arc"))},
      {"a link at the list's temporary name",
       {},
       link(InGame("uninst.lst.updating"), Outside("uninst.lst"))},
      {"a hard link to a read-only file at the list's temporary name",
       {"uninst.lst"},
       hard_link(InGame("uninst.lst.updating"), Outside("driver.sys"))},
      {"a target renamed away",
       {"data1.arc"},
       [](FakePlatform* f) {
         f->MoveAsOther(InGame("data1.arc"), InGame("data1.arc.away"));
       }},
  };
}

// Every file and link under folder, with a file's read-only attribute.
std::map<std::string, std::string> Outline(const FakePlatform& fake,
                                           const std::string& folder) {
  std::map<std::string, std::string> files = fake.Snapshot(folder);
  for (auto& file : files) {
    if (fake.IsReadOnly(In(folder, file.first))) file.second += " (read-only)";
  }
  return files;
}

// What is wrong with the world after the run, judged by the promise; ""
// when nothing is.
std::string Judge(const FakePlatform& fake, const Attack& attack,
                  const std::map<std::string, std::string>& outside) {
  if (Outline(fake, kOutside) != outside) return "the outside changed";
  // The game where the attacker left it: moved away, if it was.
  std::string game =
      fake.KindOf(kGame) == kPathFolder ? kGame : std::string(kGame) + ".away";
  std::map<std::string, std::string> now = fake.Snapshot(game);
  for (const auto& file : now) {
    bool own_name = fake.LinkCount(In(game, file.first)) > 1;
    if (file.second.find(kSecret) != std::string::npos && !own_name) {
      return "the secret was read into " + file.first;
    }
  }
  if (now.count("evil.dll") != 0 ||
      now["uninst.lst"].find("evil.dll") != std::string::npos) {
    return "another update was installed";
  }
  std::map<std::string, std::string> old_game = OldGame(), new_game = NewGame();
  bool all_new = true;
  for (const auto& file : new_game) {
    bool touched = false;
    for (const std::string& name : attack.touched)
      touched |= name == file.first;
    if (touched) continue;
    auto at = now.find(file.first);
    std::string there = at == now.end() ? "<missing>" : at->second;
    std::string old =
        old_game.count(file.first) != 0 ? old_game[file.first] : "<missing>";
    if (there != old && there != file.second) {
      return file.first + " is neither old nor new";
    }
    all_new &= there == file.second;
  }
  bool done = false;
  for (const FakeBox& box : fake.boxes()) done |= box.text == kTextDone;
  if (done && !all_new) return "the done box, and the game is not all new";
  return "";
}

TEST(UpdateFlowAttackTest, NoAttackAtAnyCallGetsAnything) {
  // Each run copies a world of megabytes; taken from fresh mappings, their
  // pages' first touches cost this test 40 s instead of 2.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  FakePlatform clean = World();
  UsePlatform(&clean);
  ASSERT_EQ(RunUpdateFlow(), 0);
  UsePlatform(nullptr);
  const std::map<std::string, std::string> outside = Outline(World(), kOutside);
  // The first mutex, before which the own file is held.
  uint64_t mutex = 1;
  while (clean.trace()[mutex - 1].name != "CreateNamedMutex") mutex++;
  uint64_t tried = 0;
  std::map<int, int> results;
  for (const Attack& attack : Attacks()) {
    // A few calls past the end, where the attacker comes too late.
    for (uint64_t n = 1; n <= clean.calls() + 2; n++) {
      FakePlatform fake = World();
      fake.SetBeforeCall([&fake, n, &attack](const FakeCall&) {
        if (fake.calls() == n) attack.act(&fake);
      });
      UsePlatform(&fake);
      int code = RunUpdateFlow();
      UsePlatform(nullptr);
      tried++;
      results[code]++;
      std::string at = std::string(attack.what) + " before call " +
                       std::to_string(n) + " (" +
                       (n <= clean.calls() ? clean.trace()[n - 1].name : "-") +
                       "), exit code " + std::to_string(code);
      ASSERT_EQ(Judge(fake, attack, outside), "") << at;
      // The own file is held from before the mutexes and the question: the
      // player's update installs whatever is done to its name from then on.
      if (attack.on_own_file && n >= mutex) ASSERT_EQ(code, 0) << at;
    }
  }
  // The attacks were felt: runs refused, others complete.
  EXPECT_GT(results[0], 0);
  EXPECT_GT(results[static_cast<int>(kResultPayloadUnreadable)], 0);
  EXPECT_GT(results[static_cast<int>(kResultCannotWrite)], 0);
  EXPECT_GT(results[static_cast<int>(kResultUninstallListFailed)], 0);
  RecordProperty("runs", static_cast<int>(tried));
}

}  // namespace
