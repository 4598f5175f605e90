// Ways for the tests to make a run read differently or at another pace. A
// run without them reads as it always does; none may change what it writes.
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

struct TestHooks {
    // The reference: every line read whole and handed to the scanner with
    // nothing known of it in advance, on one thread, as the search is
    // specified. The fast ways of reading are held against it.
    bool line_by_line = false;
    // When not 0, the threads that read and index blocks stop for a while
    // at random points, drawn from this seed, so that they keep pace with
    // each other and with the walk in every way.
    std::uint64_t delay_seed = 0;
};

// The random delays of one thread, drawn from a seed.
struct Delays {
    std::uint64_t state = 0;  // 0: no delays
};

inline Delays DelaysFrom(std::uint64_t seed) { return Delays{seed ? seed * 0x9E3779B97F4A7C15ull | 1 : 0}; }

// At about one call in `one_in`, waits up to a few hundred microseconds or
// gives up the processor.
inline void MaybeDelay(Delays& d, std::uint64_t one_in = 4) {
    if (!d.state) return;
    d.state ^= d.state << 13;  // xorshift: cheap, and the same sequence on every machine
    d.state ^= d.state >> 7;
    d.state ^= d.state << 17;
    if (d.state % one_in) return;
    if (d.state >> 60 & 1)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::microseconds(d.state >> 20 & 511));
}
