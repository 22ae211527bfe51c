// INI-style texts as the depth library's parameter files use them: "[Section]" lines, then
// "key=value" lines; empty lines and lines starting with "//", "#" or ";" are skipped.
#pragma once

#include <string>
#include <vector>

namespace ZelvoDepth {

struct IniEntry {
    std::string section;  // without the brackets; empty before the first section line
    std::string key;
    std::string value;
};

// The entries in text order. Spaces and tabs around section names, keys and values and a
// carriage return at a line's end are dropped; lines that are neither a section nor an
// entry are ignored.
std::vector<IniEntry> parseIniText(const std::string& text);

}  // namespace ZelvoDepth
