// main.cpp -- tessera's entry point.
//
// Reads the command line, checks what the demo cannot run without before it
// touches the display mode, opens the picture, runs the start-up sequence
// and hands control to GLUT's main loop, which never comes back: the program
// ends through shutdownAndExit.
#include <GL/freeglut.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/music.h"
#include "shell/end_signals.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "shell/window.h"
#include "shell/window_glut.h"

static const char kUsage[] =
    "usage: tessera [--window] [--native] [--help] [--version]\n"
    "Plays the demo full screen; runs in the current working directory, which must hold music/ and textures/.\n"
    "  --window   play in an ordinary resizable 640 x 480 window instead\n"
    "  --native   on a screen larger than 640 x 480, draw at the picture's shown size (thinner lines, finer\n"
    "             patterns) instead of drawing at 640 x 480 and scaling the picture up\n"
    "  --help     print this and exit\n"
    "  --version  print the version and exit\n"
    "Escape ends the demo; so do Ctrl+C, SIGTERM and SIGHUP (exit status 128 + the signal's number).\n";

// Takes the demo's four options; anything else is refused with one line
// and the usage (status 2), before the display is touched. GLUT is given no
// options of its own, so none reach it by accident. Returns whether the
// demo plays in a window.
static bool readCommandLine(int argc, char** argv) {
    bool inWindow = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--window")) {
            inWindow = true;
        } else if (!std::strcmp(argv[i], "--native")) {
            drawAtNativeSize = true;
        } else if (!std::strcmp(argv[i], "--help")) {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (!std::strcmp(argv[i], "--version")) {
            std::printf("tessera %s\n", TESSERA_VERSION);
            std::exit(0);
        } else {
            std::fprintf(stderr, "tessera: unknown %s \"%s\"\n", argv[i][0] == '-' ? "option" : "argument", argv[i]);
            std::fputs(kUsage, stderr);
            std::exit(2);
        }
    }
    return inWindow;
}

// The idle callback: ends the demo as Escape does once a signal has asked
// for it, else draws the next frame. Idle runs on every turn of the main
// loop, drawn or not, so the signal is seen within one frame.
static void nextFrame() {
    if (const int number = endSignalReceived()) shutdownAndExit(128 + number);
    renderFrame();
}

int main(int argc, char** argv) {
    const bool inWindow = readCommandLine(argc, argv);
    catchEndSignals();

    std::string reason;
    if (!musicFileIsPlayable(kMusicPath, &reason)) {
        char cwd[4096];
        const char* dir = getcwd(cwd, sizeof cwd) ? cwd : "(unknown)";
        std::fprintf(stderr, "tessera: cannot play \"%s\" in the working directory %s: %s\n", kMusicPath, dir,
                     reason.c_str());
        return 1;
    }
    if (!displayIsReachable(&reason)) {
        std::fprintf(stderr, "tessera: %s\n", reason.c_str());
        return 1;
    }

    int glutArgc = 1;
    glutInit(&glutArgc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    if (inWindow)
        openResizableWindow();
    else
        openFullScreenPicture();
    runStartup();
    setCursorVisible(false);
    glutDisplayFunc(renderFrame);
    glutIdleFunc(nextFrame);
    glutKeyboardFunc(onKey);
    glutMainLoop();
    return 0;
}
