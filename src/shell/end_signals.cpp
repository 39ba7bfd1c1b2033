// end_signals.cpp -- notes SIGINT, SIGTERM and SIGHUP for the frame loop.
#include "shell/end_signals.h"

#include <SDL.h>

#include <csignal>
#include <initializer_list>

static volatile std::sig_atomic_t endSignal = 0;

// Async-signal-safe: stores the number and nothing else. SA_RESETHAND puts
// the default action back, so a second Ctrl+C ends a demo whose frame loop
// has stopped turning.
static void noteEndSignal(int number) {
    if (!endSignal) endSignal = number;
}

void catchEndSignals() {
    // The audio library would otherwise turn SIGINT and SIGTERM into events
    // of a queue that the demo never reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = noteEndSignal;
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(number, &action, nullptr);
    }
}

int endSignalReceived() { return endSignal; }
