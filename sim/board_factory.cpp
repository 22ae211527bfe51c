#include "sim/board_factory.h"

#include "sim/board.h"

namespace Zelvo::sim {

std::shared_ptr<Host> createBoard(const char* settings, std::string& error) {
    return Board::create(settings, error);
}

}  // namespace Zelvo::sim
