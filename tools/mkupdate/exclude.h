// The files a publisher leaves out of an update and its checks with
// --exclude PATTERN: a path in the release, or a glob of one.
#ifndef TOOLS_MKUPDATE_EXCLUDE_H_
#define TOOLS_MKUPDATE_EXCLUDE_H_

#include <string>
#include <vector>

// The first pattern that leaves out relative (a path in a release, '/'
// between its parts), or nullptr. A pattern leaves out the path it names
// and everything under a folder it names; '*' and '?' match within one
// part; '\' separates parts as '/' does; ASCII letter case is ignored, as
// the updater ignores it.
const std::string* ExcludingPattern(const std::vector<std::string>& patterns,
                                    const std::string& relative);

#endif  // TOOLS_MKUPDATE_EXCLUDE_H_
