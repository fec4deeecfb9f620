// Writes the update a PackPlan describes.
#ifndef TOOLS_MKUPDATE_UPDATE_WRITER_H_
#define TOOLS_MKUPDATE_UPDATE_WRITER_H_

#include <string>

#include "tools/mkupdate/pack_plan.h"

// Lays the entries out back to back, the list last; checks that the
// updater can reach every entry. Returns false after refusing.
bool CheckLayout(const PackPlan& plan);

// Writes the update under a temporary name beside out,
// "<out>.<process number>-<n>.tmp", which is removed on failure or
// interruption, flushes it and moves it over out once complete (through
// platform/file_replace.h; a folder that cannot be flushed after the move
// fails it with the new out in place). Takes
// each entry's checksum while copying it and the list's records after,
// from the same reads wherever a listed file is an entry, and refuses an
// entry that its record contradicts. Returns false after refusing.
bool WriteUpdate(const std::string& out, PackPlan* plan);

#endif  // TOOLS_MKUPDATE_UPDATE_WRITER_H_
