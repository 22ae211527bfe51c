#include "core/frame_pool.h"

#include <algorithm>

namespace Zelvo {

void FramePool::add(std::unique_ptr<ZelvoFrameBuffer> buffer) {
    allNodes.push_back(std::make_unique<LinkNode>(std::move(buffer)));
    std::lock_guard<std::mutex> lock(mutex);
    pushFree(allNodes.back().get());
}

void FramePool::pushFree(LinkNode* node) {
    node->next = freeList;
    node->place = LinkNode::Place::Free;
    freeList = node;
}

LinkNode* FramePool::takeFree() {
    std::lock_guard<std::mutex> lock(mutex);
    LinkNode* node = freeList;
    if (!node) return nullptr;
    freeList = node->next;
    node->next = nullptr;
    node->place = LinkNode::Place::Filling;
    return node;
}

void FramePool::pushReady(LinkNode* node) {
    std::lock_guard<std::mutex> lock(mutex);
    node->next = nullptr;
    node->place = LinkNode::Place::Ready;
    if (readyTail)
        readyTail->next = node;
    else
        readyHead = node;
    readyTail = node;
}

LinkNode* FramePool::popReady(LinkNode::Place to) {
    std::lock_guard<std::mutex> lock(mutex);
    LinkNode* node = readyHead;
    if (!node) return nullptr;
    readyHead = node->next;
    if (!readyHead) readyTail = nullptr;
    node->next = nullptr;
    node->place = to;
    return node;
}

LinkNode* FramePool::find(const ZelvoFrameBuffer* buffer) const {
    if (!buffer) return nullptr;
    for (const auto& node : allNodes) {
        if (node->buffer.get() == buffer) return node.get();
    }
    return nullptr;
}

int FramePool::release(LinkNode* node) {
    if (!node) return -1;
    const bool known = std::any_of(allNodes.begin(), allNodes.end(),
                                   [node](const auto& own) { return own.get() == node; });
    if (!known) return -1;
    std::lock_guard<std::mutex> lock(mutex);
    if (node->place != LinkNode::Place::Filling && node->place != LinkNode::Place::Borrowed)
        return -1;
    pushFree(node);
    return 0;
}

int FramePool::releaseBorrowed(const ZelvoFrameBuffer* buffer) {
    LinkNode* node = find(buffer);
    if (!node) return -1;
    std::lock_guard<std::mutex> lock(mutex);
    if (node->place != LinkNode::Place::Borrowed) return -1;
    pushFree(node);
    return 0;
}

bool FramePool::isBorrowed(const ZelvoFrameBuffer* buffer) const {
    LinkNode* node = find(buffer);
    if (!node) return false;
    std::lock_guard<std::mutex> lock(mutex);
    return node->place == LinkNode::Place::Borrowed;
}

size_t FramePool::freeListLength() const {
    std::lock_guard<std::mutex> lock(mutex);
    size_t count = 0;
    for (LinkNode* node = freeList; node; node = node->next) ++count;
    return count;
}

size_t FramePool::readyQueueLength() const {
    std::lock_guard<std::mutex> lock(mutex);
    size_t count = 0;
    for (LinkNode* node = readyHead; node; node = node->next) ++count;
    return count;
}

}  // namespace Zelvo
