// What the processor offers beyond the build's baseline, asked once, for the
// few loops that have a wider version. Elsewhere every such test is false.
#pragma once

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define REPOSEARCH_X86 1
// Byte shuffles (table lookups sixteen bytes at a time).
inline bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
// 32-byte integer vectors and a bit count instruction.
inline bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    return has;
}
#else
inline bool HasSsse3() { return false; }
inline bool HasAvx2() { return false; }
#endif
