// startup.h -- the one-time start-up sequence.
#pragma once

// GL state, light 0, stencil defaults, effect set-up, mesh fix-up, music
// start and texture loads, in a fixed order: the music starts before the last
// fourteen loads, so its clock already runs when the first frame is drawn.
void runStartup();

// The first steps of runStartup alone: clear, capabilities, projection and
// viewport, light 0 and the stencil defaults. Touches no effect state.
void setStartupGlState();

// The file the demo plays, relative to its working directory.
constexpr const char* kMusicPath = "music/mix.mp3";
