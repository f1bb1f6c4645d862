// Debug-only assertions on hot-path invariants, compiled out of release builds.
#pragma once

#ifdef NDEBUG
#define FOLVIO_ASSERT(cond) ((void)0)
#else
#include <cstdio>
#include <cstdlib>
#define FOLVIO_ASSERT(cond)                                                                  \
    ((cond) ? (void)0                                                                        \
            : (std::fprintf(stderr, "%s:%d: assertion failed: %s\n", __FILE__, __LINE__, #cond), \
               std::abort()))
#endif
