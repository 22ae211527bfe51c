// Entry point of the simulated board: builds a board from the ZELVO_SIM settings text.
#pragma once

#include <memory>
#include <string>

#include "core/host.h"

namespace Zelvo::sim {

// The board as a host, or null with error holding the one line (ending in a newline)
// to print on standard error.
std::shared_ptr<Host> createBoard(const char* settings, std::string& error);

}  // namespace Zelvo::sim
