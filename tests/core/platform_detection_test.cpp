#include <gtest/gtest.h>

#include <string>

#include "core/platform_detection.h"
#include "tests/support/fake_host.h"

namespace Zelvo {
namespace {

using testing::FakeHost;

TEST(PlatformDetection, ModelTextsGiveTheirBoards) {
    const struct {
        std::string model;
        Platform expected;
    } cases[] = {
        {"NVIDIA Jetson Xavier NX Developer Kit", PlatformJetson},
        {"NVIDIA Jetson Nano Developer Kit", PlatformJetsonNano},
        {"NVIDIA Jetson TX1 Developer Kit", PlatformJetsonNano},
        // "Jetson" is tested first and finds "Nano" before " Orin" is looked at.
        {"NVIDIA Jetson Orin Nano Developer Kit", PlatformJetsonNano},
        {"Jetson AGX Orin", PlatformJetson},
        {"NVIDIA Jetson TX2", PlatformJetson},
        {"Xavier Jetson Nano", PlatformJetson},
        {"NVIDIA Orin Developer Kit", PlatformJetson},
        {"Raspberry Pi 5 Model B Rev 1.0", PlatformRaspberryPi5},
        {"Raspberry Pi 4 Model B Rev 1.4", PlatformRaspberryPi},
        {"Raspberry Pi Compute Module 4", PlatformRaspberryPi},
        {"Radxa ROCK 5B", PlatformRadxaRock},
        {"Radxa Rock 5B", PlatformOther},  // case matters
        {"Orin board without the other words", PlatformOther},
        {"jetson nano", PlatformOther},
        {"Generic x86 board", PlatformOther},
        {"", PlatformOther},
    };
    for (const auto& c : cases) {
        // Devicetree model files end in a NUL; a newline-terminated text reads the same.
        for (const std::string& suffix : {std::string(1, '\0'), std::string("\n"), std::string()}) {
            FakeHost host;
            host.setModel(c.model + suffix);
            EXPECT_EQ(detectPlatform(host), c.expected) << '"' << c.model << '"';
        }
    }
}

TEST(PlatformDetection, OnlyTheFirstLineAndItsFirst99CharactersCount) {
    const struct {
        std::string model;
        Platform expected;
    } cases[] = {
        {"Generic board\nRaspberry Pi 5", PlatformOther},
        {"Raspberry Pi 4" + std::string(1, '\0') + " Pi 5", PlatformRaspberryPi},
        {std::string(99, 'x') + "Raspberry Pi", PlatformOther},
        {std::string(85, 'x') + "Raspberry Pi", PlatformRaspberryPi},
        {std::string(94, 'x') + "Radxa ROCK", PlatformOther},
    };
    for (const auto& c : cases) {
        FakeHost host;
        host.setModel(c.model);
        EXPECT_EQ(detectPlatform(host), c.expected) << c.model.size();
    }
}

TEST(PlatformDetection, MissingModelFileGivesOther) {
    FakeHost host;
    EXPECT_EQ(detectPlatform(host), PlatformOther);
    EXPECT_EQ(host.textOpens, 1);
}

}  // namespace
}  // namespace Zelvo
