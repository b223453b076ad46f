#include "http/SharedAnswer.h"

#include <cassert>

namespace HTTPParser {

SharedAnswer::~SharedAnswer() {
    // A sender holds its own reference, so none can be left when the last one goes.
    assert(senders_ == 0 && "shared answer destroyed while a connection still sends it");
}

bool SharedAnswer::admitSender(BufferBudget* budget, uint32_t freeAllowance) const {
    AutoLock guard(lock_);
    if (senders_ == 0 && budget != nullptr) {
        if (length() <= freeAllowance)
            budget->charge(length());
        else if (!budget->tryCharge(length()))
            return false;
        charged_ = budget;
    }
    ++senders_;
    return true;
}

void SharedAnswer::releaseSender() const {
    AutoLock guard(lock_);
    assert(senders_ > 0 && "shared answer released by a connection that was not sending it");
    if (senders_ == 0 || --senders_ > 0)
        return;
    if (charged_ != nullptr)
        charged_->release(length());
    charged_ = nullptr;
}

}  // namespace HTTPParser
