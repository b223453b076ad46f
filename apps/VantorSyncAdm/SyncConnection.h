#pragma once

#include <memory>

#include "apps/VantorSyncAdm/SyncObject.h"
#include "platform/AutoLock.h"

class Toolkit;
namespace ResMgr {
class TextManager;
}

// The console's one shared reference to the service's management object: created on first
// need, dropped by every reported failure and at exit, created anew by the next action.
class SyncConnection {
  public:
    SyncConnection(SyncObjectFactory factory, Toolkit& toolkit, ResMgr::TextManager& texts);

    SyncConnection(const SyncConnection&) = delete;
    SyncConnection& operator=(const SyncConnection&) = delete;

    // Fills the caller's reference with the shared object, creating it when there is none.
    // False when creation failed; the failure has been reported.
    bool acquireSyncObject(std::shared_ptr<SyncObject>& object);
    // For a failure: shows what happened and what to do in an error box captioned "Error"
    // and drops the shared object.
    void reportComError(const SyncResult& result);
    void releaseSyncObject();
    // The kind of the failure reported last.
    SyncResult::Failure lastFailure() const;
    // The text reportComError shows for a failure.
    std::string describe(const SyncResult& result) const;

  private:
    mutable CriticalSection lock_;
    SyncObjectFactory factory_;
    Toolkit& toolkit_;
    ResMgr::TextManager& texts_;
    std::shared_ptr<SyncObject> shared_;
    SyncResult::Failure lastFailure_ = SyncResult::Failure::None;
};
