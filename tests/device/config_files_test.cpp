// The configuration texts as they land in the working directory: exact bytes, truncation
// of longer files, and the stop at the first file that cannot be created.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/host.h"
#include "device/config_files.h"
#include "device/config_texts.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch_directory.h"

namespace Zelvo {
namespace {

using testing::ScratchDirectory;

struct ExpectedText {
    const char* name;
    size_t length;
    bool finalLineFeed;
    const char* sha256;
};

// Digests of the texts as the depth library's documentation gives them.
constexpr ExpectedText kExpected[] = {
    {"ConfigAlgorithm.json", 273, true,
     "488645262355ac97f8073764642adf71d4da81c484c1852268135a6ec04c5988"},
    {"ConfigCamera.json", 9476, false,
     "583e5c48394bb29987735b0efdc7cdbdc38a8904b95e78cbd9aaeabd5d6f7f14"},
    {"register.json", 946, false,
     "c4ed7bb2597e32cd40866bc8e36522595f06f069563b0e8d0937d57755a605ad"},
};

std::string contentsOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The size of a regular file, or -1 when there is none of that name.
long long regularFileSize(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return static_cast<long long>(status.st_size);
}

std::string sha256Of(const std::string& path) {
    const testing::ProgramRun run = testing::runProgram("sha256sum " + path);
    return run.out.substr(0, 64);
}

void expectWrittenTexts() {
    for (const ExpectedText& expected : kExpected) {
        const std::string text = contentsOf(expected.name);
        EXPECT_EQ(text.size(), expected.length) << expected.name;
        EXPECT_EQ(sha256Of(expected.name), expected.sha256) << expected.name;
        ASSERT_FALSE(text.empty()) << expected.name;
        EXPECT_EQ(text.back() == '\n', expected.finalLineFeed) << expected.name;
        EXPECT_EQ(text.find_first_of(std::string("\r\0", 2)), std::string::npos)
            << expected.name;
    }
}

TEST(ConfigFiles, TextsAreHeldInWritingOrderWithTheirLengths) {
    const auto& texts = configTexts();
    ASSERT_EQ(texts.size(), 3u);
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_STREQ(texts[i].fileName, kExpected[i].name);
        EXPECT_EQ(texts[i].length, kExpected[i].length);
    }
    // Section order, as the library looks for them.
    const std::string camera(texts[1].bytes, texts[1].length);
    size_t at = 0;
    for (const char* section : {"[VideoInfo]\n", "\n\n[Signle-4PHASE]\n",
                                "\n\n[Signle-4PHASE_GRAY]\n", "\n\n[Double-4PHASE_4PHASE]\n",
                                "\n\n[Double-4PHASE_GRAY_4PHASE_BG]\n", "\n\n[Gray-Only]\n",
                                "\n\n[BGOUTDOOR]\n", "\n\n[Signal-BG-GRAY-BG-4PHASE]\n"}) {
        const size_t found = camera.find(section, at);
        ASSERT_NE(found, std::string::npos) << section;
        at = found + 1;
    }
    EXPECT_EQ(camera.substr(camera.size() - 20), "\nperformClkChanges=0");
}

TEST(ConfigFiles, WritesEachTextByteForByteAndTruncatesLongerFiles) {
    for (const bool longerFilesFirst : {false, true}) {
        ScratchDirectory scratch;
        ASSERT_TRUE(scratch.ready());
        if (longerFilesFirst) {
            for (const ExpectedText& expected : kExpected) {
                std::ofstream(expected.name) << std::string(20000, 'x');
            }
        }
        ASSERT_TRUE(writeConfigFiles(*systemHost())) << longerFilesFirst;
        expectWrittenTexts();
    }
}

TEST(ConfigFiles, StopsAtTheFirstFileThatCannotBeCreated) {
    const struct {
        const char* blocked;  // made a directory, which no one can open for writing
        bool result;
        std::vector<bool> written;
    } cases[] = {
        {"ConfigAlgorithm.json", false, {false, false, false}},
        {"ConfigCamera.json", false, {true, false, false}},
        {"register.json", false, {true, true, false}},
        {nullptr, true, {true, true, true}},
    };
    for (const auto& c : cases) {
        ScratchDirectory scratch;
        ASSERT_TRUE(scratch.ready());
        if (c.blocked != nullptr) {
            ASSERT_EQ(::mkdir(c.blocked, 0755), 0);
        }
        EXPECT_EQ(writeConfigFiles(*systemHost()), c.result);
        for (size_t i = 0; i < 3; ++i) {
            const long long length = static_cast<long long>(kExpected[i].length);
            EXPECT_EQ(regularFileSize(kExpected[i].name) == length, c.written[i])
                << kExpected[i].name << " with " << (c.blocked ? c.blocked : "nothing")
                << " blocked";
        }
    }
}

}  // namespace
}  // namespace Zelvo
