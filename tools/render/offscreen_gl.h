// offscreen_gl.h -- an OpenGL context that needs no display.
//
// EGL on Mesa's surfaceless platform, compatibility profile, rendering into a
// framebuffer object with RGBA8 colour and 24-bit depth plus 8-bit stencil.
// The offline renderer and the rendered tests draw the demo's frames into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Creates the context and its framebuffer and makes both current. Safe to
// call again: a later call with another size replaces the framebuffer (its
// contents are lost), so tests can draw at several sizes in one process.
// Returns false with a reason when no context can be had.
bool offscreenCreate(int width, int height, std::string* reason);

// The framebuffer's colour as RGB bytes, top row first.
std::vector<uint8_t> offscreenReadRgb();

int offscreenWidth();
int offscreenHeight();

// Writes RGB bytes (top row first) as a PNG file. On failure gives the
// reason through `reason`, or without one prints "tessera-render: cannot write ...".
bool writePngRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb,
                 std::string* reason = nullptr);
