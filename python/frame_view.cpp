#include "python/frame_view.h"

#include <stdexcept>

#include "python/frame_ledger.h"

namespace ZelvoPython {

using Zelvo::ZelvoFrameBuffer;

std::shared_ptr<FrameView> FrameView::make(std::weak_ptr<FrameLedger> ledger,
                                           ZelvoFrameBuffer* buffer, uint64_t stream) {
    if (dynamic_cast<Zelvo::RawData*>(buffer))
        return std::make_shared<RawFrameView>(std::move(ledger), buffer, stream);
    if (dynamic_cast<Zelvo::DepthData*>(buffer))
        return std::make_shared<DepthFrameView>(std::move(ledger), buffer, stream);
    return std::make_shared<FrameView>(std::move(ledger), buffer, stream);
}

FrameView::FrameView(std::weak_ptr<FrameLedger> ledger, ZelvoFrameBuffer* buffer,
                     uint64_t stream)
    : ledger(std::move(ledger)), frame(buffer), stream(stream) {}

FrameView::~FrameView() {
    // A program that forgets a release loses this frame, never the stream.
    if (auto owner = ledger.lock())
        owner->forget(frame, stream);
}

ZelvoFrameBuffer& FrameView::buffer() const {
    auto owner = ledger.lock();
    if (!owner)
        throw std::runtime_error("frame used after its camera was destroyed");
    if (owner->stream() != stream)
        throw std::runtime_error("frame used after its camera started a new stream");
    if (!owner->isLent(frame, stream))
        throw std::runtime_error("frame used after releaseFrame");
    return *frame;
}

ZelvoFrameBuffer* FrameView::lentBy(const FrameLedger& owner) const {
    auto current = ledger.lock();
    if (current.get() != &owner || !owner.isLent(frame, stream))
        return nullptr;
    return frame;
}

}  // namespace ZelvoPython
