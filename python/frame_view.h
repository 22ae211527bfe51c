// What a Python frame object holds: the buffer it stands for and the means to
// tell whether that buffer may still be read. Python sees FrameView as
// ZelvoFrame, RawFrameView as RawData and DepthFrameView as DepthData.
#pragma once

#include <cstdint>
#include <memory>

#include <zelvo/frame_buffer.h>

namespace ZelvoPython {

class FrameLedger;

class FrameView {
public:
    // The view of the most derived class for that buffer.
    static std::shared_ptr<FrameView> make(std::weak_ptr<FrameLedger> ledger,
                                           Zelvo::ZelvoFrameBuffer* buffer, uint64_t stream);

    FrameView(std::weak_ptr<FrameLedger> ledger, Zelvo::ZelvoFrameBuffer* buffer,
              uint64_t stream);
    // A frame collected while still borrowed gives its buffer back.
    virtual ~FrameView();

    FrameView(const FrameView&) = delete;
    FrameView& operator=(const FrameView&) = delete;

    // The buffer while the frame is lent; throws std::runtime_error (RuntimeError
    // in Python) after its release, after its camera's next start, or once its
    // camera is gone.
    Zelvo::ZelvoFrameBuffer& buffer() const;
    // The buffer when the frame is currently lent by that ledger, null otherwise.
    Zelvo::ZelvoFrameBuffer* lentBy(const FrameLedger& owner) const;

private:
    std::weak_ptr<FrameLedger> ledger;
    Zelvo::ZelvoFrameBuffer* frame;
    uint64_t stream;
};

class RawFrameView final : public FrameView {
public:
    using FrameView::FrameView;
};

class DepthFrameView final : public FrameView {
public:
    using FrameView::FrameView;
};

}  // namespace ZelvoPython
