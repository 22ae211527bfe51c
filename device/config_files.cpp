#include "device/config_files.h"

#include <cstdio>

#include "core/named_file.h"
#include "device/config_texts.h"

namespace Zelvo {

bool writeConfigFiles(Host& host) {
    for (const ConfigText& text : configTexts()) {
        const NamedFile written = writeRegularFile(host, text.fileName, text.bytes, text.length);
        if (written.failed()) {
            std::fprintf(stderr, "Error: cannot write the configuration file %s: %s\n",
                         text.fileName, written.reason().c_str());
            return false;
        }
    }
    return true;
}

}  // namespace Zelvo
