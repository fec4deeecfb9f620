// The little JSON that mkupdate writes for CI: strings, numbers, null.
#ifndef TOOLS_MKUPDATE_JSON_H_
#define TOOLS_MKUPDATE_JSON_H_

#include <string>

// A JSON string of the UTF-8 bytes, quotes included; bytes that are not
// UTF-8 become U+FFFD. Paths, in the tool's text, are taken as UTF-8.
std::string JsonString(const std::string& utf8);

#endif  // TOOLS_MKUPDATE_JSON_H_
