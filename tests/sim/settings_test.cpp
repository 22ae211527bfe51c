// The ZELVO_SIM settings parser: defaults, every key, and the error line for bad input.
#include <gtest/gtest.h>

#include "sim/board_factory.h"
#include "sim/settings.h"

namespace Zelvo::sim {
namespace {

struct GoodCase {
    const char* text;
    const char* board;
    SceneSettings::Kind scene;
    int wallMm;
    int fps;
    bool noise;
    uint32_t seed;
    int usbBits = 12;
    bool fixedPattern = true;
    int64_t stall = -1;
    int64_t unplug = -1;
    int cameras = 1;
};

const GoodCase kGoodCases[] = {
    {"1", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"board=rpi4", "rpi4", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"board=rpi5", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"board=rock5b", "rock5b", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"board=jetson-nano", "jetson-nano", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"board=jetson-orin", "jetson-orin", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"board=jetson-xavier", "jetson-xavier", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"board=other", "other", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"sensor=hqvga", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"sensor=vga", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"sensor=vga,board=jetson-nano", "jetson-nano", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"board=rock5b,sensor=vga,fpn=0", "rock5b", SceneSettings::Kind::Room, 0, 30, true, 1, 12,
     false},
    {"scene=wall:1500", "rpi5", SceneSettings::Kind::Wall, 1500, 30, true, 1},
    {"scene=room", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"fps=0", "rpi5", SceneSettings::Kind::Room, 0, 0, true, 1},
    {"fps=120", "rpi5", SceneSettings::Kind::Room, 0, 120, true, 1},
    {"noise=0", "rpi5", SceneSettings::Kind::Room, 0, 30, false, 1},
    {"noise=1", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"seed=4294967295", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 4294967295u},
    {"board=jetson-orin,scene=wall:800,fps=15,noise=0,seed=9", "jetson-orin",
     SceneSettings::Kind::Wall, 800, 15, false, 9},
    {"usb_bits=8", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1, 8},
    {"usb_bits=16,fpn=0", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1, 16, false},
    {"stall=1", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1, 12, true, 1},
    {"unplug=40,stall=7", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1, 12, true, 7, 40},
    {"cameras=1", "rpi5", SceneSettings::Kind::Room, 0, 30, true, 1},
    {"cameras=2,board=rock5b", "rock5b", SceneSettings::Kind::Room, 0, 30, true, 1, 12, true, -1,
     -1, 2},
};

TEST(SettingsParser, AcceptsEveryDocumentedForm) {
    for (const GoodCase& c : kGoodCases) {
        SCOPED_TRACE(c.text);
        Settings settings;
        settings.board = "unset";
        std::string error;
        ASSERT_TRUE(parseSettings(c.text, settings, error)) << error;
        EXPECT_EQ(settings.board, c.board);
        EXPECT_EQ(settings.sensor,
                  std::string(c.text).find("sensor=vga") != std::string::npos ? "vga" : "hqvga");
        EXPECT_EQ(settings.scene.kind, c.scene);
        if (c.scene == SceneSettings::Kind::Wall) {
            EXPECT_EQ(settings.scene.wallDistanceMm, c.wallMm);
        }
        EXPECT_EQ(settings.fps, c.fps);
        EXPECT_EQ(settings.noise, c.noise);
        EXPECT_EQ(settings.seed, c.seed);
        EXPECT_EQ(settings.usbBits, c.usbBits);
        EXPECT_EQ(settings.fixedPattern, c.fixedPattern);
        EXPECT_EQ(settings.stallAfterSubFrames, c.stall);
        EXPECT_EQ(settings.unplugAfterSubFrames, c.unplug);
        EXPECT_EQ(settings.cameras, c.cameras);
        EXPECT_TRUE(error.empty());
    }
}

struct BadCase {
    const char* text;
    const char* error;
};

const BadCase kBadCases[] = {
    {"0", "ZELVO_SIM: setting \"0\" is not of the form key=value\n"},
    {"yes", "ZELVO_SIM: setting \"yes\" is not of the form key=value\n"},
    {"board=rpi3", "ZELVO_SIM: invalid value \"rpi3\" for setting \"board\"\n"},
    {"board=", "ZELVO_SIM: invalid value \"\" for setting \"board\"\n"},
    {"board=RPI5", "ZELVO_SIM: invalid value \"RPI5\" for setting \"board\"\n"},
    {"sensor=VGA", "ZELVO_SIM: invalid value \"VGA\" for setting \"sensor\"\n"},
    // The Orin and Xavier block copy cannot carry a VGA frame, whatever the order.
    {"sensor=vga,board=jetson-orin", "ZELVO_SIM: setting \"sensor\" \"vga\" cannot stream on "
                                     "board \"jetson-orin\": its frame copy cannot carry that "
                                     "sensor's frames\n"},
    {"board=jetson-xavier,sensor=vga", "ZELVO_SIM: setting \"sensor\" \"vga\" cannot stream on "
                                       "board \"jetson-xavier\": its frame copy cannot carry that "
                                       "sensor's frames\n"},
    {"scene=wall", "ZELVO_SIM: invalid value \"wall\" for setting \"scene\"\n"},
    {"scene=wall:", "ZELVO_SIM: invalid value \"wall:\" for setting \"scene\"\n"},
    {"scene=wall:0", "ZELVO_SIM: invalid value \"wall:0\" for setting \"scene\"\n"},
    {"scene=wall:-5", "ZELVO_SIM: invalid value \"wall:-5\" for setting \"scene\"\n"},
    {"scene=wall:12x", "ZELVO_SIM: invalid value \"wall:12x\" for setting \"scene\"\n"},
    {"scene=wall:99999", "ZELVO_SIM: invalid value \"wall:99999\" for setting \"scene\"\n"},
    {"scene=garden", "ZELVO_SIM: invalid value \"garden\" for setting \"scene\"\n"},
    {"fps=-1", "ZELVO_SIM: invalid value \"-1\" for setting \"fps\"\n"},
    {"fps=30.5", "ZELVO_SIM: invalid value \"30.5\" for setting \"fps\"\n"},
    {"fps=121", "ZELVO_SIM: invalid value \"121\" for setting \"fps\"\n"},
    {"fps= 30", "ZELVO_SIM: invalid value \" 30\" for setting \"fps\"\n"},
    {"noise=2", "ZELVO_SIM: invalid value \"2\" for setting \"noise\"\n"},
    {"noise=on", "ZELVO_SIM: invalid value \"on\" for setting \"noise\"\n"},
    {"seed=4294967296", "ZELVO_SIM: invalid value \"4294967296\" for setting \"seed\"\n"},
    {"seed=abc", "ZELVO_SIM: invalid value \"abc\" for setting \"seed\"\n"},
    {"colour=red", "ZELVO_SIM: unknown setting \"colour\"\n"},
    {"Board=rpi5", "ZELVO_SIM: unknown setting \"Board\"\n"},
    {" board=rpi5", "ZELVO_SIM: unknown setting \" board\"\n"},
    {"board=rpi5,", "ZELVO_SIM: setting \"\" is not of the form key=value\n"},
    {"board=rpi5,,fps=3", "ZELVO_SIM: setting \"\" is not of the form key=value\n"},
    {"fps=10,bogus=1", "ZELVO_SIM: unknown setting \"bogus\"\n"},
    // Each key once: a second value would silently win over the first.
    {"scene=wall:700,scene=room", "ZELVO_SIM: setting \"scene\" is given twice\n"},
    {"fps=5,noise=0,fps=5", "ZELVO_SIM: setting \"fps\" is given twice\n"},
    {"stall=", "ZELVO_SIM: invalid value \"\" for setting \"stall\"\n"},
    {"usb_bits=", "ZELVO_SIM: invalid value \"\" for setting \"usb_bits\"\n"},
    {"usb_bits=11", "ZELVO_SIM: invalid value \"11\" for setting \"usb_bits\"\n"},
    {"fpn=2", "ZELVO_SIM: invalid value \"2\" for setting \"fpn\"\n"},
    {"cameras=0", "ZELVO_SIM: invalid value \"0\" for setting \"cameras\"\n"},
    {"cameras=3", "ZELVO_SIM: invalid value \"3\" for setting \"cameras\"\n"},
    {"unplug=-1", "ZELVO_SIM: invalid value \"-1\" for setting \"unplug\"\n"},
    // A sensor that never sends, or a camera gone before it opens, is refused by name.
    {"stall=0", "ZELVO_SIM: invalid value \"0\" for setting \"stall\"\n"},
    {"fps=5,unplug=0", "ZELVO_SIM: invalid value \"0\" for setting \"unplug\"\n"},
    // Quoted texts stay on one line and are cut after 40 characters.
    {"board=rpi5\nfps=3", "ZELVO_SIM: invalid value \"rpi5\\x0afps=3\" for setting \"board\"\n"},
    {"scene=wall:\"1\"", "ZELVO_SIM: invalid value \"wall:\\\"1\\\"\" for setting \"scene\"\n"},
    {"seed=0123456789012345678901234567890123456789abc",
     "ZELVO_SIM: invalid value \"0123456789012345678901234567890123456789...\" for setting "
     "\"seed\"\n"},
};

TEST(SettingsParser, RejectsBadInputWithOneLineNamingTheSetting) {
    for (const BadCase& c : kBadCases) {
        SCOPED_TRACE(c.text);
        Settings settings;
        settings.fps = 77;
        std::string error;
        EXPECT_FALSE(parseSettings(c.text, settings, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(settings.fps, 77) << "settings changed by a failed parse";
    }
}

TEST(BoardFactory, BuildsAFreshBoardPerCallOrReportsTheError) {
    std::string error;
    auto first = createBoard("board=jetson-nano", error);
    auto second = createBoard("board=jetson-nano", error);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(error.empty());

    EXPECT_FALSE(createBoard("board=pi", error));
    EXPECT_EQ(error, "ZELVO_SIM: invalid value \"pi\" for setting \"board\"\n");
}

}  // namespace
}  // namespace Zelvo::sim
