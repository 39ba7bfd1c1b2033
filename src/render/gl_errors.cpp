// gl_errors.cpp -- reporting of pending OpenGL errors; see gl_errors.h.
#include "render/gl_errors.h"

#include <cstdio>
#include <string>

namespace {

long errorsFound = 0;

}  // namespace

// The names of the errors a compatibility context can raise.
const char* glErrorName(GLenum error) {
    switch (error) {
        case GL_INVALID_ENUM: return "GL_INVALID_ENUM";
        case GL_INVALID_VALUE: return "GL_INVALID_VALUE";
        case GL_INVALID_OPERATION: return "GL_INVALID_OPERATION";
        case GL_STACK_OVERFLOW: return "GL_STACK_OVERFLOW";
        case GL_STACK_UNDERFLOW: return "GL_STACK_UNDERFLOW";
        case GL_OUT_OF_MEMORY: return "GL_OUT_OF_MEMORY";
        case 0x0506: return "GL_INVALID_FRAMEBUFFER_OPERATION";
        case 0x0507: return "GL_CONTEXT_LOST";
        default: return "unknown GL error";
    }
}

// One line for everything pending, so a burst of errors is read as one
// event; the bound keeps a lost context from holding us here.
int reportPendingGlErrors(const char* program, const char* where) {
    std::string list;
    int found = 0;
    for (GLenum error; found < 16 && (error = glGetError()) != GL_NO_ERROR; ++found) {
        char text[64];
        std::snprintf(text, sizeof text, "%s%s (0x%04x)", found ? ", " : "", glErrorName(error), error);
        list += text;
    }
    if (found == 0) return 0;
    errorsFound += found;
    std::fprintf(stderr, "%s: OpenGL error%s %s %s\n", program, found > 1 ? "s" : "", list.c_str(), where);
    return found;
}

long glErrorsFound() { return errorsFound; }
