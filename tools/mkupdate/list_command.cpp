// mkupdate list.
#include "tools/mkupdate/list_command.h"

#include <algorithm>
#include <vector>

#include "tools/mkupdate/json.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/report.h"
#include "tools/mkupdate/update_reader.h"
#include "tools/mkupdate/verification_list_file.h"

namespace {

struct EntryReport {
  const PayloadEntry* entry;
  bool readable = false;
  EntryChecksum sum = {};
  VerifyResult state = kNotListed;
};

// The update's own list as the updater loads it, and whether it is sound.
struct ListReport {
  bool present = false;  // there is an entry named vrx.hvl
  bool sound = false;
  std::string problem;
  std::vector<VerificationRecord> records;
  uint32_t loaded = 0;  // the records the updater loads, sound or not

  // The record count to report; -1 when the updater loads no list.
  int64_t Count() const {
    if (sound) return records.size();
    return loaded != 0 ? static_cast<int64_t>(loaded) : -1;
  }
};

ListReport CheckOwnList(OpenedUpdate* update) {
  ListReport report;
  std::string bytes;
  ListEntry found = ReadListEntry(update, &bytes);
  report.present = found != kNoListEntry;
  if (found == kListEntryUnreadable) {
    report.problem = "its data cannot be read";
  } else if (found == kListEntryRead) {
    report.sound =
        ParseVerificationList(bytes, &report.records, &report.problem);
  }
  return report;
}

const char* StateText(const EntryReport& r, bool json) {
  if (!r.readable) return json ? "unreadable" : "UNREADABLE";
  switch (r.state) {
    case kVerified:
      return "verified";
    case kMismatch:
      return json ? "mismatch" : "MISMATCH";
    default:
      return "not listed";
  }
}

void PrintText(const OpenedUpdate& update, const std::vector<EntryReport>& rs,
               const ListReport& list, uint64_t after, bool records) {
  std::string head = update.path + ": " +
                     Counted(update.payload.count, "entry", "entries") + ", ";
  head += list.Count() >= 0 ? "verification list with " +
                                  Counted(list.Count(), "record", "records")
                            : std::string("no usable verification list");
  Print(head + "\n" +
        Format("%-15s %10s %10s  %-16s  %s\n", "name", "offset", "size",
               "checksum", "state"));
  for (const EntryReport& r : rs) {
    std::string hex = r.readable ? ChecksumHex(r.sum) : std::string(16, '-');
    Print(PadTo(ShownName(r.entry->name), 15) +
          Format(" %10u %10u  %s  %s\n", r.entry->offset, r.entry->size,
                 hex.c_str(), StateText(r, false)));
  }
  if (after > 0) {
    Print(Counted(after, "byte follows", "bytes follow") +
          " the entries' data (a signature, for one)\n");
  }
  if (!records || !list.sound) return;
  Print(std::string(kVerificationListName) + ": " +
        Counted(list.records.size(), "record", "records") + "\n");
  for (const VerificationRecord& r : list.records) {
    Print("  " + PadTo(ShownName(r.name), 55) + "  " + ChecksumHex(r.checksum) +
          "\n");
  }
}

// Each entry's state, counted.
struct StateCounts {
  size_t verified = 0, mismatch = 0, not_listed = 0, unreadable = 0;
};

StateCounts CountStates(const std::vector<EntryReport>& rs) {
  StateCounts c;
  for (const EntryReport& r : rs) {
    if (!r.readable) {
      c.unreadable++;
    } else if (r.state == kVerified) {
      c.verified++;
    } else if (r.state == kMismatch) {
      c.mismatch++;
    } else {
      c.not_listed++;
    }
  }
  return c;
}

std::string JsonRecords(const ListReport& list) {
  if (!list.sound) return "null";
  if (list.records.empty()) return "[]";
  std::string out;
  for (const VerificationRecord& r : list.records) {
    out += std::string(out.empty() ? "[\n    " : ",\n    ") +
           "{\"name\": " + JsonString(Utf8Name(r.name)) + ", \"checksum\": \"" +
           ChecksumHex(r.checksum) + "\"}";
  }
  return out + "\n  ]";
}

void PrintJson(const OpenedUpdate& update, const std::vector<EntryReport>& rs,
               const ListReport& list, uint64_t after, bool records, bool ok) {
  std::string out = JsonDocumentStart("list", ok) +
                    ",\n  \"file\": " + JsonString(update.path) +
                    ",\n  \"entries\": [";
  for (size_t i = 0; i < rs.size(); i++) {
    const EntryReport& r = rs[i];
    uint64_t position =
        static_cast<uint64_t>(update.payload.data_base) + r.entry->offset;
    out += std::string(i ? "," : "") +
           "\n    {\"name\": " + JsonString(Utf8Name(r.entry->name)) +
           Format(", \"offset\": %u, \"size\": %u, \"data_position\": ",
                  r.entry->offset, r.entry->size) +
           std::to_string(position) + ", \"checksum\": " +
           (r.readable ? "\"" + ChecksumHex(r.sum) + "\"" : "null") +
           ", \"state\": \"" + StateText(r, true) + "\"}";
  }
  StateCounts c = CountStates(rs);
  out += std::string(rs.empty() ? "]" : "\n  ]") + ",\n  " +
         JsonCounts({{"entries", static_cast<int64_t>(rs.size())},
                     {"verified", static_cast<int64_t>(c.verified)},
                     {"mismatch", static_cast<int64_t>(c.mismatch)},
                     {"not_listed", static_cast<int64_t>(c.not_listed)},
                     {"unreadable", static_cast<int64_t>(c.unreadable)},
                     {"records", list.Count()}}) +
         ",\n  \"bytes_after_data\": " + std::to_string(after);
  if (records) out += ",\n  \"records\": " + JsonRecords(list);
  Print(out + "\n}\n");
}

}  // namespace

