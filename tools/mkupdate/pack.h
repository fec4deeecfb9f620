// mkupdate pack: the update executable made from a stub (the updater built
// without payload), zero bytes up to 1 MiB, and the payload archive.
#ifndef TOOLS_MKUPDATE_PACK_H_
#define TOOLS_MKUPDATE_PACK_H_

#include <string>
#include <vector>

struct PackOptions {
  std::string stub;
  std::string out;
  std::string verify_dir;   // build "vrx.hvl" from this folder, or
  std::string verify_list;  // take this prebuilt list; at most one of them
  std::vector<std::string> entries;  // a file, or NAME=PATH
};

// Checks every input, then writes the update under a temporary name beside
// options.out and renames it into place. Returns 0, or 1 after printing
// which file was refused and why; no output is left behind then.
int RunPack(const PackOptions& options);

#endif  // TOOLS_MKUPDATE_PACK_H_
