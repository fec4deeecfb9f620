// The update from the installed releases of the game to a new one: what
// the new one has that any installed one lacks or holds otherwise.
#ifndef TOOLS_MKUPDATE_RELEASE_DIFF_H_
#define TOOLS_MKUPDATE_RELEASE_DIFF_H_

#include <string>
#include <vector>

#include "platform/tool_system.h"
#include "tools/mkupdate/pack_plan.h"

// The update from the installed releases old_dirs to new_dir: fills
// plan->entries with the files of new_dir that any of them lacks or holds
// with other bytes, in bytewise order of their names, each with the
// releases it serves in its state, and plan->list with every file of
// new_dir; notes the files of an old release that new_dir lacks in
// plan->kept. out names the output, which no release may hold; what
// exclude leaves out is in none of them.
bool DiffReleases(const std::vector<std::string>& old_dirs,
                  const std::string& new_dir, const FileId* out,
                  const std::vector<std::string>& exclude, PackPlan* plan);

#endif  // TOOLS_MKUPDATE_RELEASE_DIFF_H_
