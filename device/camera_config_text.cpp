// "ConfigCamera.json": the video paths, then seven work-mode sections that share one line
// layout and differ in their values and comment lines. The text is built at compile time
// from the tables below.
#include <array>
#include <cstdint>

#include "device/config_texts.h"

namespace Zelvo {
namespace {

constexpr int kSectionCount = 7;
constexpr int kCommentCount = 6;

struct Section {
    const char* name;
    const char* comments[kCommentCount];
};

// Section names are spelled as the library expects them. The comments are kept as they
// are, also where their lists differ from the entries that follow.
constexpr Section kSections[kSectionCount] = {
    {"Signle-4PHASE",
     {"//SubFrameModes0={0,0,0,0}", "//SpecialFrameModes={0,0,0,0}",
      "//FrameSeqSchedule={0,1,2,3}",
      "//IntegrationTimes={{1000000,0,0},{0,0,0},{0,0,0},{0,0,0}}",
      "//PLLDLLDivs={{4,2,24},{2,2,24},{2,2,24},{2,2,24}}", "//NumSubFramePerFrame={1,0,0,0}"}},
    {"Signle-4PHASE_GRAY",
     {"//SubFrameModes0={5,0,0,0}", "//SpecialFrameModes={1,0,0,0}",
      "//FrameSeqSchedule={0,1,2,3}",
      "//IntegrationTimes={{1000000,0,1000000},{0,0,0},{0,0,0},{0,0,0}}",
      "//PLLDLLDivs={{4,2,24},{2,2,24},{2,2,24},{2,2,24}}", "//NumSubFramePerFrame={1,0,0,0}"}},
    {"Double-4PHASE_4PHASE",
     {"//SubFrameModes0={0,0,0,0}", "//SpecialFrameModes={0,0,0,0}",
      "//FrameSeqSchedule={0,1,2,3}",
      "//IntegrationTimes={{1000000,0,0},{1000000,0,0},{0,0,0},{0,0,0}}",
      "//PLLDLLDivs={{5,2,24},{2,2,24},{2,2,24},{2,2,24}}", "//NumSubFramePerFrame={1,1,0,0}"}},
    {"Double-4PHASE_GRAY_4PHASE_BG",
     {"//SubFrameModes0={5,5,0,0}", "//SpecialFrameModes={1,2,0,0}",
      "//FrameSeqSchedule={0,1,2,3}",
      "//IntegrationTimes={{1000000,0,1000000},{1000000,0,1000000},{0,0,0},{0,0,0}}",
      "//PLLDLLDivs={{4,2,24},{24,2,24},{2,2,24},{2,2,24}}", "//NumSubFramePerFrame={1,1,0,0}"}},
    {"Gray-Only",
     {"//SubFrameModes0={4,0,0,0}", "//SpecialFrameModes={0,0,0,0}",
      "//FrameSeqSchedule={0,1,2,3}",
      "//IntegrationTimes={{0,0,1000000},{0,0,0},{0,0,0},{0,0,0}}",
      "//PLLDLLDivs={{2,2,24},{2,2,24},{2,2,24},{2,2,24}}", "//NumSubFramePerFrame={1,0,0,0}"}},
    {"BGOUTDOOR",
     {"//SubFrameModes0={4,0,0,0}", "//SpecialFrameModes={0,0,0,0}",
      "//FrameSeqSchedule={0,1,2,3}",
      "//IntegrationTimes={{0,0,1000000},{0,0,0},{0,0,0},{0,0,0}}",
      "//PLLDLLDivs={{2,2,24},{2,2,24},{2,2,24},{2,2,24}}", "//NumSubFramePerFrame={1,0,0,0}"}},
    {"Signal-BG-GRAY-BG-4PHASE",
     {"//SubFrameModes0={4,4,4,0}", "//SpecialFrameModes={0,0,0,0}",
      "//FrameSeqSchedule={0,1,2,3}",
      "//IntegrationTimes={{0,0,1000000},{0,0,1000000},{0,0,1000000},{1000000,0,0}}",
      "//PLLDLLDivs={{2,2,24},{2,2,24},{2,2,24},{2,2,24}}", "//NumSubFramePerFrame={1,0,0,0}"}},
};

// One line of a work-mode section: an entry with its value in each section, or one of
// the section's comment lines.
struct Line {
    const char* key;  // null for a comment line
    int comment;      // index into Section::comments for a comment line
    int32_t values[kSectionCount];
};

constexpr int kEntry = -1;

constexpr Line same(const char* key, int32_t value) {
    return {key, kEntry, {value, value, value, value, value, value, value}};
}

constexpr Line comment(int index) { return {nullptr, index, {}}; }

// Values in section order: Signle-4PHASE, Signle-4PHASE_GRAY, Double-4PHASE_4PHASE,
// Double-4PHASE_GRAY_4PHASE_BG, Gray-Only, BGOUTDOOR, Signal-BG-GRAY-BG-4PHASE.
constexpr Line kLines[] = {
    {"WorkMode", kEntry, {0, 0, 1, 1, 8, 7, 0}},
    {"SubWorkMode", kEntry, {1, 2, 10, 11, 19, 18, 8}},
    comment(0),
    {"SubFrameModes0", kEntry, {0, 5, 0, 5, 4, 4, 4}},
    {"SubFrameModes1", kEntry, {0, 0, 0, 5, 0, 0, 4}},
    {"SubFrameModes2", kEntry, {0, 0, 0, 0, 0, 0, 4}},
    same("SubFrameModes3", 0),
    comment(1),
    {"SpecialFrameModes0", kEntry, {0, 1, 0, 1, 1, 2, 2}},
    {"SpecialFrameModes1", kEntry, {0, 0, 0, 2, 0, 0, 1}},
    {"SpecialFrameModes2", kEntry, {0, 0, 0, 0, 0, 0, 2}},
    same("SpecialFrameModes3", 0),
    same("SpecBgMode", 0),
    comment(2),
    same("FrameSeqSchedule0", 0),
    same("FrameSeqSchedule1", 1),
    same("FrameSeqSchedule2", 2),
    same("FrameSeqSchedule3", 3),
    comment(3),
    {"Frame0_1To4IntTime", kEntry, {1000000, 1000000, 1000000, 1000000, 0, 0, 0}},
    same("Frame0_5To8IntTime", 0),
    {"Frame0_SpecialIntTime", kEntry, {0, 1000000, 0, 1000000, 1000000, 1000000, 1000000}},
    {"Frame1_1To4IntTime", kEntry, {0, 0, 1000000, 1000000, 0, 0, 0}},
    same("Frame1_5To8IntTime", 0),
    {"Frame1_SpecialIntTime", kEntry, {0, 0, 0, 1000000, 0, 0, 1000000}},
    same("Frame2_1To4IntTime", 0),
    same("Frame2_5To8IntTime", 0),
    {"Frame2_SpecialIntTime", kEntry, {0, 0, 0, 0, 0, 0, 1000000}},
    {"Frame3_1To4IntTime", kEntry, {0, 0, 0, 0, 0, 0, 1000000}},
    same("Frame3_5To8IntTime", 0),
    same("Frame3_SpecialIntTime", 0),
    comment(4),
    {"Frame0_1To4PhaseDiv", kEntry, {4, 4, 4, 4, 2, 2, 2}},
    same("Frame0_5To8PhaseDiv", 2),
    same("Frame0_SpecialPhaseDiv", 24),
    {"Frame1_1To4PhaseDiv", kEntry, {2, 2, 24, 24, 2, 2, 2}},
    same("Frame1_5To8PhaseDiv", 2),
    same("Frame1_SpecialPhaseDiv", 24),
    same("Frame2_1To4PhaseDiv", 2),
    same("Frame2_5To8PhaseDiv", 2),
    same("Frame2_SpecialPhaseDiv", 24),
    {"Frame3_1To4PhaseDiv", kEntry, {2, 2, 2, 2, 2, 2, 4}},
    same("Frame3_5To8PhaseDiv", 2),
    same("Frame3_SpecialPhaseDiv", 24),
    comment(5),
    same("NumSubFramePerFrame0", 1),
    {"NumSubFramePerFrame1", kEntry, {0, 0, 1, 1, 0, 0, 1}},
    {"NumSubFramePerFrame2", kEntry, {0, 0, 0, 0, 0, 0, 1}},
    {"NumSubFramePerFrame3", kEntry, {0, 0, 0, 0, 0, 0, 1}},
    same("MirrorMode", 0),
    same("PhaseMode", 0),
    same("EnableLedMod", 1),
    same("SeqNumPerDepthMap", 1),
    {"MIPI_FS_FE_Pos", kEntry, {0, 0, 0, 0, 0, 0, 3}},
    same("SeqRepeatMode", 1),
    same("TriggerMode", 1),
    same("SlaveTrigOnPosLevel", 0),
    same("TSensorMode", 1),
    same("performClkChanges", 0),
};

// Counts the characters of a text, and stores them too when given somewhere to put them.
class TextWriter {
public:
    constexpr explicit TextWriter(char* out) : out_(out) {}

