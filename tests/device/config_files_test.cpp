// The configuration texts as they land in the working directory: exact bytes, truncation
// of longer files, and the stop at the first file that cannot be created.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "core/host.h"
#include "device/config_files.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch_directory.h"

namespace Zelvo {
namespace {

struct ExpectedText {
    const char* name;
    long long length;
    char last;
    const char* sha256;  // of the text as the depth library's documentation gives it
};

constexpr ExpectedText kExpected[] = {
    {"ConfigAlgorithm.json", 273, '\n',
     "488645262355ac97f8073764642adf71d4da81c484c1852268135a6ec04c5988"},
    {"ConfigCamera.json", 9476, '0',
     "583e5c48394bb29987735b0efdc7cdbdc38a8904b95e78cbd9aaeabd5d6f7f14"},
    {"register.json", 946, '0',
     "c4ed7bb2597e32cd40866bc8e36522595f06f069563b0e8d0937d57755a605ad"},
};

// The size of a regular file, or -1 when there is none of that name.
long long regularFileSize(const char* path) {
    struct stat status {};
    if (::stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return static_cast<long long>(status.st_size);
}

TEST(ConfigFiles, WritesEachTextByteForByteAndTruncatesLongerFiles) {
    for (const bool longerFilesFirst : {false, true}) {
        testing::ScratchDirectory scratch;
        for (const ExpectedText& text : kExpected) {
            if (longerFilesFirst) std::ofstream(text.name) << std::string(20000, 'x');
        }
        ASSERT_TRUE(writeConfigFiles(*systemHost()));
        for (const ExpectedText& text : kExpected) {
            EXPECT_EQ(regularFileSize(text.name), text.length) << text.name;
            const auto sha = testing::runProgram(std::string("sha256sum ") + text.name);
            EXPECT_EQ(sha.printed.substr(0, 64), text.sha256) << text.name;
            std::ifstream file(text.name, std::ios::binary);
            file.seekg(-1, std::ios::end);
            EXPECT_EQ(file.get(), text.last) << text.name;
        }
    }
}

TEST(ConfigFiles, StopsAtTheFirstFileThatCannotBeCreated) {
    // A directory of the file's name: nobody, root included, can open it for writing.
    for (int blocked = 0; blocked <= 3; ++blocked) {
        testing::ScratchDirectory scratch;
        if (blocked < 3) {
            ASSERT_EQ(::mkdir(kExpected[blocked].name, 0755), 0);
        }
        EXPECT_EQ(writeConfigFiles(*systemHost()), blocked == 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(regularFileSize(kExpected[i].name) == kExpected[i].length, i < blocked)
                << kExpected[i].name << " with file " << blocked << " blocked";
        }
    }
}

}  // namespace
}  // namespace Zelvo
