// What mkupdate pack is about to write, once every input has been checked:
// the stub's bytes, the data entries in order, and the verification list.
#ifndef TOOLS_MKUPDATE_PACK_PLAN_H_
#define TOOLS_MKUPDATE_PACK_PLAN_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "payload/verification_list.h"
#include "platform/tool_system.h"
#include "tools/mkupdate/folder_files.h"

struct PackInput {
  std::string name;   // stored: code page 932, backslashes
  std::string path;   // the file it comes from
  std::string label;  // names it in messages
  std::string link;   // where a link on its path leads inside its release
  std::string state;  // between releases: "new", "changed", or whom it serves
  uint64_t size = 0;
  bool has_id = false;
  FileId id;
  EntryChecksum sum = {};  // known once it is copied
};

// A file the built verification list records.
struct ListFile {
  std::string name;  // stored
  std::string path;
  uint64_t size = 0;
  FileId id;
  bool summed = false;  // sum is known already
  EntryChecksum sum = {};
};

struct ListPlan {
  std::string source;  // the folder or file; empty when there is no list
  bool prebuilt = false;
  std::string bytes;                        // a prebuilt list's bytes
  std::vector<VerificationRecord> records;  // a prebuilt list's records
  std::vector<ListFile> files;              // what a built list records

  bool present() const { return !source.empty(); }
  uint64_t Size() const;
};

struct PackPlan {
  std::string stub_bytes;
  bool stub_is_x86_64 = false;     // a build that 32-bit Windows cannot run
  std::vector<PackInput> entries;  // the data entries, in order
  ListPlan list;
  std::vector<std::string> kept;   // files of an old release the new lacks
  std::vector<PathNote> left_out;  // files the list does not record
  std::vector<PathNote> links;     // links in the release: path, where to
};

#endif  // TOOLS_MKUPDATE_PACK_PLAN_H_
