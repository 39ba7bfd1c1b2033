// main.cpp -- tessera's entry point.
//
// Reads the command line, finds the data folder and works from there, checks
// what the demo cannot run without before it touches the display mode, opens
// the picture, runs the start-up sequence and hands control to GLUT's main
// loop, which never comes back: the program ends through shutdownAndExit.
#include <GL/freeglut.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/music.h"
#include "shell/data_dir.h"
#include "shell/end_signals.h"
#include "shell/frame.h"
#include "shell/frame_pacing.h"
#include "shell/startup.h"
#include "shell/sync_check.h"
#include "shell/window.h"
#include "shell/window_glut.h"

static const char kUsage[] =
    "usage: tessera [--window] [--native] [--max-fps N] [--audio-offset MS]\n"
    "               [--sync-check] [--help] [--version]\n"
    "Plays the demo full screen with its music; it ends by itself after 260 s.\n"
    "  --window       play in an ordinary resizable 640 x 480 window instead\n"
    "  --native       on a screen larger than 640 x 480, draw at the picture's shown\n"
    "                 size (thinner lines, finer patterns) instead of drawing at\n"
    "                 640 x 480 and scaling it up\n"
    "  --max-fps N    start at most N frames a second (default 60, the rate the\n"
    "                 effects that step once a frame were made for); 0 draws as\n"
    "                 fast as the machine allows\n"
    "  --audio-offset MS  show the picture MS ms later (-1000 to 1000; negative:\n"
    "                 earlier), for an output that reports its delay wrongly\n"
    "  --sync-check   instead of the demo, 10 s of one white frame and a click at\n"
    "                 every whole second, to film and set --audio-offset by\n"
    "  --help, -h     print this and exit\n"
    "  --version      print the version and exit\n"
    "Escape or closing the window ends it; every other key is ignored. Ctrl+C,\n"
    "SIGTERM and SIGHUP end it too, with exit status 128 + the signal's number.\n"
    "Data (music/mix.mp3 and textures/) comes from the first of: the working\n"
    "directory, $TESSERA_DATA_DIR, the build tree beside the program,\n"
    "<prefix>/share/tessera.\n"
    "Exit status: 0 ended (Escape, window closed, end of the demo); 1 no data,\n"
    "unplayable music or no X display; 2 a bad command line; 128 + N ended by\n"
    "signal N.\n";

// Prints --help or --version on stdout and exits: status 0, or 1 with the
// reason when it could not be written (a closed or full standard output).
[[noreturn]] static void printAndExit(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "tessera: write error: %s\n", std::strerror(errno));
        std::exit(1);
    }
    std::exit(0);
}

// --max-fps takes a whole number from 0 (no cap) to 1000.
static int readFrameCap(const char* text) {
    char* end = nullptr;
    const long value = text ? std::strtol(text, &end, 10) : -1;
    if (!text || !*text || *end || value < 0 || value > 1000) {
        std::fprintf(stderr, "tessera: --max-fps needs a whole number from 0 (no cap) to 1000, not %s%s%s\n",
                     text ? "\"" : "", text ? text : "nothing", text ? "\"" : "");
        std::fputs(kUsage, stderr);
        std::exit(2);
    }
    return int(value);
}

// --audio-offset takes whole milliseconds from -1000 to 1000, once.
static int readAudioOffset(const char* text, bool given) {
    char* end = nullptr;
    const long value = text ? std::strtol(text, &end, 10) : -1;
    if (given || !text || !*text || *end || value < -1000 || value > 1000) {
        if (given)
            std::fprintf(stderr, "tessera: --audio-offset is given more than once\n");
        else
            std::fprintf(stderr, "tessera: --audio-offset needs whole milliseconds from -1000 to 1000, not %s%s%s\n",
                         text ? "\"" : "", text ? text : "nothing", text ? "\"" : "");
        std::fputs(kUsage, stderr);
        std::exit(2);
    }
    return int(value);
}

static bool syncCheck = false;

// Takes the demo's options; anything else is refused with one line
// and the usage (status 2), before the display is touched. GLUT is given no
// options of its own, so none reach it by accident. Returns whether the
// demo plays in a window.
static bool readCommandLine(int argc, char** argv) {
    bool inWindow = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--window")) {
            inWindow = true;
        } else if (!std::strcmp(argv[i], "--max-fps")) {
            maxFramesPerSecond = readFrameCap(i + 1 < argc ? argv[++i] : nullptr);
        } else if (!std::strcmp(argv[i], "--audio-offset")) {
            static bool offsetGiven = false;
            musicSetOutputOffset(readAudioOffset(i + 1 < argc ? argv[++i] : nullptr, offsetGiven));
            offsetGiven = true;
        } else if (!std::strcmp(argv[i], "--sync-check")) {
            syncCheck = true;
        } else if (!std::strcmp(argv[i], "--native")) {
            drawAtNativeSize = true;
        } else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            printAndExit(kUsage);
        } else if (!std::strcmp(argv[i], "--version")) {
            printAndExit(std::string("tessera ") + TESSERA_VERSION + "\n");
        } else {
            std::fprintf(stderr, "tessera: unknown %s \"%s\"\n", argv[i][0] == '-' ? "option" : "argument", argv[i]);
            std::fputs(kUsage, stderr);
            std::exit(2);
        }
    }
    return inWindow;
}

// The idle callback: waits for the next frame's slot (60 a second unless
// --max-fps says otherwise), then ends the demo as Escape does if a signal
// has asked for it, else runs the next frame. An event from the X server
// ends the wait early without a frame, so GLUT handles it at once (Escape
// ends the demo within a few milliseconds at any cap) and the wait resumes.
// Idle runs on every turn of the main loop, drawn or not, so the signal is
// seen within one frame.
static void nextFrame() {
    const bool slotHasCome = waitForFrameSlot(windowEventFd());
    if (const int number = endSignalReceived()) shutdownAndExit(128 + number);
    if (slotHasCome) runFrame();
}

// GLUT's display callback, asked for by every expose (the window uncovered
// or moved). The next paced frame, at most one slot away, repaints the
// window; a frame run here would step every per-frame effect outside the
// cap, so the demo would speed up while a window is dragged over it.
static void repaintAtNextFrame() {}

int main(int argc, char** argv) {
    const bool inWindow = readCommandLine(argc, argv);
    catchEndSignals();
    if (!enterDataDir("tessera", TESSERA_BUILD_ROOT, TESSERA_BUILD_DATA, TESSERA_INSTALLED_DATA)) return 1;

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
    if (syncCheck) {
        startSyncCheck();
        setCursorVisible(false);
        glutDisplayFunc([] {});  // the idle callback draws every frame
        glutIdleFunc(nextSyncCheckFrame);
        glutKeyboardFunc(onKey);
        glutMainLoop();
        return 0;
    }
    runStartup();
    setCursorVisible(false);
    glutDisplayFunc(repaintAtNextFrame);
    glutIdleFunc(nextFrame);
    glutKeyboardFunc(onKey);
    glutMainLoop();
    return 0;
}
