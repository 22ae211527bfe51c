#include "sim/board_factory.h"

namespace Zelvo::sim {

std::shared_ptr<Host> createBoard(const char*, std::string& error) {
    error = "ZELVO_SIM: the simulated board is not available in this build\n";
    return nullptr;
}

}  // namespace Zelvo::sim
