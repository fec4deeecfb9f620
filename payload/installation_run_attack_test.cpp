// What killed runs left in the install folder, of this update or another:
// swept before staging, and never what lies outside or what only looks
// like it. (Another process acting at each call of a whole update:
// control/update_flow_attack_test.cpp.)
#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "payload/installation_run.h"
#include "payload/payload_archive.h"
#include "platform/platform.h"
#include "testing/fake_platform.h"
#include "testing/update_bytes.h"

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
