#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding: abort so that the fuzzer keeps the input and a
// regression replay fails loudly with the place it broke.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)
