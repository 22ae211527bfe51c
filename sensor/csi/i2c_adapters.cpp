#include "sensor/csi/i2c_adapters.h"

#include <cstdio>
#include <cstring>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <memory>
#include <new>
#include <strings.h>

#include "sensor/csi/i2c_bus.h"

namespace Zelvo {
namespace {

constexpr size_t kLineBytes = 120;      // lines of at most 119 characters
constexpr size_t kMountLineBytes = 255;  // lines of at most 254 characters
constexpr size_t kPathBytes = 256;       // formatted paths of at most 255 bytes
// SMBus read/write byte, byte data and word data.
constexpr unsigned long kSmbusFunctions = 0x7e0000;

// Text files are closed on every way out, the out-of-memory one included.
using TextFile = std::unique_ptr<FILE, int (*)(FILE*)>;

TextFile openTextFile(Host& host, const char* path) {
    return TextFile(host.openText(path, "r"), fclose);
}

enum AdapterKind { Dummy, Isa, I2c, Smbus, Unknown };

struct KindTexts {
    const char* kind;
    const char* description;
};

constexpr KindTexts kKindTexts[] = {
    {"dummy", "Dummy bus"},     {"isa", "ISA bus"},   {"i2c", "I2C adapter"},
    {"smbus", "SMBus adapter"}, {"unknown", "N/A"},
};

void trimTrailing(char* text) {
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == ' ')) {
        text[--length] = '\0';
    }
}

// Splits off the column after the last tab; null when the line has no tab left.
char* splitLastColumn(char* line) {
    char* tab = strrchr(line, '\t');
    if (!tab) return nullptr;
    *tab = '\0';
    return tab + 1;
}

// Procfs lines read "i2c-<n> \t <kind> \t <name> \t <algorithm>".
void collectFromProcfs(FILE* file, std::vector<I2cAdapter>& adapters) {
    char line[kLineBytes];
    while (fgets(line, sizeof line, file)) {
        char* algorithm = splitLastColumn(line);
        if (!algorithm) continue;
        char* name = splitLastColumn(line);
        if (!name) continue;
        char* kind = splitLastColumn(line);
        if (!kind) continue;
        trimTrailing(algorithm);
        trimTrailing(name);
        trimTrailing(kind);
        int busNumber = 0;
        // Buses are numbered from 0: a negative number would read as a failed lookup.
        if (sscanf(line, "i2c-%d", &busNumber) != 1 || busNumber < 0) continue;
        adapters.push_back(I2cAdapter{busNumber, name, kind, algorithm});
    }
}

// Mount point of sysfs from "/proc/mounts", or empty.
std::string sysfsMountPoint(Host& host) {
    const TextFile mounts = openTextFile(host, "/proc/mounts");
    if (!mounts) return {};
    std::string mountPoint;
    char line[kMountLineBytes];
    char point[kMountLineBytes];
    char type[kMountLineBytes];
    while (fgets(line, sizeof line, mounts.get())) {
        if (sscanf(line, "%*[^ ] %254[^ ] %254[^ ] %*s\n", point, type) == 2 &&
            strcasecmp(type, "sysfs") == 0) {
            mountPoint = point;
            break;
        }
    }
    return mountPoint;
}

// Formats a path; false when it would take 255 bytes or more.
template <typename... Args>
bool formatPath(char (&path)[kPathBytes], const char* format, Args... args) {
    const int length = snprintf(path, sizeof path, format, args...);
    return length >= 0 && static_cast<size_t>(length) < sizeof path - 1;
}

// The first name file of the adapter that opens, or null. Skips silently on paths too long.
TextFile openAdapterNameFile(Host& host, const char* directory, const char* entry,
                          char (&path)[kPathBytes]) {
    TextFile none(nullptr, fclose);
    if (!formatPath(path, "%s/%s/name", directory, entry)) return none;
    if (TextFile file = openTextFile(host, path)) return file;
    if (!formatPath(path, "%s/%s/device/name", directory, entry)) return none;
    if (TextFile file = openTextFile(host, path)) return file;

    char deviceDirectory[kPathBytes];
    if (!formatPath(deviceDirectory, "%s/%s/device", directory, entry)) return none;
    std::vector<std::string> children;
    if (host.listDirectory(deviceDirectory, children) != 0) return none;
    for (const std::string& child : children) {
        if (child.compare(0, 4, "i2c-") != 0) continue;
        if (!formatPath(path, "%s/%s/device/%s/name", directory, entry, child.c_str())) {
            return none;
        }
        if (TextFile file = openTextFile(host, path)) return file;
    }
    return none;
}

AdapterKind probeKind(Host& host, int busNumber, const char* name) {
    if (strncmp(name, "ISA ", 4) == 0) return Isa;
    char path[kI2cPathBytes];
    const int file = i2cOpenDev(host, busNumber, path, sizeof path, 1);
    if (file < 0) return Unknown;
    AdapterKind kind;
    unsigned long functions = 0;
    if (host.ioctl(file, I2C_FUNCS, &functions) < 0) {
        kind = Unknown;
    } else if (functions & I2C_FUNC_I2C) {
        kind = I2c;
    } else if (functions & kSmbusFunctions) {
        kind = Smbus;
    } else {
        kind = Dummy;
    }
    host.close(file);
    return kind;
}

void collectFromSysfs(Host& host, std::vector<I2cAdapter>& adapters) {
    const std::string mountPoint = sysfsMountPoint(host);
    if (mountPoint.empty()) return;
    char directory[kPathBytes];
    if (!formatPath(directory, "%s/class/i2c-dev", mountPoint.c_str())) return;
    std::vector<std::string> entries;
    if (host.listDirectory(directory, entries) != 0) return;

    for (const std::string& entry : entries) {
        if (entry == "." || entry == "..") continue;
        char path[kPathBytes];
        char name[kLineBytes];
        {
            const TextFile nameFile = openAdapterNameFile(host, directory, entry.c_str(), path);
            if (!nameFile) continue;
            if (!fgets(name, sizeof name, nameFile.get())) name[0] = '\0';
        }
        if (name[0] == '\0') {
            fprintf(stderr, "%s: read error\n", path);
            continue;
        }
        if (char* newline = strchr(name, '\n')) *newline = '\0';
        int busNumber = 0;
        if (sscanf(entry.c_str(), "i2c-%d", &busNumber) != 1 || busNumber < 0) continue;
        const KindTexts& texts = kKindTexts[probeKind(host, busNumber, name)];
        adapters.push_back(I2cAdapter{busNumber, name, texts.kind, texts.description});
    }
}

}  // namespace

std::optional<std::vector<I2cAdapter>> collectI2cAdapters(Host& host) {
    try {
        std::vector<I2cAdapter> adapters;
        adapters.reserve(8);
        if (const TextFile procfs = openTextFile(host, "/proc/bus/i2c")) {
            collectFromProcfs(procfs.get(), adapters);
            return adapters;
        }
        collectFromSysfs(host, adapters);
        return adapters;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace Zelvo
