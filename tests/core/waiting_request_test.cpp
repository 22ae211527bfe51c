// A request that waits gets the frame it waits for, even when the capture thread
// has no free buffer and would otherwise take that frame back at once; it waits only
// while the stream runs, and a wait ends with the stream or a wake-up call.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

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

// A store whose stream runs, as the camera's is between start and stop.
struct StreamingStore : FrameStore {
    StreamingStore() : FrameStore(rawStream(), FrameLayout{2, 4, 4}) { beginStream(); }
};

TEST(WaitingRequest, FrameAWaitingRequestNeedsIsNotTakenBack) {
    StreamingStore store;
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
    StreamingStore store;
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
    StreamingStore store;
    EXPECT_EQ(store.request(1), nullptr);
    EXPECT_EQ(store.waitingRequests(), 0);
    LinkNode* node = store.framePool().takeFree();
    store.publish(node);
    EXPECT_EQ(store.takeBackOldest(milliseconds(0)), node);
}

// A wake-up call ends the waits in progress and the stream goes on; after the end of
// the stream, what is ready comes out oldest first and then null, at once.
TEST(WaitingRequest, WaitEndsWithAWakeUpCallOrTheStream) {
    for (bool endStream : {false, true}) {
        for (short timeout : {short{-1}, short{32767}}) {
            SCOPED_TRACE(std::string(endStream ? "end " : "wake-up ") + std::to_string(timeout));
            StreamingStore store;
            const auto request = [&] {
                return std::async(std::launch::async, [&] { return store.request(timeout); });
            };
            auto waiting = request();
            ASSERT_TRUE(awaitWaiting(store, 1));
            endStream ? store.endStream() : store.wakeRequests();
            ASSERT_EQ(waiting.wait_for(milliseconds(kGenerousWaitMs)), std::future_status::ready);
            EXPECT_EQ(waiting.get(), nullptr);

            LinkNode* first = store.framePool().takeFree();
            LinkNode* second = store.framePool().takeFree();
            store.publish(first);
            store.publish(second);
            EXPECT_EQ(store.request(timeout), first);
            EXPECT_EQ(store.request(timeout), second);
            auto third = request();
            if (!endStream) {
                ASSERT_TRUE(awaitWaiting(store, 1));
                store.publish(store.framePool().takeFree());
            }
            ASSERT_EQ(third.wait_for(milliseconds(kGenerousWaitMs)), std::future_status::ready);
            EXPECT_EQ(third.get() != nullptr, !endStream);
        }
    }
}

}  // namespace
}  // namespace Zelvo
