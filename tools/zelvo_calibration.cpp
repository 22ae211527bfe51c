// zelvo-calibration: saves the calibration that a camera module keeps in its own memory
// to a file (the "cali.bin" the VGA device reads), and shows what a calibration holds.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "core/platform_detection.h"
#include "core/host_selection.h"
#include "core/named_file.h"
#include "depth/calibration.h"
#include "device/calibration_file.h"
#include "device/sensor_calibration.h"
#include "sensor/csi/csi_sensor.h"
#include "tools/calibration_summary.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;

constexpr const char* kUsage =
    "usage: zelvo-calibration save [--index N] FILE\n"
    "       zelvo-calibration show FILE\n"
    "\n"
    "  save   reads the calibration kept in the memory of the camera module on the CSI\n"
    "         video node /dev/videoN (N from --index, 0 by default) and writes it to FILE\n"
    "  show   prints what the calibration in FILE holds\n"
    "\n"
    "With ZELVO_SIM set, save reads the camera of the simulated board.\n";

int usage(const char* problem) {
    std::fprintf(stderr, "zelvo-calibration: %s\n%s", problem, kUsage);
    return kUsageError;
}

struct Arguments {
    std::string command;
    std::string file;
    int index = 0;
};

bool parseIndex(const std::string& text, int& index) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < 0 || value > 9999) return false;
    index = static_cast<int>(value);
    return true;
}

// 0 when the arguments are complete; otherwise the exit status, after the usage text.
int parseArguments(int argc, char** argv, Arguments& arguments) {
    if (argc < 2) return usage("a command is needed");
    arguments.command = argv[1];
    if (arguments.command != "save" && arguments.command != "show") {
        return usage(("unknown command '" + arguments.command + "'").c_str());
    }
    bool haveFile = false;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool indexOption = argument == "--index" || argument.rfind("--index=", 0) == 0;
        if (indexOption && arguments.command == "save") {
            std::string value;
            if (argument != "--index") {
                value = argument.substr(std::strlen("--index="));
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                return usage("--index needs a number");
            }
            if (!parseIndex(value, arguments.index)) {
                return usage(("'" + value + "' is not a video node number").c_str());
            }
        } else if (argument.size() > 1 && argument[0] == '-') {
            return usage(("unknown option '" + argument + "'").c_str());
        } else if (haveFile) {
            return usage("only one FILE is taken");
        } else {
            arguments.file = argument;
            haveFile = true;
        }
    }
    if (!haveFile) return usage("FILE is missing");
    return 0;
}

// Describes the saved bytes when they are in our format; another library's calibration
// is saved as it is.
void describeSaved(const uint8_t* bytes, size_t length) {
    ZelvoDepth::Calibration calibration;
    if (ZelvoDepth::parseCalibration(bytes, length, calibration)) {
        ZelvoTools::printCalibration(stdout, calibration, length);
    } else {
        std::printf("The bytes are not in the Zelvo calibration format; saved as they are.\n");
    }
}

// The camera is reached through the selected host (the simulated board's with ZELVO_SIM
// set); the files named on the command line are always the real system's.
int save(const Arguments& arguments) {
    Zelvo::HostSelection selection = Zelvo::selectHost();
    if (!selection.host) {
        std::fprintf(stderr, "%s", selection.error.c_str());
        return kFailure;
    }
    Zelvo::Host& host = *selection.host;
    char devicePath[80];
    std::snprintf(devicePath, sizeof devicePath, "/dev/video%d", arguments.index);

    Zelvo::ZelvoTOFCSISensor sensor(devicePath, Zelvo::detectPlatform(host), host);
    Zelvo::CameraInfo info{};
    if (sensor.open(info) != 0) {
        sensor.close();
        std::fprintf(stderr, "zelvo-calibration: cannot open the CSI camera %s\n", devicePath);
        return kFailure;
    }
    const Zelvo::SensorCalibration calibration = Zelvo::readSensorCalibration(sensor);
    int status = 0;
    if (calibration.failedBlock >= 0) {
        std::fprintf(stderr,
                     "zelvo-calibration: reading block %d of the calibration memory of %s "
                     "failed\n",
                     calibration.failedBlock, devicePath);
        status = kFailure;
    } else if (!calibration.read()) {
        std::fprintf(stderr,
                     "zelvo-calibration: the calibration memory of %s announces %zu bytes, "
                     "not 512 to 16384: it holds no calibration\n",
                     devicePath, calibration.announced);
        status = kFailure;
    } else if (const Zelvo::NamedFile saved = Zelvo::saveCalibrationFile(
                   *Zelvo::systemHost(), arguments.file.c_str(), sensor.calibrationData(),
                   calibration.length);
               saved.failed()) {
        std::fprintf(stderr, "zelvo-calibration: cannot write %s: %s\n", arguments.file.c_str(),
                     saved.reason().c_str());
        status = kFailure;
    } else {
        std::printf("Saved %zu bytes of calibration from %s to %s\n", calibration.length,
                    devicePath, arguments.file.c_str());
        describeSaved(sensor.calibrationData(), calibration.length);
    }
    sensor.close();
    return status;
}

int show(const Arguments& arguments) {
    const char* path = arguments.file.c_str();
    // Never more than a calibration can hold, whatever the file claims or keeps delivering.
    std::vector<uint8_t> bytes;
    uint64_t size = 0;
    const Zelvo::NamedFile read = Zelvo::readRegularFile(
        *Zelvo::systemHost(), path, ZelvoDepth::kCalibrationMaxBytes, bytes, size);
    if (read.failed()) {
        std::fprintf(stderr, "zelvo-calibration: cannot read %s: %s\n", path,
                     read.reason().c_str());
        return kFailure;
    }
    if (size > ZelvoDepth::kCalibrationMaxBytes) {
        std::fprintf(stderr,
                     "zelvo-calibration: %s is not a valid Zelvo calibration (%llu bytes, more "
                     "than %zu)\n",
                     path, static_cast<unsigned long long>(size), ZelvoDepth::kCalibrationMaxBytes);
        return kFailure;
    }
    ZelvoDepth::Calibration calibration;
    if (!ZelvoDepth::parseCalibration(bytes.data(), bytes.size(), calibration)) {
        std::fprintf(stderr, "zelvo-calibration: %s is not a valid Zelvo calibration (%zu bytes)\n",
                     path, bytes.size());
        return kFailure;
    }
    const size_t length = ZelvoDepth::announcedCalibrationLength(bytes.data(), bytes.size());
    ZelvoTools::printCalibration(stdout, calibration, length);
    return 0;
}

bool helpAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
    }
    return false;
}

int run(int argc, char** argv) {
    if (helpAsked(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Arguments arguments;
    if (const int status = parseArguments(argc, argv, arguments)) return status;
    return arguments.command == "save" ? save(arguments) : show(arguments);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zelvo-calibration: %s\n", error.what());
        return kFailure;
    }
}
