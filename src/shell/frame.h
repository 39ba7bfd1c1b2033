// frame.h -- the frame: draw, present, update.
#pragma once

// One whole frame: draws every scene and overlay that is on, presents the
// picture, then updates (updateFrame), which may end the run when the
// schedule is over. The player runs it once per frame slot from its paced
// idle callback; the offline renderer and the tools once per stepped frame.
void runFrame();

// Reads the clock, advances the effects, runs the schedule, reads the bands.
void updateFrame();

// Escape (27) ends the program at once; every other key is ignored.
void onKey(unsigned char key, int x, int y);

// Closes the music, shows the cursor and ends the process with the status
// given (0 unless a signal ended the demo).
[[noreturn]] void shutdownAndExit(int status = 0);
