// Writing the hits to standard output without being held there: a pipe
// whose reader takes nothing would keep a write waiting, and the run with it,
// past Ctrl-C; and in whole lines, so that a reader that reads again after
// the stop gets whole records.
#pragma once

#include <atomic>
#include <cstdio>
#include <string_view>

// Writes all of `bytes` to `to` and returns true, or false with errno set.
// When `to` is a pipe or a socket, the bytes go in whole lines where they
// fit in one write (PIPE_BUF), so that the reader never holds part of a line
// but of a longer one. Once `stop` is raised, a reader that takes nothing for
// five seconds is given up: this write and every later one fail with
// ECANCELED, and what was not written is dropped.
bool WriteOut(std::FILE* to, std::string_view bytes, const std::atomic<bool>* stop);
