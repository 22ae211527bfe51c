#include "sensor/csi/chip_address.h"

#include <cstdio>
#include <cstdlib>

namespace Zelvo {

int parseChipAddress(const char* text) {
    char* end = nullptr;
    const long address = strtol(text, &end, 0);
    if (*end != '\0') {
        fprintf(stderr, "Error: Chip address is not a number!\n");
        return -1;
    }
    if (address < kFirstChipAddress || address > kLastChipAddress) {
        fprintf(stderr, "Error: Chip address out of range (0x03-0x77)!\n");
        return -2;
    }
    return static_cast<int>(address);
}

}  // namespace Zelvo
