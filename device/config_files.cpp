#include "device/config_files.h"

#include <fcntl.h>

#include "device/config_texts.h"

namespace Zelvo {

bool writeConfigFiles(Host& host) {
    for (const ConfigText& text : configTexts()) {
        const int fd = host.open(text.fileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return false;
        host.write(fd, text.bytes, text.length);
        host.close(fd);
    }
    return true;
}

}  // namespace Zelvo
