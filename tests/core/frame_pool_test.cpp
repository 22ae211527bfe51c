#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "core/frame_pool.h"
#include "core/frame_store.h"

namespace Zelvo {
namespace {

using Place = LinkNode::Place;

struct ThreeNodePool {
    ThreeNodePool() {
        for (int i = 0; i < 3; ++i) {
            auto buffer = std::make_unique<RawData>(4, 4);
            created.push_back(buffer.get());
            pool.add(std::move(buffer));
        }
    }
    FramePool pool;
    std::vector<ZelvoFrameBuffer*> created;
};

TEST(FramePool, LastCreatedNodeIsTakenFirst) {
    ThreeNodePool p;
    ASSERT_EQ(p.pool.nodes().size(), 3u);
    EXPECT_EQ(p.pool.freeListLength(), 3u);
    for (int i = 2; i >= 0; --i) {
        LinkNode* node = p.pool.takeFree();
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->buffer.get(), p.created[i]);
        EXPECT_EQ(node->next, nullptr);
        EXPECT_EQ(node->place, Place::Filling);
    }
    EXPECT_EQ(p.pool.takeFree(), nullptr);
}

TEST(FramePool, ReadyQueueIsOldestFirst) {
    ThreeNodePool p;
    LinkNode* a = p.pool.takeFree();
    LinkNode* b = p.pool.takeFree();
    LinkNode* c = p.pool.takeFree();
    p.pool.pushReady(b);
    p.pool.pushReady(c);
    p.pool.pushReady(a);
    EXPECT_EQ(p.pool.readyQueueLength(), 3u);
    EXPECT_EQ(p.pool.popReady(Place::Borrowed), b);
    EXPECT_EQ(p.pool.popReady(Place::Filling), c);
    EXPECT_EQ(p.pool.popReady(Place::Borrowed), a);
    EXPECT_EQ(p.pool.popReady(Place::Borrowed), nullptr);
    // The queue works again after running empty.
    p.pool.pushReady(c);
    EXPECT_EQ(p.pool.popReady(Place::Filling), c);
}

TEST(FramePool, ReleasedNodeIsReusedFirst) {
    ThreeNodePool p;
    LinkNode* a = p.pool.takeFree();
    LinkNode* b = p.pool.takeFree();
    EXPECT_EQ(p.pool.release(a), 0);
    EXPECT_EQ(p.pool.release(b), 0);
    EXPECT_EQ(p.pool.takeFree(), b);
    EXPECT_EQ(p.pool.takeFree(), a);
}

TEST(FramePool, ForeignOrRepeatedReleasesAreRefused) {
    ThreeNodePool p;
    ThreeNodePool other;
    LinkNode* node = p.pool.takeFree();
    p.pool.pushReady(node);
    ASSERT_EQ(p.pool.popReady(Place::Borrowed), node);
    ASSERT_TRUE(p.pool.isBorrowed(node->buffer.get()));

    RawData stranger(4, 4);
    LinkNode* foreignNode = other.pool.takeFree();
    const struct {
        const char* what;
        int result;
    } attempts[] = {
        {"unknown buffer", p.pool.releaseBorrowed(&stranger)},
        {"null buffer", p.pool.releaseBorrowed(nullptr)},
        {"other pool's buffer", p.pool.releaseBorrowed(foreignNode->buffer.get())},
        {"other pool's node", p.pool.release(foreignNode)},
        {"free, never handed out", p.pool.releaseBorrowed(p.created[0])},
        {"borrowed: accepted", p.pool.releaseBorrowed(node->buffer.get())},
        {"released twice", p.pool.releaseBorrowed(node->buffer.get())},
        {"free node given back", p.pool.release(node)},
    };
    for (const auto& a : attempts) {
        EXPECT_EQ(a.result, std::string(a.what).find("accepted") != std::string::npos ? 0 : -1)
            << a.what;
    }
    EXPECT_FALSE(p.pool.isBorrowed(node->buffer.get()));
    // The free list still holds each node exactly once.
    EXPECT_EQ(p.pool.freeListLength(), 3u);
    std::vector<LinkNode*> taken;
    while (LinkNode* n = p.pool.takeFree()) taken.push_back(n);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_NE(taken[0], taken[1]);
    EXPECT_NE(taken[1], taken[2]);
    EXPECT_NE(taken[0], taken[2]);
}

TEST(FramePool, QueuedFrameCannotBeReleasedByTheCaller) {
    ThreeNodePool p;
    LinkNode* node = p.pool.takeFree();
    p.pool.pushReady(node);
    EXPECT_EQ(p.pool.releaseBorrowed(node->buffer.get()), -1);
    EXPECT_EQ(p.pool.release(node), -1);
    EXPECT_EQ(p.pool.readyQueueLength(), 1u);
    EXPECT_EQ(p.pool.freeListLength(), 2u);
}

CameraInfo streamInfo(FrameType type, uint32_t width, uint32_t height) {
    CameraInfo info{};
    info.type = type;
    info.width = width;
    info.height = height;
    return info;
}

TEST(FrameStore, RawStoreHasThreeRawFramesOfTheRawLayout) {
    FrameStore store(streamInfo(RAW, 240, 720), FrameLayout{2, 240, 720});
    EXPECT_EQ(store.size(), 3);
    EXPECT_EQ(store.staging().byteSize(), 240u * 720u * 2u);
    ASSERT_EQ(store.framePool().nodes().size(), 3u);
    for (const auto& node : store.framePool().nodes()) {
        auto* raw = dynamic_cast<RawData*>(node->buffer.get());
        ASSERT_NE(raw, nullptr);
        FrameDataFormat format{};
        ASSERT_EQ(raw->getFormat(RAW, format), 0);
        EXPECT_EQ(format.width, 240u);
        EXPECT_EQ(format.height, 720u);
    }
    EXPECT_EQ(store.frameLayout().height, 720u);
}

TEST(FrameStore, DepthStoreHasThreeDepthFramesOfTheOutputLayout) {
    FrameStore store(streamInfo(DEPTH, 240, 720), FrameLayout{2, 240, 180});
    ASSERT_EQ(store.framePool().nodes().size(), 3u);
    for (const auto& node : store.framePool().nodes()) {
        auto* depth = dynamic_cast<DepthData*>(node->buffer.get());
        ASSERT_NE(depth, nullptr);
        for (FrameType plane : {DEPTH, CONFIDENCE, AMPLITUDE}) {
            FrameDataFormat format{};
            ASSERT_EQ(depth->getFormat(plane, format), 0);
            EXPECT_EQ(format.width, 240u);
            EXPECT_EQ(format.height, 180u);
            ASSERT_NE(depth->getData(plane), nullptr);
            static_cast<float*>(depth->getData(plane))[240 * 180 - 1] = 1.0f;
        }
    }
    // The staging buffer follows the raw read, not the output layout.
    EXPECT_EQ(store.staging().byteSize(), 240u * 720u * 2u);
}

TEST(FrameStore, HandOffCountsOnlyPublishedFrames) {
    FrameStore store(streamInfo(RAW, 4, 4), FrameLayout{2, 4, 4});
    EXPECT_EQ(store.request(0), nullptr);
    EXPECT_EQ(store.takeBackOldest(std::chrono::milliseconds(0)), nullptr);

    LinkNode* first = store.framePool().takeFree();
    LinkNode* second = store.framePool().takeFree();
    store.publish(first);
    store.publish(second);
    EXPECT_EQ(store.readyFrames(), 2);

    // The capture thread takes back the oldest; a request gets the next one.
    EXPECT_EQ(store.takeBackOldest(std::chrono::milliseconds(0)), first);
    EXPECT_EQ(first->place, Place::Filling);
    LinkNode* got = store.request(0);
    EXPECT_EQ(got, second);
    EXPECT_TRUE(store.framePool().isBorrowed(second->buffer.get()));
    EXPECT_EQ(store.readyFrames(), 0);
    EXPECT_EQ(store.request(1), nullptr);
}

}  // namespace
}  // namespace Zelvo
