// gl_state.h -- the GL state sequences the scenes and overlays share, named
// once as begin/end pairs.
//
// Each end does not restore what was there before its begin: it sets what
// the passes after it expect (lighting and the depth test on, blending and
// texturing off), as every scene and overlay hands the frame on.
//
// State the demo leaves behind on purpose. No pass saves or restores the
// following, and the passes drawn after a scene rely on finding it as that
// scene set it:
// - the stencil function and operation: a stencil window ends with the test
//   switched off but its last function kept (endStencilWindow); start-up sets
//   the function that passes everywhere (mask 0), and the next scene to use
//   the stencil sets its own;
// - GL_NORMALIZE: switched on by the window and volume scenes and never off,
//   so every later lit mesh has its normals renormalised under scaling;
// - the shade model (the halftone scene leaves flat shading), face culling
//   (on from start-up, left off by the volume scene), the current colour and
//   light 0's position and attenuation: the passes after a scene inherit
//   them as it left them.
#pragma once

#include <GL/gl.h>

// A pass that must not be lit or hidden: lighting and the depth test off.
// End switches both back on, which is how every overlay hands the frame on.
void beginUnlitOverlay();
void endUnlitOverlay();

// Additive compositing over the frame: the depth test off, blending on with
// (GL_ONE, GL_ONE), so black adds nothing and bright parts wash towards
// white. End switches blending off and the depth test back on.
void beginAdditive();
void endAdditive();

// Texturing through sphere-map coordinates generated from the normals (the
// generation mode is set at start-up): the 2D texture on with the given
// picture, generation of s and t on. End switches all three off.
void beginSphereMapped(GLuint texture);
void endSphereMapped();

// A stencil window, in three steps:
// beginStencilMask: the stencil test on, every fragment drawn writes 1, the
//   colour buffer masked off; the caller then draws the window's shape.
// drawInsideStencilMask: colour and the depth test back on, and only where
//   the stencil holds 1 is drawn.
// drawOutsideStencilMask: only where it holds 0 is drawn.
// endStencilWindow: the stencil test off; the function stays as the last
//   step left it (see above).
void beginStencilMask();
void drawInsideStencilMask();
void drawOutsideStencilMask();
void endStencilWindow();
