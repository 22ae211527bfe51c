// A fresh, empty working directory for one test: made and entered at construction, left
// and removed with everything in it at destruction.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "tests/support/program_run.h"

namespace Zelvo::testing {

class ScratchDirectory {
public:
    ScratchDirectory() {
        char here[4096] = {};
        if (::getcwd(here, sizeof here) != nullptr) previous = here;
        char pattern[] = "/tmp/zelvo-scratch-XXXXXX";
        const bool entered = ::mkdtemp(pattern) != nullptr && ::chdir(pattern) == 0;
        EXPECT_TRUE(entered) << pattern;
        // As the kernel names it, links resolved.
        if (entered && ::getcwd(here, sizeof here) != nullptr) path = here;
    }
    ~ScratchDirectory() {
        if (::chdir(previous.c_str()) == 0 && !path.empty()) {
            runProgram("rm -rf " + shellQuoted(path));
        }
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }

private:
    std::string previous;
    std::string path;
};

}  // namespace Zelvo::testing
