#include "tests/support/program_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace Zelvo::testing {

ProgramRun runProgram(const std::string& commandLine) {
    char errPath[] = "/tmp/zelvo-program-err-XXXXXX";
    const int errFd = ::mkstemp(errPath);
    ProgramRun run;
    if (errFd < 0) return run;
    ::close(errFd);

    FILE* pipe = ::popen((commandLine + " 2>" + errPath).c_str(), "r");
    if (pipe != nullptr) {
        char chunk[4096];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, got);
        const int status = ::pclose(pipe);
        if (status != -1 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    }
    std::ifstream err(errPath, std::ios::binary);
    run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    std::remove(errPath);
    return run;
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace Zelvo::testing
