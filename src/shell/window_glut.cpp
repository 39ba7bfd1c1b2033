// window_glut.cpp -- the shell's window-system calls on freeglut and Xlib.
#include "shell/window_glut.h"

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>

#include "shell/frame.h"
#include "render/picture_layout.h"
#include "shell/window.h"

bool drawAtNativeSize = false;

static bool inGameMode = false;
static bool videoModesCanChange = false;  // the X server offers mode switching
static bool processIsEnding = false;

// The connection stays open until GLUT has its own: closing the only client
// of an X server makes some servers reset, and GLUT's connection would then
// be refused.
static Display* probeConnection = nullptr;

bool displayIsReachable(std::string* reason) {
    probeConnection = XOpenDisplay(nullptr);
    if (probeConnection) {
        // freeglut switches modes through XFree86-VidMode; without it (Xvfb,
        // most nested servers) asking for game mode only earns a warning.
        int opcode, event, error;
        videoModesCanChange =
            XQueryExtension(probeConnection, "XFree86-VidModeExtension", &opcode, &event, &error);
        return true;
    }
    const char* name = std::getenv("DISPLAY");
    *reason = name && *name ? std::string("cannot open the X display \"") + name + "\"; tessera needs a running X server"
                            : "no X display (DISPLAY is not set); tessera needs a graphical desktop";
    return false;
}

// GLUT's default reshape would stretch the viewport over the whole window;
// the picture keeps its 4:3 rectangle (the whole window in game mode, drawn
// there directly).
static void onReshape(int width, int height) {
    PictureLayout layout = layoutPicture(width, height, drawAtNativeSize);
    if (inGameMode) layout.drawn = layout.shown = PictureRect{0, 0, width, height};
    usePictureLayout(layout);
    applyPictureViewport();
}

// Closing the window from outside ends the demo as Escape does. freeglut
// also destroys the window while the process exits; that is no new request.
static void onClose() {
    if (!processIsEnding) shutdownAndExit();
}

// True when the space-separated extension list names the extension.
static bool listsExtension(const char* list, const char* name) {
    const size_t length = std::strlen(name);
    for (const char* at = list; at && (at = std::strstr(at, name)); at += length)
        if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) return true;
    return false;
}

// Asks the driver to swap once per display refresh, through whichever of
// GLX's three swap-control extensions it offers, so frames come at the
// display's rate and the effects that step once per frame keep their
// designed speed. A driver that offers none (or refuses) leaves the frames
// unpaced, as they would be anyway.
static void requestVerticalSync() {
    Display* display = glXGetCurrentDisplay();
    const GLXDrawable drawable = glXGetCurrentDrawable();
    if (!display || !drawable) return;
    const char* extensions = glXQueryExtensionsString(display, DefaultScreen(display));
    auto lookUp = [](const char* name) { return glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)); };
    if (listsExtension(extensions, "GLX_EXT_swap_control")) {
        if (auto set = reinterpret_cast<PFNGLXSWAPINTERVALEXTPROC>(lookUp("glXSwapIntervalEXT"))) {
            set(display, drawable, 1);
            return;
        }
    }
    if (listsExtension(extensions, "GLX_MESA_swap_control")) {
        auto set = reinterpret_cast<PFNGLXSWAPINTERVALMESAPROC>(lookUp("glXSwapIntervalMESA"));
        if (set && set(1) == 0) return;
    }
    if (listsExtension(extensions, "GLX_SGI_swap_control")) {
        if (auto set = reinterpret_cast<PFNGLXSWAPINTERVALSGIPROC>(lookUp("glXSwapIntervalSGI"))) set(1);
    }
}

// What both ways of opening the picture share once the window exists.
static void finishOpening() {
    glutReshapeFunc(onReshape);
    glutCloseFunc(onClose);
    requestVerticalSync();
    if (probeConnection) XCloseDisplay(probeConnection);
    probeConnection = nullptr;
}

void openFullScreenPicture() {
    // Runs before freeglut's own exit handler, which glutInit registered.
    std::atexit([] { processIsEnding = true; });
    glutGameModeString("640x480:32");
    if (videoModesCanChange) glutEnterGameMode();
    inGameMode = glutGameModeGet(GLUT_GAME_MODE_ACTIVE) && glutGameModeGet(GLUT_GAME_MODE_WIDTH) == 640 &&
                 glutGameModeGet(GLUT_GAME_MODE_HEIGHT) == 480;
    if (!inGameMode) {
        if (glutGameModeGet(GLUT_GAME_MODE_ACTIVE)) glutLeaveGameMode();
        const int width = glutGet(GLUT_SCREEN_WIDTH), height = glutGet(GLUT_SCREEN_HEIGHT);
        glutInitWindowPosition(0, 0);
        glutInitWindowSize(width, height);
        glutCreateWindow("tessera");
        glutFullScreen();
        usePictureLayout(layoutPicture(width, height, drawAtNativeSize));
    }
    finishOpening();
}

// --window: an ordinary window that the window manager places and the user
// may resize; onReshape keeps the picture 4:3 and centred in it.
void openResizableWindow() {
    std::atexit([] { processIsEnding = true; });
    glutInitWindowSize(640, 480);
    glutCreateWindow("tessera");
    usePictureLayout(layoutPicture(640, 480, drawAtNativeSize));
    finishOpening();
}

int windowEventFd() {
    Display* display = glXGetCurrentDisplay();
    return display ? ConnectionNumber(display) : -1;
}

void presentFrame() {
    showScaledPicture();
    glutSwapBuffers();
}

void setWindowTitle(const char* title) { glutSetWindowTitle(title); }

void setCursorVisible(bool visible) { glutSetCursor(visible ? GLUT_CURSOR_INHERIT : GLUT_CURSOR_NONE); }
