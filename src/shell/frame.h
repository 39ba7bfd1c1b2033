// frame.h -- the frame loop: one callback draws, presents and updates.
#pragma once

// Draws every scene and overlay that is on, presents, then updates. The
// window layer registers it as both the display and the idle callback, so
// frames follow each other as fast as the machine allows.
void renderFrame();

// Reads the clock, advances the effects, runs the schedule, reads the bands.
void updateFrame();

// Escape (27) ends the program at once; every other key is ignored.
void onKey(unsigned char key, int x, int y);

// Closes the music, shows the cursor and ends the process with the status
// given (0 unless a signal ended the demo).
[[noreturn]] void shutdownAndExit(int status = 0);
