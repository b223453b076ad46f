#pragma once

#include <cstdint>

#include "http/IOB.h"

namespace Analysis {

// The byte buffer of the training database: the same rules as the HTTP buffer,
// but large enough for a whole store's worth of descriptors.
class IOB : public HTTPParser::IOB {
  public:
    static constexpr uint32_t kAnalysisLengthLimit = 1073741824;  // 1 GiB, zero byte included

    IOB() : HTTPParser::IOB(kAnalysisLengthLimit) {}
    ~IOB() override = default;
    IOB(IOB&&) noexcept = default;
    IOB& operator=(IOB&&) noexcept = default;
};

}  // namespace Analysis
