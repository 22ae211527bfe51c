// The calibration saver as a user runs it: its arguments, its failures, and what it
// saves from and shows of a calibration.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "depth/calibration.h"
#include "device/sensor_calibration.h"
#include "sim/board.h"
#include "tests/support/program_run.h"
#include "tests/support/scratch_directory.h"

namespace Zelvo {
namespace {

using testing::ProgramRun;

ProgramRun tool(const std::string& arguments, const std::string& environment = "") {
    return testing::runProgram("env -u ZELVO_SIM " + environment + " " ZELVO_TOOL_LAUNCHER " " +
                               testing::shellQuoted(ZELVO_CALIBRATION_TOOL) + " " + arguments);
}

std::string contentsOf(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void writeBytes(const char* path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

TEST(CalibrationTool, BadArgumentsGiveTheUsageText) {
    const struct {
        const char* arguments;
        const char* problem;
    } cases[] = {
        {"", "a command is needed"},
        {"load cali.bin", "unknown command 'load'"},
        {"save", "FILE is missing"},
        {"show", "FILE is missing"},
        {"save a.bin b.bin", "only one FILE is taken"},
        {"save a.bin --index", "--index needs a number"},
        {"save --index two a.bin", "'two' is not a video node number"},
        {"save --index=-1 a.bin", "'-1' is not a video node number"},
        {"save --force a.bin", "unknown option '--force'"},
        {"show --index 1 a.bin", "unknown option '--index'"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = tool(c.arguments);
        EXPECT_EQ(run.status, 2) << c.arguments;
        EXPECT_EQ(run.err.rfind(std::string("zelvo-calibration: ") + c.problem + "\nusage: ", 0),
                  0u)
            << c.arguments << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << c.arguments;
    }
    const ProgramRun help = tool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: zelvo-calibration save [--index N] FILE\n", 0), 0u);
}

ZelvoDepth::Calibration sampleCalibration() {
    ZelvoDepth::Calibration calibration;
    calibration.width = 640;
    calibration.height = 480;
    calibration.gridColumns = 3;
    calibration.gridRows = 2;
    calibration.lens = {525.5f, 525.0f, 319.5f, 239.5f, -0.1f, 0.01f, 0.0f, 0.0f};
    calibration.referenceTemperature = 40.0f;
    for (uint32_t hz : {99930819u, 66620546u}) {
        ZelvoDepth::FrequencyCalibration frequency;
        frequency.frequencyHz = hz;
        frequency.globalOffset = 0.25f;
        frequency.temperatureCoefficient = -0.001f;
        frequency.grid = {-8192, 0, 100, 200, 300, 4096};
        calibration.frequencies.push_back(frequency);
    }
    return calibration;
}

TEST(CalibrationTool, ShowsWhatACalibrationHolds) {
    testing::ScratchDirectory scratch;
    ASSERT_TRUE(scratch.ready());
    writeBytes("cali.bin", ZelvoDepth::encodeCalibration(sampleCalibration()));
    const ProgramRun run = tool("show cali.bin");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Zelvo calibration, 512 bytes\n"
              "  module: 640 x 480 pixels\n"
              "  lens: fx 525.50 fy 525.00 cx 319.50 cy 239.50 pixels\n"
              "  distortion: k1 -0.100000 k2 0.010000 p1 0.000000 p2 0.000000\n"
              "  reference temperature: 40.0 C\n"
              "  offset grid: 3 x 2 nodes\n"
              "  frequency 1: 99930819 Hz, offset 0.2500 rad, drift -0.001000 rad/C, "
              "grid offsets -1.0000 to 0.5000 rad\n"
              "  frequency 2: 66620546 Hz, offset 0.2500 rad, drift -0.001000 rad/C, "
              "grid offsets -1.0000 to 0.5000 rad\n");

    std::vector<uint8_t> broken = ZelvoDepth::encodeCalibration(sampleCalibration());
    broken[100] ^= 1;
    writeBytes("broken.bin", broken);
    const struct {
        const char* arguments;
        const char* message;
    } failures[] = {
        {"show missing.bin", "zelvo-calibration: cannot read missing.bin: No such file"},
        {"show broken.bin", "zelvo-calibration: broken.bin is not a valid Zelvo calibration "
                            "(512 bytes)\n"},
    };
    for (const auto& c : failures) {
        const ProgramRun failed = tool(c.arguments);
        EXPECT_EQ(failed.status, 1) << c.arguments;
        EXPECT_EQ(failed.err.rfind(c.message, 0), 0u) << failed.err;
        EXPECT_TRUE(failed.out.empty()) << c.arguments;
    }
}

TEST(CalibrationTool, SavesTheModuleCalibrationOfTheSimulatedBoard) {
    testing::ScratchDirectory scratch;
    ASSERT_TRUE(scratch.ready());

    // What the module holds, read here over the same simulated board.
    std::string error;
    auto board = sim::Board::create("1", error);
    ASSERT_TRUE(board) << error;
    ZelvoTOFCSISensor sensor("/dev/video0", PlatformRaspberryPi5, *board);
    CameraInfo info{};
    ASSERT_EQ(sensor.open(info), 0);
    const SensorCalibration held = readSensorCalibration(sensor);
    ASSERT_TRUE(held.read());
    const std::string expected(reinterpret_cast<const char*>(sensor.calibrationData()),
                               held.length);
    sensor.close();

    std::ofstream("saved.bin") << std::string(20000, 'x');  // longer: cut to the calibration
    const ProgramRun run = tool("save saved.bin", "ZELVO_SIM=1");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Saved " + std::to_string(held.length) +
                                " bytes of calibration from /dev/video0 to saved.bin\n",
                            0),
              0u)
        << run.out;
    EXPECT_EQ(contentsOf("saved.bin"), expected);

    const struct {
        const char* arguments;
        const char* environment;
        const char* message;
    } failures[] = {
        {"save --index 3 a.bin", "ZELVO_SIM=1",
         "zelvo-calibration: cannot open the CSI camera /dev/video3\n"},
        {"save a.bin", "ZELVO_SIM=board=vax", "ZELVO_SIM: invalid value"},
        {"save no/such/folder/a.bin", "ZELVO_SIM=1",
         "zelvo-calibration: cannot write no/such/folder/a.bin: No such file or directory\n"},
    };
    for (const auto& c : failures) {
        const ProgramRun failed = tool(c.arguments, c.environment);
        EXPECT_EQ(failed.status, 1) << c.arguments;
        EXPECT_NE(failed.err.find(c.message), std::string::npos) << failed.err;
        EXPECT_TRUE(contentsOf("a.bin").empty()) << c.arguments;
    }
}

}  // namespace
}  // namespace Zelvo
