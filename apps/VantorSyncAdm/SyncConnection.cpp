#include "apps/VantorSyncAdm/SyncConnection.h"

#include "apps/VantorSyncAdm/DialogToolkit.h"
#include "apps/VantorSyncAdm/StringTable.h"
#include "apps/VantorSyncAdm/TextManager.h"

SyncConnection::SyncConnection(SyncObjectFactory factory, Toolkit& toolkit,
                               ResMgr::TextManager& texts)
    : factory_(std::move(factory)), toolkit_(toolkit), texts_(texts) {}

bool SyncConnection::acquireSyncObject(std::shared_ptr<SyncObject>& object) {
    AutoLock guard(lock_);
    bool created = true;
    if (!shared_) {
        SyncResult failure = SyncResult::failure("The management object could not be created.");
        std::unique_ptr<SyncObject> made = factory_ ? factory_(failure) : nullptr;
        if (made) {
            shared_ = std::move(made);
        } else {
            created = false;
            reportComError(failure);
        }
    }
    object = shared_;
    return created;
}

void SyncConnection::reportComError(const SyncResult& result) {
    if (result.ok)
        return;
    AutoLock guard(lock_);
    lastFailure_ = result.kind;
    toolkit_.messageBox(nullptr, describe(result), "Error", MessageButtons::Ok, MessageIcon::Error);
    shared_.reset();
}

SyncResult::Failure SyncConnection::lastFailure() const {
    AutoLock guard(lock_);
    return lastFailure_;
}

std::string SyncConnection::describe(const SyncResult& result) const {
    // The bus's own words ("Rejected send message, 2 matched rules; ...") tell an
    // administrator nothing; the detail stays below the explanation only where it helps.
    switch (result.kind) {
        case SyncResult::Failure::NotPermitted:
            return texts_.getString(StringId::kNotPermitted);
        case SyncResult::Failure::Unreachable:
            return texts_.getString(StringId::kServiceUnreachable) +
                   (result.message.empty() ? std::string() : "\n\n(" + result.message + ")");
        case SyncResult::Failure::None:
        case SyncResult::Failure::Refused:
            break;
    }
    // A failure without any text still gets a box: an action must never fail silently.
    return result.message.empty() ? std::string("The management call failed.") : result.message;
}

void SyncConnection::releaseSyncObject() {
    AutoLock guard(lock_);
    shared_.reset();
}
