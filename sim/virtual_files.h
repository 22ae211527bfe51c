// The sysfs, procfs and devicetree entries of the simulated board: text files,
// directories and symbolic links, read-only.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace Zelvo::sim {

class VirtualFiles {
public:
    void addFile(const std::string& path, std::string content);
    // Adds the entry to the directory listing (created on first use with "." and "..").
    void addDirectoryEntry(const std::string& directory, const std::string& entry);
    void addLink(const std::string& path, std::string target);

    const std::string* file(const std::string& path) const;
    const std::vector<std::string>* directory(const std::string& path) const;
    const std::string* link(const std::string& path) const;

    // The file as a read-only stdio stream; null with errno set otherwise.
    FILE* openText(const std::string& path, const char* mode) const;

private:
    std::map<std::string, std::string> files_;
    std::map<std::string, std::vector<std::string>> directories_;
    std::map<std::string, std::string> links_;
};

}  // namespace Zelvo::sim
