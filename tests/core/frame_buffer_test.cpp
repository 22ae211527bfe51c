#include <gtest/gtest.h>

#include <zelvo/frame_buffer.h>

namespace Zelvo {
namespace {

constexpr FrameType kAllTypes[] = {RAW, CONFIDENCE, DEPTH, AMPLITUDE, CACHE,
                                   static_cast<FrameType>(7)};

const FrameDataFormat kUntouched{777, 888, static_cast<FrameType>(99), 999};

bool isUntouched(const FrameDataFormat& f) {
    return f.width == kUntouched.width && f.height == kUntouched.height &&
           f.type == kUntouched.type && f.timestamp == kUntouched.timestamp;
}

TEST(FrameBuffer, RawDataHasOnlyItsRawPlane) {
    RawData raw(240, 720);
    raw.setTimestamp(1234);
    for (FrameType type : kAllTypes) {
        FrameDataFormat out = kUntouched;
        if (type == RAW) {
            EXPECT_EQ(raw.getData(type), raw.data.get());
            ASSERT_EQ(raw.getFormat(type, out), 0);
            EXPECT_EQ(out.width, 240u);
            EXPECT_EQ(out.height, 720u);
            EXPECT_EQ(out.type, RAW);
            EXPECT_EQ(out.timestamp, 1234u);
        } else {
            EXPECT_EQ(raw.getData(type), nullptr) << type;
            EXPECT_EQ(raw.getFormat(type, out), -1) << type;
            EXPECT_TRUE(isUntouched(out)) << type;
        }
    }
    // The whole plane is writable (the sanitizers see an overrun).
    static_cast<int16_t*>(raw.getData(RAW))[240 * 720 - 1] = 7;
}

TEST(FrameBuffer, DepthDataSelectsItsThreePlanes) {
    DepthData frame({240, 180, DEPTH, 5}, {120, 90, CONFIDENCE, 6});
    struct Expect {
        FrameType type;
        void* plane;
        FrameType formatType;
        uint32_t width;
    };
    const Expect planes[] = {
        {DEPTH, frame.depth.get(), DEPTH, 240},
        {CONFIDENCE, frame.confidence.get(), CONFIDENCE, 120},
        // Amplitude shares the confidence format, type included.
        {AMPLITUDE, frame.amplitude.get(), CONFIDENCE, 120},
    };
    for (const Expect& e : planes) {
        FrameDataFormat out = kUntouched;
        EXPECT_EQ(frame.getData(e.type), e.plane) << e.type;
        ASSERT_EQ(frame.getFormat(e.type, out), 0) << e.type;
        EXPECT_EQ(out.type, e.formatType) << e.type;
        EXPECT_EQ(out.width, e.width) << e.type;
        EXPECT_EQ(out.timestamp, 0u) << "constructed with timestamp 0";
    }
    EXPECT_NE(frame.depth.get(), frame.amplitude.get());
    EXPECT_NE(frame.amplitude.get(), frame.confidence.get());
    for (FrameType type : {RAW, CACHE, static_cast<FrameType>(7)}) {
        FrameDataFormat out = kUntouched;
        EXPECT_EQ(frame.getData(type), nullptr) << type;
        EXPECT_EQ(frame.getFormat(type, out), -1) << type;
        EXPECT_TRUE(isUntouched(out)) << type;
    }
}

TEST(FrameBuffer, DepthTimestampReachesBothFormats) {
    DepthData frame({4, 3, DEPTH, 0}, {4, 3, CONFIDENCE, 0});
    frame.setTimestamp(0x1122334455667788ull);
    for (FrameType type : {DEPTH, CONFIDENCE, AMPLITUDE}) {
        FrameDataFormat out{};
        ASSERT_EQ(frame.getFormat(type, out), 0);
        EXPECT_EQ(out.timestamp, 0x1122334455667788ull) << type;
    }
}

TEST(FrameBuffer, CacheDataHoldsOneRawReadOfTwoBytesPerSample) {
    CacheData cache(240, 720);
    EXPECT_EQ(cache.byteSize(), 240u * 720u * 2u);
    cache.setTimestamp(55);
    for (FrameType type : kAllTypes) {
        FrameDataFormat out = kUntouched;
        if (type == CACHE) {
            EXPECT_EQ(cache.getData(type), cache.data.get());
            ASSERT_EQ(cache.getFormat(type, out), 0);
            EXPECT_EQ(out.width, 240u);
            EXPECT_EQ(out.height, 1440u);
            EXPECT_EQ(out.type, CACHE);
            EXPECT_EQ(out.timestamp, 55u);
        } else {
            EXPECT_EQ(cache.getData(type), nullptr) << type;
            EXPECT_EQ(cache.getFormat(type, out), -1) << type;
            EXPECT_TRUE(isUntouched(out)) << type;
        }
    }
    static_cast<uint8_t*>(cache.getData(CACHE))[cache.byteSize() - 1] = 1;
}

}  // namespace
}  // namespace Zelvo
