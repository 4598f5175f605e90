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
// (and Ctrl-C or Ctrl-Break), 143 for SIGTERM (and the console's close).
int InterruptStatus();

// A file that a second signal removes before the program ends: the page
// while it is written under a temporary name. Empty: none.
void SetPendingFile(const std::string& path);
