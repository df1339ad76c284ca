// Several videos at once: each in a child process of its own, so that the core's one
// application object, a crash or a memory peak stay with one video, and the output of each
// video is passed on whole and in the order given.
#pragma once

#include <functional>
#include <string>

struct SZubCliJobs
{
    int nTasks = 0;
    int nJobs = 1;  // at most this many children at once
    // Runs task i in the child and returns its exit status.
    std::function<int(int)> task;
    // The error line for task i when its child ended without an exit status.
    std::function<std::string(int, const std::string& why)> crashLine;
    // Shows "k of n videos done" on stderr while children run in parallel (a terminal).
    bool bProgress = false;
};

// Runs every task and returns the highest exit status. With one job the children write
// straight to stdout and stderr; with more, their output is held until the tasks before
// theirs have been passed on (the first task still running is passed on as it comes).
int ZubRunJobs(const SZubCliJobs& jobs);
