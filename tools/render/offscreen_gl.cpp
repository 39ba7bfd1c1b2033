// offscreen_gl.cpp -- EGL surfaceless context and framebuffer object.
#include "offscreen_gl.h"

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <png.h>

#include <algorithm>
#include <cstdio>

namespace {

struct Offscreen {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint framebuffer = 0;
    GLuint colour = 0;
    GLuint depthStencil = 0;
    int width = 0;
    int height = 0;
};

Offscreen offscreen;

bool fail(std::string* reason, const char* what) {
    if (reason) *reason = what;
    return false;
}

}  // namespace

static bool attachFramebuffer(int width, int height, std::string* reason);

// Surfaceless Mesa gives a full compatibility-profile context without any
// window system; the picture goes into our own framebuffer object.
bool offscreenCreate(int width, int height, std::string* reason) {
    if (offscreen.context != EGL_NO_CONTEXT) {
        if (width == offscreen.width && height == offscreen.height) return true;
        glDeleteRenderbuffers(1, &offscreen.colour);
        glDeleteRenderbuffers(1, &offscreen.depthStencil);
        glDeleteFramebuffers(1, &offscreen.framebuffer);
        return attachFramebuffer(width, height, reason);
    }
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) return fail(reason, "EGL has no eglGetPlatformDisplayEXT");
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr))
        return fail(reason, "cannot initialise EGL on the surfaceless platform");
    if (!eglBindAPI(EGL_OPENGL_API)) return fail(reason, "EGL cannot bind desktop OpenGL");

    const EGLint configAttribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                    EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    if (!eglChooseConfig(display, configAttribs, &config, 1, &count) || count < 1)
        return fail(reason, "no EGL config for desktop OpenGL");
    const EGLint contextAttribs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                     EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttribs);
    if (context == EGL_NO_CONTEXT) return fail(reason, "cannot create a compatibility-profile context");
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context))
        return fail(reason, "cannot make the offscreen context current");
    offscreen.display = display;
    offscreen.context = context;
    return attachFramebuffer(width, height, reason);
}

// A new framebuffer of the given size, bound for drawing and reading.
static bool attachFramebuffer(int width, int height, std::string* reason) {
    glGenFramebuffers(1, &offscreen.framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, offscreen.framebuffer);
    glGenRenderbuffers(1, &offscreen.colour);
    glBindRenderbuffer(GL_RENDERBUFFER, offscreen.colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, offscreen.colour);
    glGenRenderbuffers(1, &offscreen.depthStencil);
    glBindRenderbuffer(GL_RENDERBUFFER, offscreen.depthStencil);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                              offscreen.depthStencil);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        return fail(reason, "the offscreen framebuffer is incomplete");
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glViewport(0, 0, width, height);
    offscreen.width = width;
    offscreen.height = height;
    return true;
}

int offscreenWidth() { return offscreen.width; }
int offscreenHeight() { return offscreen.height; }

// glReadPixels delivers the bottom row first; the rows are turned round so
// that callers get the picture as it is seen.
std::vector<uint8_t> offscreenReadRgb() {
    const int w = offscreen.width, h = offscreen.height;
    std::vector<uint8_t> bottomUp(size_t(w) * h * 3), rgb(bottomUp.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    const size_t row = size_t(w) * 3;
    for (int y = 0; y < h; ++y)
        std::copy_n(bottomUp.data() + size_t(h - 1 - y) * row, row, rgb.data() + size_t(y) * row);
    return rgb;
}

bool writePngRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb,
                 std::string* reason) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        if (reason) *reason = image.message;
        else std::fprintf(stderr, "tessera-render: cannot write %s: %s\n", path.c_str(), image.message);
        return false;
    }
    return true;
}
