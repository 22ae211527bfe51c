#include "tests/fuzz/fuzz_host.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace Zelvo::fuzz {
namespace {

constexpr char kSeparator[] = "~~\n";

bool readNode(const std::string& text, uint32_t& major, uint32_t& minor) {
    unsigned int a = 0, b = 0;
    if (std::sscanf(text.c_str(), "%u:%u", &a, &b) != 2) return false;
    major = a;
    minor = b;
    return true;
}

}  // namespace

FuzzHost::FuzzHost(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    uint32_t entityId = 0;
    for (size_t start = 0; start < input.size();) {
        size_t end = input.find(kSeparator, start);
        if (end == std::string::npos) end = input.size();
        const std::string field = input.substr(start, end - start);
        start = end + sizeof kSeparator - 1;

        const size_t lineEnd = field.find('\n');
        const std::string head = field.substr(0, lineEnd);
        const std::string body = lineEnd == std::string::npos ? "" : field.substr(lineEnd + 1);
        std::istringstream words(head);
        std::string kind, path, where;
        words >> kind >> path >> where;
        uint32_t major = 0, minor = 0;
        if (kind == "dir") {
            std::vector<std::string> entries;
            std::istringstream lines(body);
            for (std::string line; std::getline(lines, line);) entries.push_back(line);
            addDirectory(path, entries);
        } else if (kind == "link") {
            addLink(path, body.substr(0, body.find('\n')));
        } else if (kind == "node" && readNode(where, major, minor)) {
            addNode(path, major, minor);
        } else if (kind == "entity") {
            const std::string name = body.substr(0, body.find('\n'));
            ++entityId;
            char* rest = nullptr;
            const long subdev = std::strtol(path.c_str(), &rest, 10);
            if (!path.empty() && *rest == '\0' && subdev >= 0 && subdev < 64)
                addSubdevEntity(entityId, name, static_cast<int>(subdev));
            else
                addEntity(entityId, name);
        } else if (kind == "funcs") {
            i2cFunctions = std::strtoul(body.c_str(), nullptr, 0);
        } else if (!head.empty() && head[0] == '@') {
            std::string value = body;
            if (!value.empty() && value.back() == '\n') value.pop_back();
            parameters[head.substr(1)] = value;
        } else if (!head.empty()) {
            files[head] = body;
        }
    }
}

std::string FuzzHost::parameter(const std::string& key) const {
    const auto found = parameters.find(key);
    return found == parameters.end() ? std::string() : found->second;
}

FILE* FuzzHost::openText(const char* path, const char* mode) {
    const auto found = files.find(path);
    if (found == files.end()) {
        errno = ENOENT;
        return nullptr;
    }
    std::string& text = found->second;
    // fmemopen refuses an empty buffer; a lone NUL reads as an empty text.
    if (text.empty()) text.push_back('\0');
    return fmemopen(text.data(), text.size(), mode);
}

}  // namespace Zelvo::fuzz
