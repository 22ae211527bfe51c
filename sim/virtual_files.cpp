#include "sim/virtual_files.h"

#include <cerrno>
#include <cstring>

namespace Zelvo::sim {

void VirtualFiles::addFile(const std::string& path, std::string content) {
    files_[path] = std::move(content);
}

void VirtualFiles::addDirectoryEntry(const std::string& directory, const std::string& entry) {
    auto& entries = directories_[directory];
    if (entries.empty()) entries = {".", ".."};
    entries.push_back(entry);
}

void VirtualFiles::addLink(const std::string& path, std::string target) {
    links_[path] = std::move(target);
}

const std::string* VirtualFiles::file(const std::string& path) const {
    auto it = files_.find(path);
    return it == files_.end() ? nullptr : &it->second;
}

const std::vector<std::string>* VirtualFiles::directory(const std::string& path) const {
    auto it = directories_.find(path);
    return it == directories_.end() ? nullptr : &it->second;
}

const std::string* VirtualFiles::link(const std::string& path) const {
    auto it = links_.find(path);
    return it == links_.end() ? nullptr : &it->second;
}

FILE* VirtualFiles::openText(const std::string& path, const char* mode) const {
    const std::string* content = file(path);
    if (!content) {
        errno = directory(path) ? EISDIR : ENOENT;
        return nullptr;
    }
    if (!mode || mode[0] != 'r' || std::strchr(mode, '+')) {
        errno = EACCES;
        return nullptr;
    }
    // The stream owns a copy, so it outlives the board if the caller keeps it.
    FILE* stream = fmemopen(nullptr, content->size() + 1, "w+");
    if (!stream) return nullptr;
    if (!content->empty() && fwrite(content->data(), 1, content->size(), stream) != content->size()) {
        fclose(stream);
        errno = EIO;
        return nullptr;
    }
    rewind(stream);
    return stream;
}

}  // namespace Zelvo::sim
