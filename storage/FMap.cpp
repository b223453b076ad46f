#include "storage/FMap.h"

namespace Storage {

// The fingerprint index of the training database.
template class FMap<int64_t, int32_t>;

}  // namespace Storage
