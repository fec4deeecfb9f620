// The uninstall list's merge in one call, as the run makes it: the folder
// held, the merged list staged, moved over the old one and flushed.
#ifndef TESTING_LIST_MERGE_H_
#define TESTING_LIST_MERGE_H_

// Nonzero when the names were merged into folder's list; on failure the
// list is as it was and no temporary file is left.
int MergeUninstallList(const char* folder, const char* const* names);

#endif  // TESTING_LIST_MERGE_H_
