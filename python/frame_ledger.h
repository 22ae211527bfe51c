// Bookkeeping of the frames one camera has lent to Python.
//
// The camera's frame buffers belong to its frame store: a caller borrows one
// from requestFrame until releaseFrame, the capture thread refills it after the
// release, and the next start (or the camera's end) frees it. A Python frame
// object can outlive all of that, so it never touches its buffer without asking
// the ledger first. The ledger lives as long as the camera; frames hold it
// weakly, so a frame whose camera is gone finds no ledger.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/frame_buffer.h"

namespace ZelvoPython {

class FrameView;

class FrameLedger : public std::enable_shared_from_this<FrameLedger> {
public:
    // Records that requestFrame handed out the buffer and returns the frame
    // object standing for it: the existing one while Python still holds it.
    std::shared_ptr<FrameView> lend(Zelvo::ZelvoFrameBuffer* buffer);
    // The buffer went back to the pool.
    void giveBack(const Zelvo::ZelvoFrameBuffer* buffer);
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

    // One entry per buffer of the current stream that was ever lent (the pool
    // holds three), so the list stays tiny.
    std::vector<Loan> loans;
    uint64_t currentStream = 0;
};

}  // namespace ZelvoPython
