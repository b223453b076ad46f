#include "apps/VantorSyncAdm/SyncConnection.h"

#include "apps/VantorSyncAdm/DialogToolkit.h"

SyncConnection::SyncConnection(SyncObjectFactory factory, Toolkit& toolkit)
    : factory_(std::move(factory)), toolkit_(toolkit) {}

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
    // A failure without any text still gets a box: an action must never fail silently.
    const std::string text =
        result.message.empty() ? std::string("The management call failed.") : result.message;
    toolkit_.messageBox(nullptr, text, "Error", MessageButtons::Ok, MessageIcon::Information);
    shared_.reset();
}

void SyncConnection::releaseSyncObject() {
    AutoLock guard(lock_);
    shared_.reset();
}
