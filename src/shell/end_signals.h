// end_signals.h -- Ctrl+C, kill and a closed terminal end the demo cleanly.
//
// The handlers only note the signal; the frame loop asks for it once per
// iteration and takes the same way out as Escape, since GLUT and the audio
// output cannot be called from a signal handler.
#pragma once

// Catches SIGINT, SIGTERM and SIGHUP, except those the process inherited as
// ignored (a background job, nohup), which stay ignored. Call it before the
// audio output starts, so that the audio library keeps its hands off them.
void catchEndSignals();

// The number of the first of those signals received so far, 0 if none.
int endSignalReceived();
