// How the programs end on SIGTERM, SIGINT and SIGHUP (a logout, `kill`, Ctrl-C): never with
// a temporary output file left behind, and a program that can end in an orderly way (stop
// the run, save the settings) is told instead of being killed. A second signal of these
// ends the process at once.
#pragma once

#include <string>
#include <sys/types.h>

// The process ends at once on these signals, as it would by default (status 128+n), after
// removing the temporary files of outputs being written.
void ZubEndAtSignals();
// The signal is caught and the caller ends the program in its own way, told by ZubEndSignal
// and, when `wakeFd` >= 0 (the non-blocking write end of a pipe it watches), by the signal's
// number written there as one byte.
void ZubCatchEndSignals(int wakeFd);
// Back to the default actions, nothing caught.
void ZubResetEndSignals();
// The end signal caught so far, 0 if none.
int ZubEndSignal();
// While set (> 0), an end signal is also passed on to this process (a child being waited for).
void ZubForwardEndSignalsTo(pid_t pid);
// Removes the partial files and ends the process by `signal` with its default action.
[[noreturn]] void ZubEndBySignal(int sig);

// A temporary file being written, removed if the process ends by a signal meanwhile. Up to
// a few at once; beyond that a file is simply not tracked.
int ZubTrackPartialFile(const std::string& path);  // a slot for ZubUntrackPartialFile, or -1
void ZubUntrackPartialFile(int slot);