    constexpr void put(char c) {
        if (out_ != nullptr) out_[length_] = c;
        ++length_;
    }
    constexpr void text(const char* s) {
        while (*s != '\0') put(*s++);
    }
    constexpr void number(int32_t value) {
        char digits[10] = {};
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0) put(digits[--count]);
    }
    constexpr size_t length() const { return length_; }

private:
    char* out_;
    size_t length_ = 0;
};

// Sections are separated by one empty line; the last line has no line feed.
constexpr void writeCameraConfig(TextWriter& writer) {
    writer.text("[VideoInfo]\n"
                "sensorType=TOF\n"
                "sensorPath=/dev/v4l-subdev2\n"
                "ispPath=/dev/video11\n"
                "subIspPath=/dev/v4l-subdev3");
    for (int s = 0; s < kSectionCount; ++s) {
        writer.text("\n\n[");
        writer.text(kSections[s].name);
        writer.put(']');
        for (const Line& line : kLines) {
            writer.put('\n');
            if (line.key == nullptr) {
                writer.text(kSections[s].comments[line.comment]);
                continue;
            }
            writer.text(line.key);
            writer.put('=');
            writer.number(line.values[s]);
        }
    }
}

constexpr size_t kLength = [] {
    TextWriter writer(nullptr);
    writeCameraConfig(writer);
    return writer.length();
}();
static_assert(sizeof kLines / sizeof kLines[0] == 59, "every work-mode section has 59 lines");
static_assert(kLength == 9476, "ConfigCamera.json is 9476 bytes");

constexpr std::array<char, kLength> kText = [] {
    std::array<char, kLength> text{};
    TextWriter writer(text.data());
    writeCameraConfig(writer);
    return text;
}();

}  // namespace

const char* cameraConfigText() { return kText.data(); }
size_t cameraConfigLength() { return kText.size(); }

}  // namespace Zelvo
