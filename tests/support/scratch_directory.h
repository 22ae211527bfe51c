// Makes a fresh, empty working directory for one test and returns to the previous one
// (removing the scratch directory with everything in it) when the test ends.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/support/program_run.h"

namespace Zelvo::testing {

class ScratchDirectory {
public:
    ScratchDirectory() {
        char previousPath[4096];
        if (::getcwd(previousPath, sizeof previousPath) != nullptr) previous = previousPath;
        char pattern[] = "/tmp/zelvo-scratch-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) path = pattern;
        if (!path.empty() && ::chdir(path.c_str()) != 0) path.clear();
        // As the kernel names it, links resolved.
        char here[4096];
        if (!path.empty() && ::getcwd(here, sizeof here) != nullptr) path = here;
    }
    ~ScratchDirectory() {
        if (!previous.empty() && ::chdir(previous.c_str()) != 0) return;
        if (!path.empty()) runProgram("rm -rf " + shellQuoted(path));
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    bool ready() const { return !path.empty(); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;

private:
    std::string previous;
};

}  // namespace Zelvo::testing
