// A request that waits gets the frame it waits for, even when the capture thread
// has no free buffer and would otherwise take that frame back at once.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "core/frame_store.h"
#include "tests/support/eventually.h"

namespace Zelvo {
namespace {

using std::chrono::milliseconds;

constexpr short kGenerousWaitMs = 10000;

CameraInfo rawStream() {
    CameraInfo info{};
    info.type = RAW;
    info.width = 4;
    info.height = 4;
    return info;
}

// Polls until `count` requests wait inside the store; false after 10 s.
bool awaitWaiting(const FrameStore& store, int count) {
    return testing::eventually([&] { return store.waitingRequests() == count; });
}

TEST(WaitingRequest, FrameAWaitingRequestNeedsIsNotTakenBack) {
    FrameStore store(rawStream(), FrameLayout{2, 4, 4});
    auto request = std::async(std::launch::async, [&store] {
        return store.request(kGenerousWaitMs);
    });
    ASSERT_TRUE(awaitWaiting(store, 1));

    LinkNode* node = store.framePool().takeFree();
    store.publish(node);
    // Every other buffer is borrowed: the capture thread looks for one to take back.
    EXPECT_EQ(store.takeBackOldest(milliseconds(0)), nullptr);
    EXPECT_EQ(request.get(), node);
    EXPECT_EQ(store.waitingRequests(), 0);
}

TEST(WaitingRequest, SpareFramesBeyondTheWaitingRequestsAreTakenBack) {
    FrameStore store(rawStream(), FrameLayout{2, 4, 4});
    auto request = std::async(std::launch::async, [&store] {
        return store.request(kGenerousWaitMs);
    });
    ASSERT_TRUE(awaitWaiting(store, 1));
    // Published under the store's lock one after the other; the request may wake
    // between them, so the frame taken back is one of the two and the request gets
    // the other.
    LinkNode* first = store.framePool().takeFree();
    LinkNode* second = store.framePool().takeFree();
    store.publish(first);
    store.publish(second);
    LinkNode* taken = store.takeBackOldest(milliseconds(kGenerousWaitMs));
    LinkNode* got = request.get();
    ASSERT_NE(taken, nullptr);
    ASSERT_NE(got, nullptr);
    EXPECT_NE(taken, got);
    EXPECT_EQ(store.readyFrames(), 0);
}

TEST(WaitingRequest, TimedOutRequestNoLongerCounts) {
    FrameStore store(rawStream(), FrameLayout{2, 4, 4});
    EXPECT_EQ(store.request(1), nullptr);
    EXPECT_EQ(store.waitingRequests(), 0);
    LinkNode* node = store.framePool().takeFree();
    store.publish(node);
    EXPECT_EQ(store.takeBackOldest(milliseconds(0)), node);
}

}  // namespace
}  // namespace Zelvo
