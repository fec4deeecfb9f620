// mkupdate verify.
#include "tools/mkupdate/verify_command.h"

#include <filesystem>
#include <vector>

#include "platform/code_page.h"
#include "platform/tool_system.h"
#include "tools/mkupdate/file_blocks.h"
#include "tools/mkupdate/json.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/report.h"
#include "tools/mkupdate/update_reader.h"
#include "tools/mkupdate/verification_list_file.h"

namespace fs = std::filesystem;

namespace {

enum FileState { kFileOk, kFileMissing, kFileDiffers, kFileUnreadable };
const char* const kStateNames[] = {"ok", "missing", "differs", "unreadable"};

// The list's bytes from a vrx.hvl file or from the update that carries one.
bool LoadList(const std::string& path, std::vector<VerificationRecord>* out) {
  std::string bytes, why;
  if (!ReadFileStart(path, sizeof(kVerificationMagic), &bytes, &why)) {
    return Refuse(path, why);
  }
  if (HasVerificationMagic(bytes)) {
    if (!ReadWholeFile(path, &bytes, &why)) return Refuse(path, why);
  } else if (HasPayloadHeader(path)) {
    OpenedUpdate update;
    if (!OpenUpdate(path, &update)) return false;
    ListEntry found = ReadListEntry(&update, &bytes);
    if (found == kNoListEntry) {
      return Refuse(path, "the update carries no verification list");
    }
    if (found == kListEntryUnreadable) {
      return Refuse(path, "the update's verification list cannot be read");
    }
  } else {
    return Refuse(path,
                  "neither a verification list (it does not start with "
                  "KPL_____) nor an update (no PackFile header at 1 MiB)");
  }
  return ParseVerificationList(bytes, out, &why) || Refuse(path, why);
}

// The file that a record name names under dir. Windows ignores letter
// case, so when no file has the exact name, one that differs only in
// letter case counts. Returns "" when none exists.
std::string FindListedFile(const std::string& dir, const std::string& name) {
  fs::path path = fs::u8path(dir);
  for (const std::string& stored : NameParts(name)) {
    std::string part;
    if (!CodePage932ToText(stored, false, &part)) return "";
    std::error_code ec;
    if (fs::exists(path / fs::u8path(part), ec)) {
      path /= fs::u8path(part);
      continue;
    }
    fs::path found;
    for (fs::directory_iterator it(path, ec), last; !ec && it != last;
         it.increment(ec)) {
      if (SameUpdaterName(it->path().filename().u8string(), part)) {
        found = it->path();
        break;
      }
    }
    if (found.empty()) return "";
    path = found;
  }
  std::error_code ec;
  return fs::is_regular_file(path, ec) ? path.u8string() : "";
}

FileState CheckFile(const std::string& dir, const VerificationRecord& record,
                    std::string* why) {
  std::string path = FindListedFile(dir, record.name);
  if (path.empty()) return kFileMissing;
  EntryChecksum sum;
  if (!ChecksumFile(path, &sum, why)) return kFileUnreadable;
  return SameChecksum(sum, record.checksum) ? kFileOk : kFileDiffers;
}

// The summary line, or the JSON that closes around the files' lines.
void PrintSummary(const VerifyOptions& o, const size_t counts[4], size_t total,
                  const std::string& json_files) {
  if (o.json) {
    JsonCountList numbers = {{"files", static_cast<int64_t>(total)}};
    for (int state = kFileOk; state <= kFileUnreadable; state++) {
      numbers.push_back(
          {kStateNames[state], static_cast<int64_t>(counts[state])});
    }
    Print(JsonDocumentStart("verify", counts[kFileOk] == total) +
          ",\n  \"list\": " + JsonString(o.list) +
          ",\n  \"folder\": " + JsonString(o.dir) + ",\n  \"files\": [" +
          json_files + (json_files.empty() ? "]" : "\n  ]") + ",\n  " +
          JsonCounts(numbers) + "\n}\n");
  } else if (counts[kFileOk] == total) {
    Print(o.dir + ": " +
          (total == 1
               ? std::string("the listed file matches")
               : "all " + std::to_string(total) + " listed files match") +
          "\n");
  } else {
    Print(o.dir + ": " + Counted(total, "file", "files") +
          " listed: " + std::to_string(counts[kFileMissing]) + " missing, " +
          std::to_string(counts[kFileDiffers]) + " differing, " +
          std::to_string(counts[kFileUnreadable]) + " unreadable\n");
  }
}

}  // namespace

int RunVerify(const VerifyOptions& options) {
  std::error_code ec;
  bool list_is_folder = fs::is_directory(fs::u8path(options.list), ec);
  bool dir_is_folder = fs::is_directory(fs::u8path(options.dir), ec);
  if (list_is_folder && !dir_is_folder) {
    Refuse(options.list,
           "a folder, where the list or the update comes first: mkupdate "
           "verify " +
               ShellWord(options.dir) + " " + ShellWord(options.list));
    return kExitCannotCheck;
  }
  std::vector<VerificationRecord> records;
  if (!LoadList(options.list, &records)) return kExitCannotCheck;
  if (!dir_is_folder) {
    Refuse(options.dir, fs::exists(fs::u8path(options.dir), ec)
                            ? "not a folder"
                            : "no such folder");
    return kExitCannotCheck;
  }
  size_t counts[4] = {};
  std::string json;
  for (const VerificationRecord& record : records) {
    std::string why;
    FileState state = CheckFile(options.dir, record, &why);
    counts[state]++;
    if (options.json) {
      json += std::string(json.empty() ? "\n    " : ",\n    ") +
              "{\"name\": " + JsonString(Utf8Name(record.name)) +
              ", \"state\": \"" + kStateNames[state] + "\"}";
    } else if (state != kFileOk) {
      Print(Format("%-10s %s", kStateNames[state],
                   ShownName(record.name).c_str()) +
            (why.empty() ? "" : ": " + why) + "\n");
    }
  }
  PrintSummary(options, counts, records.size(), json);
  if (counts[kFileMissing] + counts[kFileDiffers] != 0) return kExitDiffers;
  return counts[kFileUnreadable] != 0 ? kExitCannotCheck : kExitOk;
}
