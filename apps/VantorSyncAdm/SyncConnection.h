#pragma once

#include <memory>

#include "apps/VantorSyncAdm/SyncObject.h"
#include "platform/AutoLock.h"

class Toolkit;

// The console's one shared reference to the service's management object: created on first
// need, dropped by every reported failure and at exit, created anew by the next action.
class SyncConnection {
  public:
    SyncConnection(SyncObjectFactory factory, Toolkit& toolkit);

    SyncConnection(const SyncConnection&) = delete;
    SyncConnection& operator=(const SyncConnection&) = delete;

    // Fills the caller's reference with the shared object, creating it when there is none.
    // False when creation failed; the failure has been reported.
    bool acquireSyncObject(std::shared_ptr<SyncObject>& object);
    // For a failure: shows its text in a box captioned "Error" and drops the shared object.
    void reportComError(const SyncResult& result);
    void releaseSyncObject();

  private:
    CriticalSection lock_;
    SyncObjectFactory factory_;
    Toolkit& toolkit_;
    std::shared_ptr<SyncObject> shared_;
};
