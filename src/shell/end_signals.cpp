// end_signals.cpp -- notes SIGINT, SIGTERM and SIGHUP for the frame loop.
#include "shell/end_signals.h"

#include <SDL.h>

#include <atomic>
#include <csignal>
#include <initializer_list>

// Any of the process's threads (the audio output's, the renderer's) may take
// the signal, so the note is an atomic, and lock-free, which keeps it safe
// inside a handler.
static std::atomic<int> endSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Async-signal-safe: notes the first number and nothing else. SA_RESETHAND
// puts the default action back, so a second Ctrl+C ends a demo whose frame
// loop has stopped turning.
static void noteEndSignal(int number) {
    int none = 0;
    endSignal.compare_exchange_strong(none, number);
}

// Puts noteEndSignal on each of the three signals the process did not come
// with ignored, and tells the audio library to install no handlers of its own.
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

// Read by the frame loop once per turn.
int endSignalReceived() { return endSignal.load(); }
