// Bookkeeping of the frames one camera has lent to Python.
//
// The camera's frame buffers belong to its frame store: a caller borrows one
// from requestFrame until releaseFrame, the capture thread refills it after the
// release, and the next start (or the camera's end) frees it. A Python frame
// object can outlive all of that, so it never touches its buffer without asking
// the ledger first. The ledger lives as long as the camera; frames hold it
// weakly, so a frame whose camera is gone finds no ledger. A frame collected
// while it still borrows its buffer gives the buffer back through the ledger.
//
// Used with the interpreter lock held only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <zelvo/frame_buffer.h>

namespace ZelvoPython {

class FrameView;

class FrameLedger : public std::enable_shared_from_this<FrameLedger> {
public:
    // Gives a borrowed buffer back to the camera's pool, with the pool's result.
    using ReturnToPool = std::function<int(Zelvo::ZelvoFrameBuffer*)>;

    explicit FrameLedger(ReturnToPool returnToPool) : returnToPool(std::move(returnToPool)) {}

    // Records that requestFrame handed out the buffer and returns the frame
    // object standing for it: the existing one while Python still holds it.
    std::shared_ptr<FrameView> lend(Zelvo::ZelvoFrameBuffer* buffer);
    // Gives a buffer lent in the current stream back to the pool; the pool's result.
    int giveBack(Zelvo::ZelvoFrameBuffer* buffer);
    // The frame object lent in `stream` is collected: a buffer it still borrows
    // goes back to the pool, as releaseFrame would give it.
    void forget(Zelvo::ZelvoFrameBuffer* buffer, uint64_t stream);
    // The camera replaced its frame store: every buffer lent so far is freed.
    void replaceBuffers();

    // Counts the streams whose buffers the ledger has seen; a frame remembers
    // the stream it was lent in.
    uint64_t stream() const { return currentStream; }
    // True while the buffer is lent in that stream.
    bool isLent(const Zelvo::ZelvoFrameBuffer* buffer, uint64_t stream) const;

private:
    struct Loan {
        Zelvo::ZelvoFrameBuffer* buffer;
        std::weak_ptr<FrameView> view;
        bool lent;
    };

    Loan* find(const Zelvo::ZelvoFrameBuffer* buffer);

    ReturnToPool returnToPool;

    // One entry per buffer of the current stream that was ever lent (the pool
    // holds three), so the list stays tiny.
    std::vector<Loan> loans;
    uint64_t currentStream = 0;
};

}  // namespace ZelvoPython
