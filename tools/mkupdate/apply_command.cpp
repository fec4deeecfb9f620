#include "tools/mkupdate/apply_command.h"

#include <filesystem>

#include "control/texts.h"
#include "payload/installation_run.h"
#include "platform/code_page.h"
#include "platform/platform.h"
#include "platform/tool_system.h"
#include "tools/mkupdate/file_blocks.h"
#include "tools/mkupdate/report.h"

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

}  // namespace

bool ApplyUpdate(const std::string& update, const std::string& folder,
                 ResultCode* result) {
  std::string run_update, run_folder;
  bool ok = ToReachedRunPath(update, kPathFile, &run_update);
  ok = ToReachedRunPath(folder, kPathFolder, &run_folder) && ok;
  if (!ok) return false;
  // The run's own paths for as long as it runs; nothing of the tool's is
  // open across the change.
  UsePathCoding(kUpdaterPaths);
  *result = InstallPayload(run_update.c_str(), run_folder.c_str());
  UsePathCoding(kToolPaths);
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
  ResultCode result;
  if (!ApplyUpdate(options.update, options.folder, &result)) {
    return kExitCannotCheck;
  }
  if (result != kResultOk) {
    Refuse(options.folder, "the updater ends with " + DescribeResult(result));
    return kExitRefused;
  }
  if (!options.quiet) {
    Print(options.folder + ": installed " + options.update + ", " +
          DescribeResult(result) + "\n");
  }
  return kExitOk;
}
