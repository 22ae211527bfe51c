#include <gtest/gtest.h>

#include <cstring>

#include <zelvo/types.h>

namespace Zelvo {
namespace {

TEST(ErrorCodeText, EveryCodeHasItsText) {
    const struct { int code; const char* text; } cases[] = {
        {0, "Success"},          {1, "Invalid parameter"}, {2, "No cache"},
        {3, "Unkown device"},    {4, "Not implemented"},   {240, "Skip frame"},
        {-2, "System error"},    {-1, "Unknown error"},    {5, "Unknown error"},
        {239, "Unknown error"},  {-3, "Unknown error"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(to_str(static_cast<TofErrorCode>(c.code)), c.text) << c.code;
    }
}

TEST(PublicTypes, RecordsAreEightAndFourPlainFields) {
    EXPECT_EQ(sizeof(CameraInfo), 8 * sizeof(uint32_t));
    EXPECT_EQ(offsetof(FrameDataFormat, timestamp), 16u);  // width, height, type, pad
    EXPECT_EQ(static_cast<int>(CONFIG_DIR_EXT), 256);
    EXPECT_EQ(static_cast<int>(TofFrameWorkMode::CUSTOM), 20);
}

}  // namespace
}  // namespace Zelvo
