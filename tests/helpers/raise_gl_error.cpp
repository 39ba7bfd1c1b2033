// raise_gl_error.cpp -- preloaded into tessera-render by a test. The real
// glPointSize, which start-up calls once before the first picture is loaded
// and no frame calls, is followed by a call that raises GL_INVALID_ENUM: an
// error that only the picture loader can find, to show that it reaches
// --check.
#include <GL/gl.h>
#include <dlfcn.h>

extern "C" void glPointSize(GLfloat size) {
    reinterpret_cast<void (*)(GLfloat)>(dlsym(RTLD_NEXT, "glPointSize"))(size);
    reinterpret_cast<void (*)(GLenum)>(dlsym(RTLD_NEXT, "glEnable"))(0x1234);
}
