// Writes the starting corpus of each fuzz target into <folder>/<target>/:
// small, well-formed and broken examples of each input, built by the tests'
// encoder of the records (testing/update_bytes.h).
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "payload/payload_archive.h"
#include "payload/verification_list.h"
#include "testing/update_bytes.h"

namespace {

void Put(const std::string& folder, const std::string& target,
         const std::string& name, const std::string& bytes) {
  std::string path = folder + "/" + target + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  Check(f != nullptr &&
            fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() &&
            fclose(f) == 0,
        path.c_str());
}

void UpdateFiles(const std::string& out) {
  const char* t = "update_file";
  std::string data(300, '\0');
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>(i * 7);
  std::string list =
      BuildVerificationList({{"data.arc", ChecksumOf(data)},
                             {"readme.txt", ChecksumOf("not the readme")},
                             {"unused.arc", ChecksumOf("")}});
  Put(out, t, "empty_directory", BuildPayload({}));
  Put(out, t, "two_entries",
      BuildPayload({{"a.arc", "alpha"}, {"B.TXT", "bee"}}));
  Put(out, t, "verified_and_mismatch",
      BuildPayload(
          {{"Data.ARC", data}, {"VRX.hvl", list}, {"readme.txt", "hi"}}));
  Put(out, t, "list_with_wrong_magic",
      BuildPayload({{"a", "A"},
                    {"vrx.hvl", BuildVerificationList({{"a", ChecksumOf("B")}},
                                                      "KPL____X")}}));
  std::vector<TestEntry> many(kMaxEntries + 1, TestEntry{"f", "x"});
  Put(out, t, "too_many_entries", BuildPayload(many));
  std::string past = BuildPayload({{"a", "alpha"}, {"b", "beta"}});
  PatchEntry(&past, 1, 5, 5);  // one byte more than is there
  Put(out, t, "entry_past_the_end", past);
  std::string huge = BuildPayload({{"huge.arc", "h"}});
  PatchEntry(&huge, 0, 0, 0xFFFFFFFFu);
  Put(out, t, "entry_of_4_gib", huge);
  Put(out, t, "name_without_terminator",
      BuildPayload({{"sixteen-chars.xx", "1"}}));
  // A list whose count claims 2 GiB of records in an entry of one.
  std::string claims = BuildVerificationList({{"a", ChecksumOf("a")}});
  claims[12] = 3;
  claims[15] = 2;
  Put(out, t, "list_count_beyond_its_entry",
      BuildPayload({{"a", "a"}, {"vrx.hvl", claims}}));
  // A count that fits an entry which says it is 2 GiB long, past the end.
  std::string fits = claims;
  fits[12] = '\xF0';
  fits[13] = fits[14] = '\xFF';
  fits[15] = 1;
  std::string past_end = BuildPayload({{"vrx.hvl", fits}});
  PatchEntry(&past_end, 0, 0, 0x7FFFFF00u);
  Put(out, t, "list_entry_past_the_end", past_end);
}

void VerificationLists(const std::string& out) {
  const char* t = "verification_list";
  std::string long_name(55, 'n');
  std::string list =
      BuildVerificationList({{"data.arc", ChecksumOf("data")},
                             {"Data.Arc", ChecksumOf("second, never used")},
                             {long_name, ChecksumOf("long")},
                             {long_name + "!", ChecksumOf("no terminator")}});
  Put(out, t, "names_in_any_case",
      JoinInput({"data.arc", "DATA.ARC", "missing", long_name}, list));
  Put(out, t, "empty_list", JoinInput({"a"}, BuildVerificationList({})));
  Put(out, t, "wrong_magic",
      JoinInput({"a"},
                BuildVerificationList({{"a", ChecksumOf("a")}}, "kpl_____")));
  std::string cut =
      BuildVerificationList({{"a", ChecksumOf("a")}, {"b", ChecksumOf("b")}});
  cut.resize(cut.size() - 1);
  Put(out, t, "records_past_the_end", JoinInput({"a", "b"}, cut));
}

void UninstallLists(const std::string& out) {
  const char* t = "uninstall_list";
  std::string plain(1, '\0');
  Put(out, t, "one_present_one_new",
      JoinInput({"b.arc", "a.arc"}, plain + Z("a.arc\n")));
  Put(out, t, "substring_and_case",
      JoinInput({"data.arc", "OLDDATA.ARC"}, plain + Z("data\\olddata.arc\n")));
  Put(out, t, "no_terminator", JoinInput({"new"}, plain + "a.arc\n"));
  Put(out, t, "two_terminators", JoinInput({"new"}, plain + Z("a\0b\n")));
  Put(out, t, "empty_file", JoinInput({"new"}, plain));
  Put(out, t, "just_the_terminator", JoinInput({"a", "a"}, plain + Z("")));
  Put(out, t, "empty_names", JoinInput({"", "", "", ""}, plain + Z("")));
  // Filled to 7 bytes short of the buffer: abcdef fits, abcdefg does not.
  Put(out, t, "near_the_limit",
      JoinInput({"abcdef"}, std::string(1, '\x8F') + Z("tail\n")));
  Put(out, t, "over_the_limit",
      JoinInput({"abcdefg"}, std::string(1, '\x8F') + Z("tail\n")));
}

void ChecksumInputs(const std::string& out) {
  const char* t = "checksum";
  std::string zero(9, '\0');
  Put(out, t, "abc", zero + "abc");
  std::string state("\xff\xff\xff\xff\x80\x7f\x01\xfe", 8);
  std::string run(256 + 32 + 15, '\0');
  for (size_t i = 0; i < run.size(); i++) run[i] = static_cast<char>(i * 233);
  Put(out, t, "runs_and_blocks_cut", state + "\x63" + run);
  Put(out, t, "all_ones", state + "\x10" + std::string(1000, '\xff'));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  UpdateFiles(argv[1]);
  VerificationLists(argv[1]);
  UninstallLists(argv[1]);
  ChecksumInputs(argv[1]);
  return 0;
}
