// Runs a program through the shell, as a user would, and keeps what it printed.
#pragma once

#include <string>

namespace Zelvo::testing {

struct ProgramRun {
    int status = -1;      // exit status, or -1 when the program did not exit normally
    std::string printed;  // standard output and standard error, as they came
};

ProgramRun runProgram(const std::string& commandLine);

// The text quoted for the shell.
std::string shellQuoted(const std::string& text);

}  // namespace Zelvo::testing
