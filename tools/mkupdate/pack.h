// mkupdate pack: the update executable made from a stub (the updater built
// without payload), zero bytes up to 1 MiB, and the payload archive.
#ifndef TOOLS_MKUPDATE_PACK_H_
#define TOOLS_MKUPDATE_PACK_H_

#include <string>
#include <vector>

// An entry as given on the command line.
struct EntryArg {
  std::string text;  // as given, for messages
  std::string name;  // the name given with --entry, when named
  std::string path;
  bool named = false;
  bool may_be_named = false;  // a bare argument, which may be NAME=PATH
};

struct PackOptions {
  std::string stub;
  std::string stub_from;  // where it was found, when no --stub gave it
  std::string out;
  std::string verify_dir;   // build "vrx.hvl" from this folder, or
  std::string verify_list;  // take this prebuilt list; at most one of them
  std::vector<std::string> from;  // the releases players may have, and
  std::string to;  // the new one: the update brings each of them to it
  std::vector<EntryArg> entries;
  std::vector<std::string> exclude;  // left out of the releases (exclude.h)
  bool dry_run = false;  // print what would be packed, write nothing
  bool quiet = false;    // no progress, no notes, no summary: errors only
  bool json = false;     // the plan, or what was written, as one document
};

// Checks every input, then writes the update under a temporary name beside
// options.out and renames it into place; or, for a dry run, prints what it
// would write. Returns kExitOk, or kExitRefused after printing which file
// was refused and why; no output is left behind then.
int RunPack(const PackOptions& options);

#endif  // TOOLS_MKUPDATE_PACK_H_
