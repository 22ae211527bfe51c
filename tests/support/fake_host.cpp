#include "tests/support/fake_host.h"

#include <cerrno>
#include <sys/mman.h>

namespace Zelvo::testing {

namespace {

int unsupported() {
    errno = ENOSYS;
    return -1;
}

}  // namespace

void FakeHost::setText(const std::string& path, const std::string& contents) {
    texts[path] = contents;
}

void FakeHost::setModel(const std::string& contents) {
    setText("/sys/firmware/devicetree/base/model", contents);
}

int FakeHost::open(const char*, int, mode_t) { return unsupported(); }
int FakeHost::close(int) { return unsupported(); }
ssize_t FakeHost::read(int, void*, size_t) { return unsupported(); }
ssize_t FakeHost::write(int, const void*, size_t) { return unsupported(); }
int FakeHost::ftruncate(int, int64_t) { return unsupported(); }
int FakeHost::unlink(const char*) { return unsupported(); }
int FakeHost::rename(const char*, const char*) { return unsupported(); }
int FakeHost::ioctl(int, unsigned long, void*) { return unsupported(); }
int FakeHost::poll(struct pollfd*, unsigned long, int) { return unsupported(); }
void* FakeHost::mmap(void*, size_t, int, int, int, int64_t) {
    errno = ENOSYS;
    return MAP_FAILED;
}
int FakeHost::munmap(void*, size_t) { return unsupported(); }
int FakeHost::fstat(int, struct stat*) { return unsupported(); }
ssize_t FakeHost::readlink(const char*, char*, size_t) { return unsupported(); }
int FakeHost::listDirectory(const char*, std::vector<std::string>&) { return unsupported(); }

void FakeHost::setLibrary(const std::string& name, const std::map<std::string, void*>& symbols) {
    libraries[name] = symbols;
}

// A library's handle is its symbol table.
void* FakeHost::dlopen(const char* path, int) {
    auto it = path ? libraries.find(path) : libraries.end();
    if (it == libraries.end()) return nullptr;
    ++librariesOpen;
    return &it->second;
}

void* FakeHost::dlsym(void* library, const char* name) {
    if (!library || !name) return nullptr;
    const auto& symbols = *static_cast<std::map<std::string, void*>*>(library);
    auto it = symbols.find(name);
    return it == symbols.end() ? nullptr : it->second;
}

int FakeHost::dlclose(void* library) {
    if (!library) return unsupported();
    --librariesOpen;
    return 0;
}
const char* FakeHost::dlerror() { return "no shared libraries on this host"; }

FILE* FakeHost::openText(const char* path, const char* mode) {
    ++textOpens;
    auto it = texts.find(path);
    if (it == texts.end()) {
        errno = ENOENT;
        return nullptr;
    }
    std::string& contents = it->second;
    // fmemopen refuses an empty buffer; a lone NUL reads as an empty text.
    if (contents.empty()) contents.push_back('\0');
    return fmemopen(contents.data(), contents.size(), mode);
}

}  // namespace Zelvo::testing
