// The board the process runs on, told by its devicetree model.
#pragma once

#include <zelvo/types.h>

namespace Zelvo {

class Host;

// Board code from the devicetree model text read through the host.
Platform detectPlatform(Host& host);

}  // namespace Zelvo
