// Another process that may write the game's folder acts just before each
// call of a whole update, once: it swaps a folder part for a link, plants a
// link at a temporary file's name, turns a target into a link, or plants a
// link at the uninstall list's temporary name. Whatever it does, the
// elevated run must never change a byte outside the install folder, and
// what it reports must be true of the files it was not steered away from.
#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "payload/installation_run.h"
#include "payload/payload_archive.h"
#include "platform/file_replace.h"
#include "platform/platform.h"
#include "testing/fake_platform.h"
#include "testing/update_bytes.h"
#include "uninstall/uninstall_list.h"

namespace {

const char kOwnPath[] = "C:\\Users\\Zoe\\Downloads\\setup.exe";
const char kGame[] = "C:\\Games\\Lumenhollow";
const char kOutside[] = "C:\\Windows\\System32";

std::string InGame(const std::string& name) {
  return std::string(kGame) + "\\" + name;
}

std::vector<TestEntry> Entries() {
  return {{"data1.arc", Pattern(3 * kPieceSize / 2)},
          {"movie\\op.dat", "new op"},
          {"new.arc", "a new file"}};
}

void MakeWorld(FakePlatform* fake) {
  fake->AddFile(InGame("game.exe"), "game 1.0");
  fake->AddFile(InGame("data1.arc"), "old data");
  fake->AddFile(InGame("movie\\op.dat"), "old op");
  fake->AddFile(InGame("uninst.lst"), Z("game.exe\ndata1.arc\n"));
  // What a link would lead the run to: a system folder with files of the
  // entries' names.
  for (const char* name : {"op.dat", "data1.arc", "new.arc", "uninst.lst"}) {
    fake->AddFile(std::string(kOutside) + "\\" + name, "system file");
  }
  fake->SetOwnExecutable(kOwnPath, UpdaterFile(BuildPayload(Entries())));
}

// One act of the attacker, and the entry it aims at ("" for none): that
// entry's outcome is the attacker's doing, not the run's.
struct Attack {
  const char* what;
  const char* aimed;
  std::function<void(FakePlatform*)> act;
};

// Replaces whatever another process may remove at name by a link.
void LinkInstead(FakePlatform* fake, const std::string& name,
                 const std::string& target) {
  if (fake->KindOf(name) != kPathMissing && !fake->RemoveAsOther(name)) return;
  fake->AddLink(name, target);
}

std::vector<Attack> Attacks() {
  std::string out = kOutside;
  return {
      {"folder part swapped for a link", "movie\\op.dat",
       [out](FakePlatform* f) {
         if (f->MoveAsOther(InGame("movie"), InGame("movie.away"))) {
           f->AddLink(InGame("movie"), out);
         }
       }},
      {"link at a temporary file's name", "movie\\op.dat",
       [out](FakePlatform* f) {
         LinkInstead(f, InGame("movie\\op.dat.updating"), out + "\\op.dat");
       }},
      {"link at a staged file's name", "data1.arc",
       [out](FakePlatform* f) {
         LinkInstead(f, InGame("data1.arc.updating"), out + "\\data1.arc");
       }},
      {"target turned into a link", "data1.arc",
       [out](FakePlatform* f) {
         LinkInstead(f, InGame("data1.arc"), out + "\\data1.arc");
       }},
      {"new target planted as a link", "new.arc",
       [out](FakePlatform* f) {
         LinkInstead(f, InGame("new.arc"), out + "\\new.arc");
       }},
      {"link at the list's temporary name", "",
       [out](FakePlatform* f) {
         LinkInstead(f, InGame("uninst.lst.updating"), out + "\\uninst.lst");
       }},
  };
}

// Runs the update with the attack just before call n (never when 0).
ResultCode RunAttacked(FakePlatform* fake, uint64_t n, const Attack& attack) {
  MakeWorld(fake);
  fake->SetBeforeCall([fake, n, &attack](const FakeCall&) {
    if (fake->calls() == n) attack.act(fake);
  });
  UsePlatform(fake);
  ResultCode result = InstallPayload(kOwnPath, kGame);
  UsePlatform(nullptr);
  return result;
}

TEST(InstallationAttackTest, NoCallIsSteeredOutOfTheFolder) {
  FakePlatform clean;
  ASSERT_EQ(RunAttacked(&clean, 0, Attacks()[0]), kResultOk);
  const std::map<std::string, std::string> outside_before = [] {
    FakePlatform world;
    MakeWorld(&world);
    return world.Snapshot(kOutside);
  }();
  uint64_t tried = 0;
  for (const Attack& attack : Attacks()) {
    // A few calls past the end, where the attacker comes too late.
    for (uint64_t n = 1; n <= clean.calls() + 2; n++) {
      FakePlatform fake;
      ResultCode result = RunAttacked(&fake, n, attack);
      tried++;
      std::string at = std::string(attack.what) + " before call " +
                       std::to_string(n) + " (" +
                       (n <= clean.calls() ? clean.trace()[n - 1].name : "-") +
                       "), result " + std::to_string(result);
      ASSERT_EQ(fake.Snapshot(kOutside), outside_before) << at;
      // The entries the attacker did not aim at are what the result says.
      for (const TestEntry& e : Entries()) {
        if (e.name == attack.aimed) continue;
        std::string now = fake.DataOf(InGame(e.name));
        if (result == kResultOk || result == kResultUninstallListFailed) {
          EXPECT_EQ(now, e.data) << e.name << ": " << at;
        } else if (result != kResultCannotWrite) {
          EXPECT_NE(now, e.data) << e.name << ": " << at;
        }
      }
    }
  }
  EXPECT_GT(tried, 6 * clean.calls());
}

}  // namespace

