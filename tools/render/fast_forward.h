// fast_forward.h -- frames whose picture goes nowhere, drawn without pixels.
//
// Every frame of a run is updated and its GL calls made, because the effects
// carry state from frame to frame (meshes inflating, patterns refreshed,
// textures uploaded). But a frame that no output takes (one before the range,
// one between stills, one of a run that only writes sound or bands) need not
// be rasterised: its calls are issued behind a clip plane that drops every
// primitive, so the renderer does the vertex work and nothing after it.
// Every frame begins with a full clear and no effect reads the framebuffer
// of an earlier frame, so a frame drawn after skipped ones comes out exactly
// as in a run drawn in full.
#pragma once

// Called before each frame is drawn: true when its picture is wanted.
// Turns the rasteriser on or off only when that changes.
void fastForwardFrame(bool pictureWanted);

// Frames drawn without pixels so far, for the summary.
long fastForwardedFrames();
