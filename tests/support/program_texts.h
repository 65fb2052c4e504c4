// The program's German texts as the tests compare them: UTF-8 strings.
#pragma once

#include <string>
#include <vector>

namespace mpo::test {

// One of the program's texts as UTF-8.
std::string U8(const char16_t* text);
// A "Title: text" line of the command line's messages.
std::string cli_line(const char16_t* title, const char16_t* text);
// The six output suffixes, "_L.jpg" to "_EXIF.jpg".
std::vector<std::string> output_suffixes();

}  // namespace mpo::test
