// jobs.h -- a render split into N parts run side by side on one machine.
//
// --jobs N starts N renderers of this same program, each with --part K/N
// writing its piece into a hidden folder beside the output, shows their
// progress on one line, and joins the pieces into the output when all have
// finished. A part that fails stops the others; a signal stops them all;
// either way the pieces go and no output is left.
#pragma once

#include <atomic>
#include <csignal>
#include <string>

#include "presets.h"

// Runs in the data directory, with the output path absolute. `stop` is set
// by the signal handlers. Returns the exit status.
int runJobs(int argc, char** argv, const std::string& out, int jobs, Preset preset,
            const std::atomic<int>* stop);

// In a part started by runJobs: its progress, at most four times a second,
// for the line the parent shows. Does nothing in a render started by hand.
void reportPartProgress(long framesDone, long framesTotal);
