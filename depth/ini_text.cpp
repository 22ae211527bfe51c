#include "depth/ini_text.h"

namespace ZelvoDepth {
namespace {

std::string trimmed(const std::string& text, size_t begin, size_t end) {
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
        --end;
    return text.substr(begin, end - begin);
}

bool isComment(const std::string& line) {
    return line.compare(0, 2, "//") == 0 || line[0] == '#' || line[0] == ';';
}

}  // namespace

std::vector<IniEntry> parseIniText(const std::string& text) {
    std::vector<IniEntry> entries;
    std::string section;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        const std::string line = trimmed(text, begin, end);
        begin = end + 1;
        if (line.empty() || isComment(line)) continue;
        if (line.front() == '[' && line.back() == ']') {
            section = trimmed(line, 1, line.size() - 1);
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        entries.push_back(
            {section, trimmed(line, 0, equals), trimmed(line, equals + 1, line.size())});
    }
    return entries;
}

}  // namespace ZelvoDepth
