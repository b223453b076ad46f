// The libFuzzer entry point of one target program; VS_FUZZ_TARGET names its function.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return Fuzz::VS_FUZZ_TARGET(data, size);
}
