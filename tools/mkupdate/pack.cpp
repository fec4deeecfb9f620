#include "tools/mkupdate/pack.h"

#include "payload/verification_list.h"
#include "tools/mkupdate/json.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/pack_inputs.h"
#include "tools/mkupdate/progress.h"
#include "tools/mkupdate/report.h"
#include "tools/mkupdate/update_writer.h"
#include "tools/mkupdate/verification_list_file.h"

namespace {

uint64_t DataBytes(const PackPlan& plan) {
  uint64_t bytes = plan.list.Size();
  for (const PackInput& input : plan.entries) bytes += input.size;
  return bytes;
}

std::string ListSummary(const PackPlan& plan) {
  if (!plan.list.present()) return "no verification list";
  size_t records =
      plan.list.prebuilt ? plan.list.records.size() : plan.list.files.size();
  return std::string("verification list ") + kVerificationListName + " with " +
         Counted(records, "record", "records");
}

// Why a file of an old release that the new one lacks stays.
std::string KeptText(const PackOptions& o) {
  return "not in " + o.to +
         "; the update leaves it installed (the updater deletes nothing)";
}

// Which stub pack took when none was given: one of several may be found.
void PrintStubFound(const PackOptions& o) {
  if (!o.stub_from.empty()) {
    Print("stub: " + o.stub + " (" + o.stub_from + "; no --stub given)\n");
  }
}

void PrintDryRun(const PackOptions& o, const PackPlan& plan) {
  size_t count = plan.entries.size() + plan.list.present();
  PrintStubFound(o);
  Print("would write " + o.out + ": " + Counted(count, "entry", "entries") +
        ", " + Counted(DataBytes(plan), "byte", "bytes") + " of data, " +
        ListSummary(plan) + "\n");
  for (const PackInput& input : plan.entries) {
    std::string from = input.link.empty()
                           ? input.path
                           : input.path + " (a link to " + input.link + ")";
    Print("  " + PadTo(ShownName(input.name), 15) +
          Format(" %12s  ", std::to_string(input.size).c_str()) +
          (input.state.empty() ? from : input.state + "  " + from) + "\n");
  }
  if (plan.list.present()) {
    Print(Format("  %-15s %12s  ", kVerificationListName,
                 std::to_string(plan.list.Size()).c_str()) +
          "verification list from " + plan.list.source + "\n");
  }
  // What a first run needs to know, said here rather than on every run.
  for (const PathNote& file : plan.left_out) {
    Print("left out of the list: " + file.path + ": " + file.text + "\n");
  }
  for (const std::string& path : plan.kept) {
    Print("kept: " + path + ": " + KeptText(o) + "\n");
  }
  for (const PathNote& link : plan.links) {
    Print("link: " + link.path + ": a link to " + link.text + "\n");
  }
}

void PrintSummary(const PackOptions& o, const PackPlan& plan) {
  PrintStubFound(o);
  size_t count = plan.entries.size() + plan.list.present();
  std::string text = "wrote " + o.out + ": " +
                     Counted(count, "entry", "entries") + ", " +
                     Counted(DataBytes(plan), "byte", "bytes") + " of data, " +
                     ListSummary(plan);
  if (plan.list.present()) {
    VerificationList list = ToVerificationList(plan.list.records);
    size_t verified = 0;
    for (const PackInput& input : plan.entries) {
      verified += VerifyEntry(list, input.name.c_str(), input.sum) == kVerified;
    }
    text += " (" + std::to_string(verified) + " of " +
            Counted(plan.entries.size(), "entry", "entries") +
            " verified by it)";
  }
  Print(text + "\n");
}

std::string JsonNullable(const std::string& text) {
  return text.empty() ? "null" : JsonString(text);
}

// Why the entry is packed: whom it serves between releases, else that it
// was given.
std::string EntryJson(const PackInput& input) {
  return "{\"name\": " + JsonString(Utf8Name(input.name)) +
         ", \"size\": " + std::to_string(input.size) +
         ", \"source\": " + JsonString(input.path) +
         ", \"link\": " + JsonNullable(input.link) + ", \"reason\": " +
         JsonString(input.state.empty() ? "given" : input.state) + "}";
}

std::string ListJson(const PackPlan& plan) {
  if (!plan.list.present()) return "null";
  size_t records =
      plan.list.prebuilt ? plan.list.records.size() : plan.list.files.size();
  return std::string("{\"name\": \"") + kVerificationListName +
         "\", \"size\": " + std::to_string(plan.list.Size()) +
         ", \"source\": " + JsonString(plan.list.source) +
         ", \"built\": " + (plan.list.prebuilt ? "false" : "true") +
         ", \"records\": " + std::to_string(records) + "}";
}

std::string NotesJson(const std::vector<PathNote>& notes, const char* what) {
  std::string out;
  for (const PathNote& note : notes) {
    out += std::string(out.empty() ? "" : ", ") +
           "{\"path\": " + JsonString(note.path) + ", \"" + what +
           "\": " + JsonString(note.text) + "}";
  }
  return "[" + out + "]";
}

// The plan, or what was written, as one document (docs/mkupdate-json.md).
void PrintJson(const PackOptions& o, const PackPlan& plan) {
  std::string entries, kept;
  for (const PackInput& input : plan.entries) {
    entries +=
        std::string(entries.empty() ? "\n    " : ",\n    ") + EntryJson(input);
  }
  for (const std::string& path : plan.kept) {
    kept += std::string(kept.empty() ? "" : ", ") + JsonString(path);
  }
  size_t count = plan.entries.size() + plan.list.present();
  Print(JsonDocumentStart("pack", true) + ",\n  \"out\": " + JsonString(o.out) +
        ",\n  \"written\": " + (o.dry_run ? "false" : "true") +
        ",\n  \"entries\": [" + entries +
        "\n  ],\n  \"list\": " + ListJson(plan) +
        ",\n  \"stub\": " + JsonString(o.stub) + ",\n  \"stub_from\": " +
        JsonString(o.stub_from.empty() ? "--stub" : o.stub_from) +
        ",\n  \"stub_bytes\": " + std::to_string(plan.stub_bytes.size()) +
        ",\n  \"left_out\": " + NotesJson(plan.left_out, "why") +
        ",\n  \"kept\": [" + kept +
        "],\n  \"links\": " + NotesJson(plan.links, "to") + ",\n  " +
        JsonCounts({{"entries", static_cast<int64_t>(count)},
                    {"data_bytes", static_cast<int64_t>(DataBytes(plan))}}) +
        "\n}\n");
}

}  // namespace

int RunPack(const PackOptions& options) {
  AllowProgress(!options.quiet && IsTerminal(stderr));
  PackPlan plan;
  if (!PreparePack(options, &plan) || !CheckLayout(plan)) return kExitRefused;
  if (plan.stub_is_x86_64 && !options.quiet) {
    Note(options.stub,
         "an x86-64 build of the updater: the update will not run on 32-bit "
         "Windows; the product's stub is the i686 one");
  }
  if (options.dry_run) {
    if (options.json) {
      PrintJson(options, plan);
    } else {
      PrintDryRun(options, plan);
    }
    return kExitOk;
  }
  if (!options.quiet && !options.json) {
    for (const std::string& path : plan.kept) Note(path, KeptText(options));
  }
  if (!WriteUpdate(options.out, &plan)) return kExitRefused;
  if (options.json) {
    PrintJson(options, plan);
  } else if (!options.quiet) {
    PrintSummary(options, plan);
  }
  return kExitOk;
}
