#pragma once
#include <cstdlib>

// A property every input must keep: a failure stops the run, and libFuzzer keeps the input.
inline void check(bool condition)
{
    if (!condition)
        std::abort();
}
