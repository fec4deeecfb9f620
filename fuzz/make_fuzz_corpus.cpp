// Writes the starting corpus of each fuzz target into <folder>/<target>/:
// small, well-formed and broken examples of each input, built with the
// updater's own record layouts and checksum.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "payload/payload_archive.h"
#include "payload/verification_list.h"

namespace {

std::string U32(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; i++) out += static_cast<char>(v >> (8 * i));
  return out;
}

struct Entry {
  std::string name;
  std::string data;
};

// Entries back to back in directory order; count_override replaces the
// stored count when not negative.
std::string Archive(const std::vector<Entry>& entries,
                    int64_t count_override = -1) {
  uint32_t count = count_override >= 0 ? static_cast<uint32_t>(count_override)
                                       : static_cast<uint32_t>(entries.size());
  std::string out = std::string(kPayloadMagic, 12) + U32(count);
  uint32_t offset = 0;
  for (const Entry& e : entries) {
    std::string name = e.name.substr(0, kEntryNameSize);
    name.resize(kEntryNameSize, '\0');
    out += name + U32(offset) + U32(static_cast<uint32_t>(e.data.size()));
    out.append(8, '\0');
    offset += static_cast<uint32_t>(e.data.size());
  }
  for (const Entry& e : entries) out += e.data;
  return out;
}

std::string Sum(const std::string& data) {
  EntryChecksum sum = ComputeEntryChecksum(
      reinterpret_cast<const uint8_t*>(data.data()), data.size());
  return std::string(reinterpret_cast<const char*>(&sum), sizeof(sum));
}

// Records of name and checksum; a name of 56 bytes or more fills its field
// without a terminator.
std::string List(const std::vector<std::pair<std::string, std::string>>& rows,
                 const char* magic = kVerificationMagic) {
  std::string out =
      std::string(magic, 8) + U32(0) + U32(static_cast<uint32_t>(rows.size()));
  for (const auto& row : rows) {
    std::string name = row.first.substr(0, kRecordNameSize);
    name.resize(kRecordNameSize, '\0');
    out += name + row.second;
  }
  return out;
}

std::string Z(const std::string& text) { return text + std::string(1, '\0'); }

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
  std::string list = List({{"data.arc", Sum(data)},
                           {"readme.txt", Sum("not the readme")},
                           {"unused.arc", Sum("")}});
  Put(out, t, "empty_directory", Archive({}));
  Put(out, t, "two_entries", Archive({{"a.arc", "alpha"}, {"B.TXT", "bee"}}));
  Put(out, t, "verified_and_mismatch",
      Archive({{"Data.ARC", data}, {"VRX.hvl", list}, {"readme.txt", "hi"}}));
  Put(out, t, "list_with_wrong_magic",
      Archive({{"a", "A"}, {"vrx.hvl", List({{"a", Sum("B")}}, "KPL____X")}}));
  std::vector<Entry> many(kMaxEntries + 1, Entry{"f", "x"});
  Put(out, t, "too_many_entries", Archive(many));
  std::string past = Archive({{"a", "alpha"}, {"b", "beta"}});
  past.replace(16 + 32 + 20, 4, U32(5));  // one byte more than is there
  Put(out, t, "entry_past_the_end", past);
  std::string huge = Archive({{"huge.arc", "h"}});
  huge.replace(16 + 20, 4, U32(0xFFFFFFFFu));
  Put(out, t, "entry_of_4_gib", huge);
  Put(out, t, "name_without_terminator", Archive({{"sixteen-chars.xx", "1"}}));
}

void VerificationLists(const std::string& out) {
  const char* t = "verification_list";
  std::string long_name(55, 'n');
  std::string list = List({{"data.arc", Sum("data")},
                           {"Data.Arc", Sum("second, never used")},
                           {long_name, Sum("long")},
                           {long_name + "!", Sum("no terminator")}});
  Put(out, t, "names_in_any_case",
      JoinInput({"data.arc", "DATA.ARC", "missing", long_name}, list));
  Put(out, t, "empty_list", JoinInput({"a"}, List({})));
  Put(out, t, "wrong_magic",
      JoinInput({"a"}, List({{"a", Sum("a")}}, "kpl_____")));
  std::string cut = List({{"a", Sum("a")}, {"b", Sum("b")}});
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
