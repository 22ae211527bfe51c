// Chooses the host a new camera talks to: the simulated board when ZELVO_SIM is set,
// the operating system otherwise.
#pragma once

#include <memory>
#include <string>

#include "core/host.h"

namespace Zelvo {

struct HostSelection {
    std::shared_ptr<Host> host;  // null when the selection failed
    std::string error;           // the line to print on standard error when it failed
};

HostSelection selectHost();

}  // namespace Zelvo
