#include "sensor/csi/jetson_bus_designation.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace Zelvo {

int readJetsonBusDesignation(Host& host, int videoFd, char (&busName)[10]) {
    struct stat status {};
    if (host.fstat(videoFd, &status) != 0 || !S_ISCHR(status.st_mode)) return -1;
    char path[64];
    snprintf(path, sizeof path, "/sys/dev/char/%u:%u/name", major(status.st_rdev),
             minor(status.st_rdev));
    FILE* file = host.openText(path, "r");
    if (!file) return -1;
    char name[256];
    const bool read = fgets(name, sizeof name, file) != nullptr;
    fclose(file);
    if (!read) return -1;

    const char* cursor = strstr(name, "zelvo");
    if (!cursor) return -1;
    memset(busName, 0, sizeof busName);
    // The scan ends at the end of the text: a name without a space leaves the designation
    // empty, and the later bus resolution reports it.
    while (*cursor != '\0' && *cursor != ' ') ++cursor;
    if (*cursor == '\0') return 0;
    ++cursor;
    for (int i = 0; i < 8 && isdigit(static_cast<unsigned char>(cursor[i])); ++i) {
        busName[i] = cursor[i];
    }
    return 0;
}

}  // namespace Zelvo
