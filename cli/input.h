// Reading an export from a pipe, a socket or a terminal without being held
// there: a read that waits for a writer sending nothing would keep the run
// waiting past Ctrl-C and SIGTERM.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "../engine/blocks.h"

// A reader of the export for the search (RunInputs::read_block). From a
// pipe, a socket or a terminal it waits for bytes in turns of a tenth of a
// second and, once `stop` is raised, gives up with -1 and errno ECANCELED;
// it hands over whole lines (but for a line longer than asked for), so that
// a stopped search has read no part of one. Any other file it reads as
// fread does. Empty on Windows: the search's own fread.
ReadBlock StoppableReader(const std::atomic<bool>* stop);

// A named pipe given as an export, opened without waiting for a writer (the
// system's open would wait for one past any signal): its reader then waits
// in turns that look at the stop flag. Null for any other file, which the
// search opens itself, and for a pipe that cannot be opened (the search
// then tells why). The caller closes it.
std::FILE* OpenNamedPipe(const std::string& name);
