// The pool of output buffers of one stream: a free list (a stack: last released,
// first reused) and a ready queue of filled frames, oldest first. Every node also
// knows where it is, so a frame given back twice, or one that was never handed
// out, is refused instead of corrupting the lists.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include <zelvo/frame_buffer.h>

namespace Zelvo {

struct LinkNode {
    // Where a node is. Changed only under the pool's mutex.
    enum class Place { Free, Filling, Ready, Borrowed };

    explicit LinkNode(std::unique_ptr<ZelvoFrameBuffer> buffer) : buffer(std::move(buffer)) {}

    LinkNode* next = nullptr;                  // next node of the list holding this one
    std::unique_ptr<ZelvoFrameBuffer> buffer;  // fixed for the node's life
    Place place = Place::Free;
};

class FramePool {
public:
    FramePool() = default;
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;

    // Builds a node for the buffer and pushes it onto the front of the free list.
    // Only while the pool is being built: the node set is fixed afterwards.
    void add(std::unique_ptr<ZelvoFrameBuffer> buffer);

    // Unlinks the head of the free list for filling; null when the list is empty.
    LinkNode* takeFree();
    // Appends a filled node to the ready queue.
    void pushReady(LinkNode* node);
    // Unlinks the oldest ready node; it is then being filled again (taken back by the
    // capture thread) or borrowed by the caller. Null when the queue is empty.
    LinkNode* popReady(LinkNode::Place to);
    // The node carrying this buffer, or null. Lock-free: the node set never changes.
    LinkNode* find(const ZelvoFrameBuffer* buffer) const;
    // Gives back a node that was out (being filled or borrowed): 0, or -1 when the
    // node is not this pool's or is already free or queued.
    int release(LinkNode* node);
    // Gives back a borrowed buffer: 0, or -1 when the buffer is not this pool's or
    // is not borrowed at the moment.
    int releaseBorrowed(const ZelvoFrameBuffer* buffer);
    bool isBorrowed(const ZelvoFrameBuffer* buffer) const;

    const std::vector<std::unique_ptr<LinkNode>>& nodes() const { return allNodes; }
    size_t freeListLength() const;
    size_t readyQueueLength() const;

private:
    void pushFree(LinkNode* node);

    mutable std::mutex mutex;  // guards the lists, the links and every node's place
    LinkNode* freeList = nullptr;
    LinkNode* readyHead = nullptr;
    LinkNode* readyTail = nullptr;
    std::vector<std::unique_ptr<LinkNode>> allNodes;  // creation order
};

}  // namespace Zelvo
