// Output that waits its turn: what an export searched ahead of its turn
// writes to standard output or to the run's one log goes to a temporary file
// first, so that memory stays small however much it is.
#pragma once

#include <atomic>
#include <cstdio>

// A temporary file, open for writing and reading, removed when closed; null
// when none can be made (errno tells why).
std::FILE* OpenSpool();

// Copies what the spool holds to `to`, in whole lines, and closes the spool.
// False when a read or a write failed (errno ECANCELED: `stop` was raised
// and `to`, a pipe, was given up, WriteOut).
bool DrainSpool(std::FILE* spool, std::FILE* to, const std::atomic<bool>* stop = nullptr);
