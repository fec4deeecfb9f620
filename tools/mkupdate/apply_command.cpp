#include "tools/mkupdate/apply_command.h"

#include <filesystem>

#include "control/texts.h"
#include "payload/installation_run.h"
#include "payload/verification_list.h"
#include "platform/code_page.h"
#include "platform/platform.h"
#include "platform/tool_system.h"
#include "tools/mkupdate/file_blocks.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/noting_platform.h"
#include "tools/mkupdate/report.h"
#include "tools/mkupdate/uninstall_list_file.h"
#include "tools/mkupdate/update_reader.h"
#include "tools/mkupdate/verification_list_file.h"
#include "uninstall/uninstall_list.h"

namespace fs = std::filesystem;

namespace {

// The path as the run takes it: code page 932 with backslashes. Returns
// false with the reason in *why when it has no such form.
bool ToRunPath(const std::string& path, std::string* run, std::string* why) {
  // Where the backslash is no separator it is a character of a name, and
  // the run would read it as one.
  if (fs::path::preferred_separator != '\\' &&
      path.find('\\') != std::string::npos) {
    *why =
        "its path holds a backslash, which the updater reads as a folder "
        "separator";
    return false;
  }
  if (!TextToCodePage932(path, run)) {
    *why =
        "its path has characters that code page 932, the updater's, "
        "cannot hold";
    return false;
  }
  for (char& c : *run) c = c == '/' ? '\\' : c;
  return true;
}

// Whether the run finds what the tool finds at the path: where the system
// reads the run's paths in another code page, or the tool's in other bytes,
// the converted path leads elsewhere. A link there is followed by both.
bool RunReaches(const std::string& run_path, PathKind kind) {
  UsePathCoding(kUpdaterPaths);
  PathKind found = Sys()->GetPathKind(kNoFolder, run_path.c_str());
  UsePathCoding(kToolPaths);
  return found == kind || found == kPathLink;
}

bool ToReachedRunPath(const std::string& path, PathKind kind,
                      std::string* run) {
  std::string why;
  if (!ToRunPath(path, run, &why)) return Refuse(path, why + "; move it");
  if (!RunReaches(*run, kind)) {
    return Refuse(path,
                  "the updater's paths (code page 932, backslashes) do not "
                  "reach it on this system; give a path the updater could "
                  "hold, in ASCII letters for instance");
  }
  return true;
}

// The stored name as a path under folder in the tool's text; "" when it
// has none.
std::string ToolPathOf(const std::string& folder, const std::string& stored) {
  fs::path path = fs::u8path(folder);
  for (const std::string& part : NameParts(stored)) {
    std::string text;
    if (!CodePage932ToText(part, false, &text)) return "";
    path /= fs::u8path(text);
  }
  return path.u8string();
}

// Each entry of the update that the folder does not hold, under the name
// the tool gives it, with the bytes the update carries for it (the bytes
// its record lists, or the run would not have installed it): what the run
// reported must be there, seen by other means than the run's own.
std::vector<std::string> EntriesNotInPlace(const std::string& update,
                                           const std::string& folder) {
  std::vector<std::string> missing;
  OpenedUpdate opened;
  if (!OpenUpdate(update, &opened)) return {"unreadable " + update};
  for (uint32_t i = 0; i < opened.payload.count; i++) {
    const PayloadEntry& entry = opened.payload.entries[i];
    std::string shown = ShownName(entry.name), path, why;
    for (char& c : shown) c = c == '\\' ? '/' : c;
    EntryChecksum want, have;
    path = ToolPathOf(folder, entry.name);
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(fs::u8path(path), ec)) {
      missing.push_back("missing " + shown);
    } else if (!ChecksumEntry(&opened, entry, &want) ||
               !ChecksumFile(path, &have, &why) || !SameChecksum(want, have)) {
      missing.push_back("differs " + shown);
    }
  }
  return missing;
}

// What in the update the updater's result comes from: the first entry
// whose name it refuses, whose data lie outside the file, or whose data
// differ from their record in the update's own list.
std::string UpdateFault(const std::string& update) {
  OpenedUpdate opened;
  if (!OpenUpdate(update, &opened)) return "";
  std::vector<VerificationRecord> records;
  std::string bytes, why;
  if (ReadListEntry(&opened, &bytes) == kListEntryRead) {
    ParseVerificationList(bytes, &records, &why);
  }
  VerificationList list = ToVerificationList(records);
  for (uint32_t i = 0; i < opened.payload.count; i++) {
    const PayloadEntry& entry = opened.payload.entries[i];
    std::string shown = "entry " + ShownName(entry.name) + ": ";
    EntryChecksum sum;
    if (!CheckEntryName(entry.name, &why)) return update + ": " + shown + why;
    if (!ChecksumEntry(&opened, entry, &sum)) {
      return update + ": " + shown +
             "its data reach past the end of the file (cut short?)";
    }
    if (VerifyEntry(list, entry.name, sum) == kMismatch) {
      return update + ": " + shown +
             "its data differ from its record in the update's list";
    }
  }
  return "";
}

