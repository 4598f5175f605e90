// Writing the hits to standard output without being held there: a pipe
// whose reader takes nothing would keep a write waiting, and the run with it,
// past Ctrl-C.
#pragma once

#include <atomic>
#include <cstdio>
#include <string_view>

// Writes all of `bytes` to `to` and returns true, or false with errno set.
// When `to` is a pipe or a socket and `stop` is raised while its reader takes
// nothing, it gives up with ECANCELED; what was not written is dropped.
bool WriteOut(std::FILE* to, std::string_view bytes, const std::atomic<bool>* stop);
