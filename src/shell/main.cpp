// main.cpp -- tessera's entry point.
//
// Checks what the demo cannot run without before it touches the display
// mode, opens the full-screen picture, runs the start-up sequence and hands
// control to GLUT's main loop, which never comes back: the program ends
// through shutdownAndExit.
#include <GL/freeglut.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "audio/music.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "shell/window.h"
#include "shell/window_glut.h"

int main(int argc, char** argv) {
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

    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    openFullScreenPicture();
    runStartup();
    setCursorVisible(false);
    glutDisplayFunc(renderFrame);
    glutIdleFunc(renderFrame);
    glutKeyboardFunc(onKey);
    glutMainLoop();
    return 0;
}