int RunList(const ListOptions& options) {
  OpenedUpdate update;
  if (!OpenUpdate(options.file, &update)) return kExitCannotCheck;
  ListReport list = CheckOwnList(&update);
  // The states are the updater's: it loads a list that only fails the
  // stricter checks above.
  VerificationList shared;
  LoadVerificationList(&update.file, update.payload, &shared);
  list.loaded = shared.count;
  std::vector<EntryReport> reports;
  uint64_t data_end = update.payload.data_base;
  for (uint32_t i = 0; i < update.payload.count; i++) {
    EntryReport r;
    r.entry = &update.payload.entries[i];
    r.readable = ChecksumEntry(&update, *r.entry, &r.sum);
    if (r.readable) r.state = VerifyEntry(shared, r.entry->name, r.sum);
    data_end = std::max<uint64_t>(
        data_end, static_cast<uint64_t>(update.payload.data_base) +
                      r.entry->offset + r.entry->size);
    reports.push_back(r);
  }
  uint64_t after = update.size > data_end ? update.size - data_end : 0;
  StateCounts counts = CountStates(reports);
  bool damaged = list.present && !list.sound;
  int exit_code = counts.mismatch != 0                ? kExitDiffers
                  : counts.unreadable != 0 || damaged ? kExitCannotCheck
                                                      : kExitOk;
  if (options.json) {
    PrintJson(update, reports, list, after, options.records,
              exit_code == kExitOk);
  } else {
    PrintText(update, reports, list, after, options.records);
  }
  // An entry cut short makes the updater refuse the whole update before it
  // writes anything; a damaged list alone leaves the entries unchecked.
  if (damaged) {
    Note(options.file,
         std::string(kVerificationListName) + " is damaged: " + list.problem +
             (counts.unreadable == 0 && list.loaded == 0
                  ? "; the updater would install every entry unchecked"
                  : ""));
  }
  if (counts.unreadable != 0) {
    Note(options.file,
         Counted(counts.unreadable, "entry cannot", "entries cannot") +
             " be read in full; the updater refuses the whole update "
             "(0x80000001) and writes nothing");
  }
  if (counts.mismatch != 0) {
    Note(options.file,
         Counted(counts.mismatch, "entry differs", "entries differ") +
             " from its record; the updater would stop there");
  }
  return exit_code;
}
