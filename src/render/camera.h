// camera.h -- the projections and cameras the frame loop, scenes and overlays
// share.
//
// The two projection calls push the projection matrix and leave it pushed;
// whoever calls them draws and then pops it (glMatrixMode(GL_PROJECTION);
// glPopMatrix(); glMatrixMode(GL_MODELVIEW)). Every call here leaves
// GL_MODELVIEW as the current matrix mode.
#pragma once

// Saves the projection and replaces it with an orthographic one spanning
// left..right by bottom..top, depth -1..200.
void beginOrtho(float left, float right, float bottom, float top);

// Saves the projection and replaces it with the demo's perspective: fovY
// degrees, aspect 1 on the 4:3 picture (deliberately stretched), depth
// 0.01..200; the viewport is the picture rectangle.
void beginPerspective(float fovY);

// Multiplies a camera at (x, y, z) looking at the origin, up +y, onto the
// current modelview matrix.
void lookAtOrigin(float x, float y, float z);

// Multiplies a camera at the origin looking towards (x, y, z), up +y, onto
// the current modelview matrix.
void lookFromOrigin(float x, float y, float z);

// Restores the projection that beginOrtho or beginPerspective saved and
// makes the modelview current again.
void endProjection();
