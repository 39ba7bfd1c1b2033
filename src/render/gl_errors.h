// gl_errors.h -- OpenGL errors found by a part of the program that did not
// raise them.
//
// OpenGL keeps errors until someone reads them, so code that needs to know
// whether its own call failed (the texture upload) must first take off what
// was raised before it. Those errors are reported, never dropped: one line
// names where they were found, and a count lets a checking run
// (tessera-render --check) fail on them.
#pragma once

#include <GL/gl.h>

// The name of an OpenGL error code, such as "GL_INVALID_ENUM".
const char* glErrorName(GLenum error);

// Takes every error pending now off the queue (at most 16: a lost context
// reports its loss for ever) and, when there is any, prints one line on
// stderr: "PROGRAM: OpenGL error NAME (0xCODE)[, ...] WHERE". Returns how
// many it took; each also counts in glErrorsFound().
int reportPendingGlErrors(const char* program, const char* where);

// Every error reportPendingGlErrors has taken since the process started.
long glErrorsFound();
