// Writes the depth library's configuration texts into the working directory.
#pragma once

#include "core/host.h"

namespace Zelvo {

// Creates (or empties) each regular file under its bare name and writes its whole text, in
// the order of configTexts(), never following a link at the name. Stops with false, and one
// line on standard error naming the file and the reason, at the first file that cannot be
// opened or written in full; a partly written file is removed, the files before it stay.
bool writeConfigFiles(Host& host);

}  // namespace Zelvo
