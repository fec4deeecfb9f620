// The little JSON that mkupdate writes for CI: strings, numbers, null;
// docs/mkupdate-json.md describes the documents.
#ifndef TOOLS_MKUPDATE_JSON_H_
#define TOOLS_MKUPDATE_JSON_H_

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

// The version of the documents list --json and verify --json write, their
// first field; it goes up when a field changes its meaning or goes away.
const int kJsonFormatVersion = 2;

// A JSON string of the UTF-8 bytes, quotes included; bytes that are not
// UTF-8 become U+FFFD. Paths, in the tool's text, are taken as UTF-8.
std::string JsonString(const std::string& utf8);

// The opening that every document shares: the format's version, the
// command, and "ok", the verdict (true only when the command exits 0).
std::string JsonDocumentStart(const char* command, bool ok);

// "counts": {"name": n, ...}, at the document's top level; a negative
// count is written as null (nothing to count).
typedef std::vector<std::pair<const char*, int64_t>> JsonCountList;
std::string JsonCounts(const JsonCountList& counts);

#endif  // TOOLS_MKUPDATE_JSON_H_
