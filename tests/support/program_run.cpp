#include "tests/support/program_run.h"

#include <sys/wait.h>

#include <cstdio>

namespace Zelvo::testing {

ProgramRun runProgram(const std::string& commandLine) {
    ProgramRun run;
    FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        run.printed.append(chunk, got);
    }
    const int status = ::pclose(pipe);
    if (status != -1 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace Zelvo::testing
