// Writes the depth library's configuration texts into the working directory.
#pragma once

#include "core/host.h"

namespace Zelvo {

// Creates (or empties) each file under its bare name and writes its text in one write,
// in the order of configTexts(). Stops with false at the first file that cannot be
// opened; the files written before it stay. Write and close errors are ignored.
bool writeConfigFiles(Host& host);

}  // namespace Zelvo
