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

// Reads a file at offsets (RunSeams::read_at), from any thread: each thread
// of the search reads the blocks it indexes. Empty on Windows, where the
// blocks are read in turn.
ReadAt PositionedReader();

// Opens an export (RunSeams::open_export): a named pipe without waiting for
// a writer, which the system's open would do past any signal (its reader
// then waits in turns that look at the stop flag); any other file as fopen.
std::FILE* OpenExportFile(const std::string& name);
