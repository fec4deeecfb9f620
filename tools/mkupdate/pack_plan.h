// What mkupdate pack is about to write, once every input has been checked:
// the stub's bytes, the data entries in order, and the verification list.
#ifndef TOOLS_MKUPDATE_PACK_PLAN_H_
#define TOOLS_MKUPDATE_PACK_PLAN_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "payload/verification_list.h"
#include "tools/mkupdate/folder_files.h"
#include "tools/mkupdate/pack.h"
#include "platform/tool_system.h"

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
  std::vector<PackInput> entries;  // the data entries, in order
  ListPlan list;
  std::vector<std::string> kept;   // files of an old release the new lacks
  std::vector<PathNote> left_out;  // files the list does not record
  std::vector<PathNote> links;     // links in the release: path, where to
};

// Checks every input and the output, and fills the plan. Returns false
// after refusing, all at once where they are many, what cannot be packed.
bool PreparePack(const PackOptions& options, PackPlan* plan);

// The update from the installed releases old_dirs to new_dir: fills
// plan->entries with the files of new_dir that any of them lacks or holds
// with other bytes, in bytewise order of their names, each with the
// releases it serves in its state, and plan->list with every file of
// new_dir; notes the files of an old release that new_dir lacks in
// plan->kept. out names the output, which every listing leaves out.
bool DiffReleases(const std::vector<std::string>& old_dirs,
                  const std::string& new_dir, const FileId* out,
                  PackPlan* plan);

#endif  // TOOLS_MKUPDATE_PACK_PLAN_H_
