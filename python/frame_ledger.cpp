#include "python/frame_ledger.h"

#include <algorithm>

#include "python/frame_view.h"

namespace ZelvoPython {

using Zelvo::ZelvoFrameBuffer;

FrameLedger::Loan* FrameLedger::find(const ZelvoFrameBuffer* buffer) {
    auto it = std::find_if(loans.begin(), loans.end(),
                           [buffer](const Loan& loan) { return loan.buffer == buffer; });
    return it == loans.end() ? nullptr : &*it;
}

std::shared_ptr<FrameView> FrameLedger::lend(ZelvoFrameBuffer* buffer) {
    Loan* loan = find(buffer);
    if (!loan) {
        loans.push_back(Loan{buffer, {}, false});
        loan = &loans.back();
    }
    loan->lent = true;
    if (auto view = loan->view.lock())
        return view;
    auto view = FrameView::make(weak_from_this(), buffer, currentStream);
    loan->view = view;
    return view;
}

int FrameLedger::giveBack(ZelvoFrameBuffer* buffer) {
    const int result = returnToPool(buffer);
    if (result == 0) {
        if (Loan* loan = find(buffer))
            loan->lent = false;
    }
    return result;
}

void FrameLedger::forget(ZelvoFrameBuffer* buffer, uint64_t stream) {
    if (isLent(buffer, stream))
        giveBack(buffer);
}

void FrameLedger::replaceBuffers() {
    loans.clear();
    ++currentStream;
}

bool FrameLedger::isLent(const ZelvoFrameBuffer* buffer, uint64_t stream) const {
    if (stream != currentStream)
        return false;
    return std::any_of(loans.begin(), loans.end(), [buffer](const Loan& loan) {
        return loan.buffer == buffer && loan.lent;
    });
}

}  // namespace ZelvoPython
