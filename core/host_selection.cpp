#include "core/host_selection.h"

#include <cstdlib>

#include "sim/board_factory.h"

namespace Zelvo {

HostSelection selectHost() {
    const char* settings = std::getenv("ZELVO_SIM");
    if (settings == nullptr || settings[0] == '\0') return {systemHost(), {}};
    HostSelection selection;
    selection.host = sim::createBoard(settings, selection.error);
    return selection;
}

}  // namespace Zelvo
