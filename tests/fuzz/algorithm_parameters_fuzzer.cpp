// The depth library's parameter file "ConfigAlgorithm.json" and the INI text under it.
#include <cstdlib>
#include <string>

#include "depth/algorithm_parameters.h"
#include "depth/ini_text.h"

namespace {

// One line's piece, without the spaces and tabs around it.
bool trimmedPiece(const std::string& piece) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return piece.find('\n') == std::string::npos &&
           (piece.empty() || (!blank(piece.front()) && !blank(piece.back())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const ZelvoDepth::IniEntry& entry : ZelvoDepth::parseIniText(text)) {
        if (!trimmedPiece(entry.section) || !trimmedPiece(entry.key) || !trimmedPiece(entry.value))
            std::abort();
    }
    std::string complaints;
    const ZelvoDepth::AlgorithmParameters parameters =
        ZelvoDepth::parseAlgorithmParameters(text, &complaints);
    // Whatever the text, every value stays in its range.
    for (int level : {parameters.tDenoiseLevelDepth, parameters.sDenoiseLevelDepth,
                      parameters.tDenoiseLevelGray, parameters.sDenoiseLevelGray,
                      parameters.erdoLevel}) {
        if (level < 0 || level > 5) std::abort();
    }
    if (parameters.tDenoiseMethodDepth != 1 || parameters.sDenoiseMethodDepth != 1 ||
        parameters.tDenoiseMethodGray != 1 || parameters.sDenoiseMethodGray != 1)
        std::abort();
    for (float distance : {parameters.validDistMin, parameters.validDistMax}) {
        if (!(distance >= 0.0f && distance <= 100000.0f)) std::abort();
    }
    if (!complaints.empty() && complaints.back() != '\n') std::abort();
    return 0;
}
