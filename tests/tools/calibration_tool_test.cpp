// The calibration saver as a user runs it: its arguments, its failures, and what it saves
// from and shows of a calibration.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "depth/calibration.h"
#include "device/sensor_calibration.h"
#include "sim/board.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/small_tmpfs.h"

namespace Zelvo {
namespace {

testing::ProgramRun tool(const std::string& arguments, const std::string& environment = "") {
    return testing::runProgram("env -u ZELVO_SIM " + environment + " " ZELVO_TOOL_LAUNCHER " " +
                               testing::shellQuoted(ZELVO_CALIBRATION_TOOL) + " " + arguments);
}

std::string contentsOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The status, and the start of what the program printed.
void expectRun(const testing::ProgramRun& run, int status, const std::string& printed) {
    EXPECT_EQ(run.status, status) << run.printed;
    EXPECT_EQ(run.printed.rfind(printed, 0), 0u) << run.printed;
}

TEST(CalibrationTool, BadArgumentsGiveTheUsageText) {
    for (const auto& [arguments, problem] : std::vector<std::pair<const char*, const char*>>{
             {"", "a command is needed"},
             {"load cali.bin", "unknown command 'load'"},
             {"save", "FILE is missing"},
             {"show", "FILE is missing"},
             {"save a.bin b.bin", "only one FILE is taken"},
             {"save a.bin --index", "--index needs a number"},
             {"save --index two a.bin", "'two' is not a video node number"},
             {"save --index=-1 a.bin", "'-1' is not a video node number"},
             {"show --index 1 a.bin", "unknown option '--index'"}}) {
        expectRun(tool(arguments), 2,
                      std::string("zelvo-calibration: ") + problem + "\nusage: ");
    }
    // Help is asked for wherever -h or --help stands.
    for (const char* arguments : {"--help", "-h", "-h save", "save --help", "show x.bin -h"}) {
        expectRun(tool(arguments), 0, "usage: zelvo-calibration save [--index N] FILE\n");
    }
}

// What lies at the name the tool reads or writes, and the one line it answers with.
TEST(CalibrationTool, FilesOfEveryKindAreRefusedWithOneLineAndLeftAsTheyWere) {
    testing::ScratchDirectory scratch;
    ASSERT_EQ(::mkdir("folder", 0755), 0);
    ASSERT_EQ(::mkfifo("fifo", 0644), 0);
    std::ofstream("other.bin") << "another file";
    ASSERT_EQ(::symlink("other.bin", "link"), 0);
    std::ofstream("big.bin") << std::string(20000, 'b');
    std::ofstream("short.bin") << std::string(100, 's');
    const std::string notRegular = ", not a regular file\n";
    for (const auto& [arguments, line] : std::vector<std::pair<std::string, std::string>>{
             {"show folder", "cannot read folder: it is a directory" + notRegular},
             {"show fifo", "cannot read fifo: it is a FIFO" + notRegular},
             {"show /dev/zero", "cannot read /dev/zero: it is a character device" + notRegular},
             {"show link", "cannot read link: it is a symbolic link, which is not followed\n"},
             {"show big.bin",
              "big.bin is not a valid Zelvo calibration (20000 bytes, more than 16384)\n"},
             {"show short.bin", "short.bin is not a valid Zelvo calibration (100 bytes)\n"},
             {"save folder", "cannot write folder: it is a directory" + notRegular},
             {"save fifo", "cannot write fifo: it is a FIFO" + notRegular},
             {"save /dev/full", "cannot write /dev/full: it is a character device" + notRegular},
             {"save link", "cannot write link: it is a symbolic link, which is not followed\n"},
         }) {
        const testing::ProgramRun run = tool(arguments, "ZELVO_SIM=1");
        EXPECT_EQ(run.status, 1) << arguments;
        EXPECT_EQ(run.printed, "zelvo-calibration: " + line) << arguments;
    }
    EXPECT_EQ(contentsOf("other.bin"), "another file");
    // Nothing was left behind: the folder holds what the test made.
    EXPECT_EQ(testing::runProgram("ls -A").printed,
              "big.bin\nfifo\nfolder\nlink\nother.bin\nshort.bin\n");
    EXPECT_EQ(testing::runProgram("ls -A folder").printed, "");
}

TEST(CalibrationTool, SaveOnAFullDiskKeepsThePreviousFileAndLeavesNothingElse) {
    testing::SmallTmpfs disk("size=16k");
    if (!disk.mounted) GTEST_SKIP() << disk.skipReason;
    const std::string saved = disk.path + "/cali.bin";
    std::ofstream(saved) << "previous calibration";
    // The rest of the disk filled up.
    testing::runProgram("head -c 65536 /dev/zero > " + testing::shellQuoted(disk.path + "/filler"));
    expectRun(tool("save " + testing::shellQuoted(saved), "ZELVO_SIM=1"), 1,
              "zelvo-calibration: cannot write " + saved + ": No space left on device\n");
    EXPECT_EQ(contentsOf(saved), "previous calibration");
    EXPECT_EQ(testing::runProgram("ls -A " + testing::shellQuoted(disk.path)).printed,
              "cali.bin\nfiller\n");
}

TEST(CalibrationTool, ShowsWhatACalibrationHolds) {
    testing::ScratchDirectory scratch;
    ZelvoDepth::Calibration calibration;
    calibration.width = 640;
    calibration.height = 480;
    calibration.gridColumns = 3;
    calibration.gridRows = 2;
    calibration.lens = {525.5f, 525.0f, 319.5f, 239.5f, -0.1f, 0.01f, 0.0f, 0.0f};
    calibration.referenceTemperature = 40.0f;
    calibration.frequencies.push_back({99930819u, 0.25f, -0.001f, {-8192, 0, 1, 2, 3, 4096}});
    std::vector<uint8_t> bytes = ZelvoDepth::encodeCalibration(calibration);
    std::ofstream("cali.bin").write(reinterpret_cast<char*>(bytes.data()), 512);
    bytes[100] ^= 1;
    std::ofstream("broken.bin").write(reinterpret_cast<char*>(bytes.data()), 512);

    const testing::ProgramRun run = tool("show cali.bin");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.printed,
              "Zelvo calibration, 512 bytes\n"
              "  module: 640 x 480 pixels\n"
              "  lens: fx 525.50 fy 525.00 cx 319.50 cy 239.50 pixels\n"
              "  distortion: k1 -0.100000 k2 0.010000 p1 0.000000 p2 0.000000\n"
              "  reference temperature: 40.0 C\n"
              "  offset grid: 3 x 2 nodes\n"
              "  frequency 1: 99930819 Hz, offset 0.2500 rad, drift -0.001000 rad/C, "
              "grid offsets -1.0000 to 0.5000 rad\n");
    expectRun(tool("show missing.bin"), 1,
                  "zelvo-calibration: cannot read missing.bin: No such file");
    expectRun(tool("show broken.bin"), 1,
                  "zelvo-calibration: broken.bin is not a valid Zelvo calibration (512 bytes)\n");
}

TEST(CalibrationTool, SavesTheModuleCalibrationOfTheSimulatedBoard) {
    testing::ScratchDirectory scratch;
    std::string error;  // what the module holds, read here over the same simulated board
    auto board = sim::Board::create("1", error);
    ZelvoTOFCSISensor sensor("/dev/video0", PlatformRaspberryPi5, *board);
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    const SensorCalibration held = readSensorCalibration(sensor);
    ASSERT_TRUE(held.read());
    const std::string expected(reinterpret_cast<char*>(sensor.calibrationData()), held.length);
    sensor.close();

    std::ofstream("saved.bin") << std::string(20000, 'x');  // cut to the calibration
    expectRun(tool("save saved.bin", "ZELVO_SIM=1"), 0,
              "Saved " + std::to_string(held.length) +
                  " bytes of calibration from /dev/video0 to saved.bin\n");
    EXPECT_EQ(contentsOf("saved.bin"), expected);

    expectRun(tool("save --index 3 a.bin", "ZELVO_SIM=1"), 1,
                  "zelvo-calibration: cannot open the CSI camera /dev/video3\n");
    expectRun(tool("save a.bin", "ZELVO_SIM=board=vax"), 1, "ZELVO_SIM: invalid value");
    expectRun(tool("save no/such/folder/a.bin", "ZELVO_SIM=1"), 1,
              "zelvo-calibration: cannot write no/such/folder/a.bin: No such file or directory\n");
    EXPECT_EQ(testing::runProgram("ls -A").printed, "saved.bin\n");
}

}  // namespace
}  // namespace Zelvo
