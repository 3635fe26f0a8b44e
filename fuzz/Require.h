#pragma once

// A fuzz target's check: a broken promise stops the run where the fuzzer sees it (and keeps the
// input), without depending on assertions being compiled in.
inline void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}