namespace {

// What killed runs of this update or another left is swept before staging:
// every file or link named as a temporary file, in the install folder and
// below; a link is removed itself, never entered or followed, and a folder
// so named is left as it is.
TEST(InstallationAttackTest, LeftoversOfAnyRunAreSwept) {
  for (bool damaged : {false, true}) {
    FakePlatform fake;
    MakeWorld(&fake);
    std::vector<TestEntry> entries = Entries();
    if (damaged) {
      entries.push_back({"vrx.hvl", BuildVerificationList({{"new.arc", {}}})});
    }
    fake.SetOwnExecutable(kOwnPath, UpdaterFile(BuildPayload(entries)));
    fake.AddFile(InGame("old.dat.updating"), "left by another update");
    fake.AddFile(InGame("movie\\gone.UPDATING"), "left", true);
    fake.AddFile(std::string(kOutside) + "\\x.updating", "system file");
    fake.AddLink(InGame("movie\\link.updating"),
                 kOutside + std::string("\\op.dat"));
    fake.AddLink(InGame("sys.updating"), kOutside);
    fake.AddFile(InGame("kept.updating\\inside.updating"), "a folder's");
    // Game files whose names only hold the suffix are the game's.
    fake.AddFile(InGame("a.updating.x"), "a game file");
    fake.AddFile(InGame("movie\\x.UPDATINGx"), "a game file");
    std::map<std::string, std::string> outside = fake.Snapshot(kOutside);
    UsePlatform(&fake);
    ResultCode result = InstallPayload(kOwnPath, kGame);
    UsePlatform(nullptr);
    EXPECT_EQ(result, damaged ? kResultChecksumMismatch : kResultOk);
    std::map<std::string, std::string> game = fake.Snapshot(kGame);
    for (const char* gone : {"old.dat.updating", "movie\\gone.UPDATING",
                             "movie\\link.updating", "sys.updating"}) {
      EXPECT_EQ(game.count(gone), 0u) << gone << " damaged " << damaged;
    }
    EXPECT_EQ(game["kept.updating"], "<folder>");
    EXPECT_EQ(game["a.updating.x"], "a game file");
    EXPECT_EQ(game["movie\\x.UPDATINGx"], "a game file");
    EXPECT_EQ(fake.Snapshot(kOutside), outside);
    // A run that fails before its moves leaves the game's files as they were.
    EXPECT_EQ(game["data1.arc"], damaged ? "old data" : Entries()[0].data);
  }
}

}  // namespace
