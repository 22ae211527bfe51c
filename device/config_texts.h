// The depth library's three configuration texts, carried as constant data and written to
// the working directory at every start of a VGA stream. INI-style texts despite their
// ".json" names: section lines in brackets, key=value lines, single line feeds.
#pragma once

#include <array>
#include <cstddef>

namespace Zelvo {

struct ConfigText {
    const char* fileName;
    const char* bytes;  // exactly `length` bytes, without a terminating zero
    size_t length;
};

// "ConfigAlgorithm.json", "ConfigCamera.json" and "register.json", in the order they are
// written.
const std::array<ConfigText, 3>& configTexts();

// The bytes of "ConfigCamera.json".
const char* cameraConfigText();
size_t cameraConfigLength();

}  // namespace Zelvo
