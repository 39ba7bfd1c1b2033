// sync_check.cpp -- the --sync-check screen (see sync_check.h).
#include "shell/sync_check.h"

#include <GL/gl.h>

#include <cstdio>

#include "audio/music.h"
#include "state/demo_state.h"
#include "shell/end_signals.h"
#include "shell/frame.h"
#include "shell/frame_pacing.h"
#include "shell/window.h"
#include "shell/window_glut.h"

namespace {

int lastSecond = 0;  // the last whole second flashed

}  // namespace

void startSyncCheck() {
    musicInit(kMusicRate);
    musicStream = musicOpenClickTrack(kSyncCheckSeconds);
    musicSetTime(musicStream, 0);
    musicPlay(musicStream);
}

// A frame is white when a whole second of the clock has begun since the
// previous frame: one frame a second, the first to show that second.
void nextSyncCheckFrame() {
    const bool slotHasCome = waitForFrameSlot(windowEventFd());
    if (const int number = endSignalReceived()) shutdownAndExit(128 + number);
    if (!slotHasCome) return;  // input first: GLUT handles it, the wait resumes
    const int ms = musicGetTime(musicStream);
    if (ms >= kSyncCheckSeconds * 1000) shutdownAndExit(0);
    // The title shows the clock, as the demo's does.
    char title[16];
    std::snprintf(title, sizeof title, "%d", ms);
    setWindowTitle(title);
    const bool flash = ms / 1000 > lastSecond;
    lastSecond = ms / 1000;
    const float shade = flash ? 1.0f : 0.0f;
    glClearColor(shade, shade, shade, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    presentFrame();
}