// What failed in the run that ended with result, in *outcome.
void DescribeFailure(const std::string& update, const std::string& folder,
                     const NotedFailure& noted, ApplyOutcome* outcome) {
  if (outcome->result == kResultCannotWrite ||
      outcome->result == kResultUninstallListFailed) {
    if (noted.noted) {
      outcome->failure =
          noted.path + ": " + noted.what +
          (noted.error.text.empty() ? "" : ": " + noted.error.text);
      outcome->machine = noted.error.machine;
      return;
    }
  }
  if (outcome->result == kResultUninstallListFailed) {
    std::vector<std::string> problems = UninstallListProblems(folder, {});
    if (!problems.empty()) {
      outcome->failure = (fs::u8path(folder) / kUninstallListName).u8string() +
                         ": " + problems[0];
    }
    return;
  }
  outcome->failure = UpdateFault(update);
}

}  // namespace

bool ApplyUpdate(const std::string& update, const std::string& folder,
                 ApplyOutcome* outcome) {
  std::string run_update, run_folder;
  bool ok = ToReachedRunPath(update, kPathFile, &run_update);
  ok = ToReachedRunPath(folder, kPathFolder, &run_folder) && ok;
  if (!ok) return false;
  // The run's own paths for as long as it runs, through a platform that
  // notes what fails; nothing of the tool's is open across the change.
  Platform* system = Sys();
  NotingPlatform noting(system);
  UsePlatform(&noting);
  UsePathCoding(kUpdaterPaths);
  *outcome = ApplyOutcome();
  outcome->result = InstallPayload(run_update.c_str(), run_folder.c_str());
  UsePathCoding(kToolPaths);
  UsePlatform(system == SystemPlatform() ? nullptr : system);
  if (outcome->result == kResultOk) {
    outcome->not_in_place = EntriesNotInPlace(update, folder);
  } else {
    DescribeFailure(update, folder, noting.failure(), outcome);
  }
  return true;
}

std::string DescribeResult(ResultCode result) {
  uint32_t style;
  const char* text = ResultText(result, &style);
  std::string shown;
  if (text == nullptr || !CodePage932ToText(text, false, &shown)) {
    shown = "no message";
  }
  // The box's text is padded with blanks, ideographic ones too.
  const std::string kIdeographicSpace = "\xE3\x80\x80";
  for (bool trimmed = true; trimmed;) {
    trimmed = false;
    if (!shown.empty() && shown.back() == ' ') {
      shown.pop_back();
      trimmed = true;
    } else if (shown.size() >= 3 &&
               shown.compare(shown.size() - 3, 3, kIdeographicSpace) == 0) {
      shown.resize(shown.size() - 3);
      trimmed = true;
    }
  }
  return Format("0x%08X (%s)", static_cast<unsigned>(result), shown.c_str());
}

int RunApply(const ApplyOptions& options) {
  std::error_code ec;
  if (!fs::is_directory(fs::u8path(options.folder), ec)) {
    Refuse(options.folder, fs::exists(fs::u8path(options.folder), ec)
                               ? "not a folder"
                               : "no such folder");
    return kExitCannotCheck;
  }
  // What is in the file is the run's to judge, as the updater's would be.
  uint64_t size;
  if (!FindRegularFile(options.update, "an update", &size)) {
    return kExitCannotCheck;
  }
  ApplyOutcome outcome;
  if (!ApplyUpdate(options.update, options.folder, &outcome)) {
    return kExitCannotCheck;
  }
  if (outcome.result != kResultOk) {
    Refuse(options.folder,
           "the updater ends with " + DescribeResult(outcome.result) +
               (outcome.failure.empty() ? "" : "\n  " + outcome.failure));
    return kExitRefused;
  }
  if (!outcome.not_in_place.empty()) {
    std::string files;
    for (const std::string& f : outcome.not_in_place) files += "\n  " + f;
    Refuse(options.folder, "the updater ends with " +
                               DescribeResult(outcome.result) +
                               ", but the folder does not hold what it "
                               "installed, under its names:" +
                               files);
    return kExitRefused;
  }
  if (!options.quiet) {
    Print(options.folder + ": installed " + options.update + ", " +
          DescribeResult(outcome.result) + "\n");
  }
  return kExitOk;
}
