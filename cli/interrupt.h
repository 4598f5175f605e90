// Ctrl-C and SIGTERM (on Windows the console's Ctrl-C, Ctrl-Break and close)
// stop a run cleanly: the first raises the flag the searches look at, a
// second ends the program at once.
#pragma once

#include <atomic>
#include <string>

// Catches the signals from here on (those ignored when the program started,
// as a shell leaves SIGINT to a program run in the background, stay so).
void CatchInterrupts();

// Raised by the first signal.
const std::atomic<bool>& InterruptFlag();

// 0 while no signal came; else the exit status it asks for: 130 for SIGINT
// (and Ctrl-C or Ctrl-Break), 143 for SIGTERM (and the console's close), 141
// when the reader of standard output went away (OutputClosed).
int InterruptStatus();

// The reader of the hits on standard output went away (`| head`): the run
// stops as a first signal stops it, and ends with 141, as one killed by
// SIGPIPE would, without a word about the failed write. Standard output
// is a pipe whose closing gives a failed write, not SIGPIPE, once
// CatchInterrupts has run.
void OutputClosed();

// A file that a second signal removes before the program ends: the page
// while it is written under a temporary name. Empty: none.
void SetPendingFile(const std::string& path);
