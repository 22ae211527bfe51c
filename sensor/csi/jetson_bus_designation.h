// The I2C bus designation on the Jetson boards, read from the video node's sysfs name.
#pragma once

#include "core/host.h"

namespace Zelvo {

// Reads the first line of "/sys/dev/char/<major>:<minor>/name" of the video node and
// copies the decimal digits after the first space that follows "zelvo" into busName
// (at most 8; "... zelvo 30-000c" gives "30"). 0, or -1 when the node is not a character
// device, the name is unreadable or has no "zelvo".
int readJetsonBusDesignation(Host& host, int videoFd, char (&busName)[10]);

}  // namespace Zelvo
