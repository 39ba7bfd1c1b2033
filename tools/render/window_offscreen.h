// window_offscreen.h -- what the offscreen window layer exposes to its users.
#pragma once

#include "render/picture_layout.h"
#include "shell/window.h"

// Called by presentFrame with the finished frame still in the framebuffer.
extern void (*offscreenPresentHook)();

// The last title the frame loop set.
extern char offscreenTitle[256];
