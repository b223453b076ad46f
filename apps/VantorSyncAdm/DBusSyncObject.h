#pragma once

#include "apps/VantorSyncAdm/SyncObject.h"

// Management objects that reach the running service over D-Bus, on the bus named by
// $VANTORSYNC_BUS (the system bus when unset).
SyncObjectFactory dbusSyncObjectFactory();
