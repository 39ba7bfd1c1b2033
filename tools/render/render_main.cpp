// render_main.cpp -- tessera-render, the offline renderer.
//
// Runs the demo's own start-up and frame code in an offscreen context with a
// stepped music clock: frame k reads the clock at k * 1000 / fps ms, so a
// render is the same, bit for bit, on every run. Frames before --from are
// updated and drawn too (effects carry state through the whole run) but not
// written, and not rasterised (fast_forward.h). The range runs from --from
// up to --to, not included; a still may lie at --to. The schedule's end
// exits the renderer as it exits the demo; the capture files are finished on
// that way out (an exit handler), so the last frame is never lost. SIGINT,
// SIGTERM and SIGHUP end the render after the frame being drawn, finish the
// files and exit with 128 + the signal.
#include <GL/gl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "audio/music.h"
#include "capture.h"
#include "fast_forward.h"
#include "jobs.h"
#include "join.h"
#include "media_file.h"
#include "offscreen_gl.h"
#include "render/gl_errors.h"
#include "shell/data_dir.h"
#include "state/demo_state.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "window_offscreen.h"

namespace {

using Clock = std::chrono::steady_clock;

// The schedule ends the demo at the first update that reads this position.
constexpr long kScheduleEndMs = 260000;

struct RenderOptions {
    int fps = 60;
    long from = 0;
    long to = -1;  // none: until the schedule ends, or the last still
    std::set<long> pngAt;  // positions still to write
    bool everyFrame = false;  // --out without --png-at
    std::string outDir;
    std::string videoPath;
    std::string wavPath;
    int width = 640;
    int height = 480;
    bool bands = false;
    bool check = false;
    bool native = false;
    // Worked out from the above: the range is the frames rangeFirst up to
    // rangeEnd (not included); the run draws every frame up to lastFrame.
    long rangeFirst = 0;
    long rangeEnd = 0;
    long lastFrame = 0;
    std::set<long> stillFrames;  // the frames the stills are taken from
    Preset preset = Preset::Default;
    bool presetGiven = false;
    int part = 0, parts = 0;  // --part K/N (0: the whole range)
    int jobs = 1;
    long wholeFirst = 0, wholeEnd = 0;  // the range of all the parts together
};

RenderOptions options;
long framesPresented = 0;  // frames after the first update
long drawnPosition = 0;
long framesInRange = 0;  // frames of the range presented so far
long stillsWritten = 0;  // --png-at files written so far
long framesToDraw = 0;   // frames up to the end of the run, for the progress line
long glErrorsChecked = 0;  // OpenGL errors that --check has already seen
Clock::time_point started;
Clock::time_point lastProgress;
bool showProgress = false;
bool runFinished = false;

// The first signal that asked the render to end, read by the frame loop:
// the work of ending happens there, never in the handler. Any thread may
// take the signal, so it is a lock-free atomic.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Set while no frame boundary is coming to act on a stop signal: during
// start-up, before the frame loop turns. A stop signal then ends the run
// at once, as does a second one at any time (a run finishing a large video
// can take a while).
volatile std::sig_atomic_t endAtOnce = 1;

// The files being written and not yet finished (the video, the WAV, the PNG
// file being written), so that a run ended at once from a signal handler
// can remove them: no broken file is left at its final name.
enum UnfinishedSlot { kUnfinishedVideo, kUnfinishedWav, kUnfinishedPng, kUnfinishedSlots };
char unfinishedPath[kUnfinishedSlots][PATH_MAX];
volatile std::sig_atomic_t unfinishedSet[kUnfinishedSlots];

void markUnfinished(UnfinishedSlot slot, const std::string& path) {
    if (path.empty() || path.size() >= PATH_MAX) return;
    unfinishedSet[slot] = 0;
    std::memcpy(unfinishedPath[slot], path.c_str(), path.size() + 1);
    unfinishedSet[slot] = 1;
}
void markFinished(UnfinishedSlot slot) { unfinishedSet[slot] = 0; }

// The usage: on stdout for --help (status 0, or 1 if it could not be
// written: a closed or full standard output), on stderr after the one line
// that says what was wrong (status 2).
[[noreturn]] void usage(const char* message) {
    if (message) std::fprintf(stderr, "tessera-render: %s\n", message);
    std::fprintf(message ? stderr : stdout,
                 "usage: tessera-render [--fps N] [--from MS] [--to MS] [--size WxH] [--native]\n"
                 "                      [--video FILE] [--wav FILE.wav] [--png-at MS[,MS...]]\n"
                 "                      [--out DIR] [--bands] [--check]\n"
                 "                      [--preset NAME] [--part K/N | --jobs N]\n"
                 "       tessera-render --join OUT PIECE...\n"
                 "Renders the demo offline, frame-exactly, with a stepped clock: frame k at\n"
                 "k * 1000 / fps ms.\n"
                 "  --fps N          frames per second, 1 to 1000 (default 60)\n"
                 "  --from MS        start of the range written, below 260000 (default 0;\n"
                 "                   earlier frames are drawn, not written)\n"
                 "  --to MS          end of the range, not included: video, WAV, frame files\n"
                 "                   and bands hold the frames drawn before it (default the\n"
                 "                   demo's end at 260000, or the last still when only --png-at\n"
                 "                   writes pictures); a still may lie at it\n"
                 "  --size WxH       output size, 16 to 8192 a side (default 640x480); larger\n"
                 "                   ones show the 640 x 480 picture scaled up to their\n"
                 "                   centred 4:3 rectangle\n"
                 "  --native         draw at that rectangle's own size instead (thinner lines,\n"
                 "                   finer patterns)\n"
                 "  --video FILE     H.264 video and the music as AAC in the container the name\n"
                 "                   ends in: .mp4, .mkv or .mov (no extension: MP4); a regular\n"
                 "                   file, as it is sought in; even width and height, at most\n"
                 "                   139264 macroblocks a frame and 16711680 a second (H.264\n"
                 "                   level 6.2: 8192x4320 at up to 120 fps, 3840x2160 up to 515)\n"
                 "  --wav FILE       the music of the range alone as 16-bit stereo WAV\n"
                 "  --png-at MS,...  a still of the first frame at or past each position,\n"
                 "                   as DIR/at-NNNNNN.png\n"
                 "  --out DIR        where PNG files go (default the working directory);\n"
                 "                   without --png-at, every frame of the range as\n"
                 "                   DIR/frame-NNNNNN.png\n"
                 "  --bands          print ms,band100,band150,band250 for every frame of the\n"
                 "                   range on stdout\n"
                 "  --preset NAME    the encoding of --video: default (H.264, AAC 44.1 kHz),\n"
                 "                   web (H.264 High, closed 0.5 s GOPs, AAC 48 kHz 384 kbit/s)\n"
                 "                   or archive (lossless FFV1 and FLAC, .mkv only)\n"
                 "  --part K/N       the K-th of N equal runs of the range's frames alone: a\n"
                 "                   video-only piece for --join (.mp4 or .mov; .mkv for\n"
                 "                   archive)\n"
                 "  --jobs N         render the video as N parts side by side, then join them\n"
                 "  --join OUT PIECE...  join the pieces of one split render into OUT, in\n"
                 "                   order, copying the video and encoding the sound once\n"
                 "  --check          fail on a GL error or a matrix stack left deeper than 1\n"
                 "                   after a frame; alone, a dry run that writes nothing\n"
                 "  --help, -h       print this and exit\n"
                 "Output paths are taken relative to the directory it was started in; none may\n"
                 "be the music, a picture or another output of the run.\n"
                 "Data (music/mix.mp3 and textures/) comes from the first of: the working\n"
                 "directory, $TESSERA_DATA_DIR, the build tree beside the program,\n"
                 "<prefix>/share/tessera.\n"
                 "Exit status: 0 done; 1 no data, unplayable music, no offscreen OpenGL, an\n"
                 "output that cannot be written or a failed --check; 2 a bad command line;\n"
                 "128 + N stopped by signal N (the files written so far are finished; a\n"
                 "second signal stops at once and removes the unfinished files).\n");
    if (!message && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
        std::fprintf(stderr, "tessera-render: write error: %s\n", std::strerror(errno));
        std::exit(1);
    }
    std::exit(message ? 2 : 0);
}

// A bad value: one line naming it, status 2.
[[noreturn]] void refuse(const std::string& message) {
    std::fprintf(stderr, "tessera-render: %s\n", message.c_str());
    std::exit(2);
}

long parseNumber(const char* text, const char* option) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 0 || errno == ERANGE)
        refuse(std::string(option) + " needs a whole number >= 0, not \"" + text + "\"");
    return value;
}

// A whole number from lo to hi for an option such as --fps or --jobs.
int parseCount(const char* text, const char* option, long lo, long hi) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < lo || value > hi)
        refuse(std::string(option) + " needs a whole number from " + std::to_string(lo) + " to " +
               std::to_string(hi) + ", not \"" + text + "\"");
    return int(value);
}

// A position that a frame is drawn at: one past the demo's end names no
// frame, and refusing it here keeps every position the arithmetic below
// sees within 0..260000 ms.
long parsePosition(const char* text, const char* option) {
    const long ms = parseNumber(text, option);
    if (ms > kScheduleEndMs)
        refuse(std::string(option) + " " + std::to_string(ms) + " lies past the demo's end at " +
               std::to_string(kScheduleEndMs) + " ms");
    return ms;
}

// One side of --size: decimal digits only (no sign, no space), 16 to 8192;
// -1 for anything else. Digits are counted before they are added up, so a
// long number cannot wrap round into range.
int parseSide(const std::string& text) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    const int side = std::stoi(text);
    return side >= 16 && side <= 8192 ? side : -1;
}

// WxH, each side 16 to 8192 pixels.
void parseSize(const char* text) {
    const std::string size = text;
    const size_t x = size.find('x');
    const int width = x == std::string::npos ? -1 : parseSide(size.substr(0, x));
    const int height = x == std::string::npos ? -1 : parseSide(size.substr(x + 1));
    if (width < 0 || height < 0)
        refuse(std::string("--size needs WIDTHxHEIGHT, 16 to 8192 each, not \"") + text + "\"");
    options.width = width;
    options.height = height;
}

// H.264's largest level (6.2) allows 139264 macroblocks of 16 x 16 a frame
// and 16711680 a second; a larger video would be tagged with a level it
// breaks, and players may refuse it. Stills have no such limit.
constexpr long kH264MostMacroblocks = 139264;
constexpr long kH264MostMacroblocksPerSecond = 16711680;

void checkVideoSize() {
    const long macroblocks = long((options.width + 15) / 16) * ((options.height + 15) / 16);
    const std::string size = std::to_string(options.width) + "x" + std::to_string(options.height);
    if (macroblocks > kH264MostMacroblocks)
        refuse("--video at " + size + " has " + std::to_string(macroblocks) + " macroblocks a frame, more than H.264's " +
               std::to_string(kH264MostMacroblocks) + " (level 6.2; 8192x4320 fits)");
    if (macroblocks * options.fps > kH264MostMacroblocksPerSecond)
        refuse("--video at " + size + " and " + std::to_string(options.fps) + " fps needs " +
               std::to_string(macroblocks * options.fps) + " macroblocks a second, more than H.264's " +
               std::to_string(kH264MostMacroblocksPerSecond) + " (level 6.2): lower --fps or --size");
}

// The index of the first frame drawn at or past `ms`: frame k is drawn at
// k * 1000 / fps ms, rounded down. Positions reach it bounded by the demo's
// end (an --to beyond it means the end), so ms * fps stays below 2^28.
long firstFrameAtOrPast(long ms) {
    ms = std::clamp(ms, 0L, kScheduleEndMs);
    return long(((long long)ms * options.fps + 999) / 1000);
}
long framePosition(long index) { return long((long long)index * 1000 / options.fps); }

// Checks the options against each other and works out the range and the
// run's last frame. Everything that can be known before drawing is refused
// here, so no run draws for minutes to say it wrote nothing.
void settleRange() {
    const bool streams = !options.videoPath.empty() || !options.wavPath.empty() || options.everyFrame;
    if (!streams && options.pngAt.empty() && !options.bands && !options.check)
        usage("nothing to write: give --video, --wav, --png-at, --out or --bands (or --check alone for a dry run)");
    if (options.from >= kScheduleEndMs)
        refuse("--from " + std::to_string(options.from) + " lies at or past the demo's end at 260000 ms");
    if (options.to >= 0 && options.to < options.from) usage("--to lies before --from");
    const long lastDrawable = firstFrameAtOrPast(kScheduleEndMs) - 1;
    long lastStill = -1;
    for (long ms : options.pngAt) {
        const std::string still = "--png-at " + std::to_string(ms);
        const long index = firstFrameAtOrPast(ms);
        if (ms < options.from) refuse(still + " lies before --from " + std::to_string(options.from));
        if (index > lastDrawable) refuse(still + " lies past the demo's last frame, at " +
                                         std::to_string(framePosition(lastDrawable)) + " ms");
        if (options.to >= 0 && ms > options.to) refuse(still + " lies past --to " + std::to_string(options.to));
        if (options.to >= 0 && framePosition(index) > options.to)
            refuse(still + ": the first frame at or past it is drawn at " + std::to_string(framePosition(index)) +
                   " ms, past --to " + std::to_string(options.to));
        lastStill = index;
        options.stillFrames.insert(index);
    }
    // Without --to a run that writes stills alone stops after the last one.
    if (options.to >= 0) options.rangeEnd = firstFrameAtOrPast(std::min(options.to, kScheduleEndMs));
    else options.rangeEnd = streams || lastStill < 0 ? lastDrawable + 1 : lastStill + 1;
    options.rangeFirst = firstFrameAtOrPast(options.from);
    if (options.rangeFirst >= options.rangeEnd && (streams || options.bands || options.pngAt.empty())) {
        if (options.to >= 0 && options.to < kScheduleEndMs)
            refuse("no frame lies from --from " + std::to_string(options.from) + " up to --to " +
                   std::to_string(options.to) + " (not included) at " + std::to_string(options.fps) + " fps");
        refuse("no frame lies from --from " + std::to_string(options.from) + " up to the demo's end at " +
               std::to_string(kScheduleEndMs) + " ms (its last frame at " + std::to_string(options.fps) +
               " fps is drawn at " + std::to_string(framePosition(lastDrawable)) + " ms)");
    }
    options.lastFrame = std::max(options.rangeEnd - 1, lastStill);
}

// The preset against the container, and a render split into parts or jobs:
// one video and nothing else, each part at least a frame long.
void settleSplit() {
    if (options.presetGiven && options.videoPath.empty()) refuse("--preset chooses the encoding of --video: give --video");
    if (!options.videoPath.empty()) {
        const std::string problem = presetContainerProblem(options.preset, mediaVideoContainer(options.videoPath));
        if (!problem.empty()) refuse("--video " + options.videoPath + ": " + problem);
    }
    if (!options.parts && options.jobs == 1) return;
    const char* split = options.parts ? "--part" : "--jobs";
    if (options.parts && options.jobs > 1) refuse("--part and --jobs exclude each other: --jobs runs the parts itself");
    if (options.videoPath.empty()) refuse(std::string(split) + " renders video: give --video");
    if (!options.pngAt.empty() || !options.outDir.empty() || !options.wavPath.empty() || options.bands)
        refuse(std::string(split) + " writes the video alone: leave out --png-at, --out, --wav and --bands");
    if (options.parts && options.preset != Preset::Archive && !std::strcmp(mediaVideoContainer(options.videoPath), "matroska"))
        refuse("--part: a piece of H.264 is written to .mp4 or .mov, which keep the decoding times the join needs");
    const long frames = options.rangeEnd - options.rangeFirst;
    const int n = options.parts ? options.parts : options.jobs;
    if (n > frames)
        refuse(std::string(split) + " " + std::to_string(n) + ": the range holds only " + std::to_string(frames) +
               " frame" + (frames == 1 ? "" : "s"));
    options.wholeFirst = options.rangeFirst;
    options.wholeEnd = options.rangeEnd;
    if (options.parts) {
        long first = 0, count = 0;
        pieceFrames(options.rangeFirst, options.rangeEnd, options.part, options.parts, &first, &count);
        options.rangeFirst = first;
        options.rangeEnd = first + count;
        options.lastFrame = options.rangeEnd - 1;
    }
}

// The tag a piece carries, for the join.
std::string ownPieceTag() {
    PieceInfo piece;
    piece.part = options.part;
    piece.parts = options.parts;
    piece.preset = options.preset;
    piece.width = options.width;
    piece.height = options.height;
    piece.fps = options.fps;
    piece.first = options.rangeFirst;
    piece.count = options.rangeEnd - options.rangeFirst;
    piece.rangeFirst = options.wholeFirst;
    piece.rangeEnd = options.wholeEnd;
    return pieceTag(piece);
}

// An output path given as "" would silently write nothing.
std::string pathValue(const char* text, const char* option) {
    if (!*text) refuse(std::string(option) + " needs a path, not an empty one");
    return text;
}

void parseOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) usage((std::string(arg) + " needs a value").c_str());
            return argv[++i];
        };
        if (!std::strcmp(arg, "--fps")) {
            options.fps = parseCount(value(), "--fps", 1, 1000);
        } else if (!std::strcmp(arg, "--from")) {
            options.from = parsePosition(value(), "--from");
        } else if (!std::strcmp(arg, "--to")) {
            options.to = parseNumber(value(), "--to");
        } else if (!std::strcmp(arg, "--png-at")) {
            std::string list = value();
            for (size_t start = 0; start <= list.size();) {
                size_t comma = list.find(',', start);
                if (comma == std::string::npos) comma = list.size();
                options.pngAt.insert(parsePosition(list.substr(start, comma - start).c_str(), "--png-at"));
                start = comma + 1;
            }
        } else if (!std::strcmp(arg, "--out")) {
            options.outDir = pathValue(value(), "--out");
        } else if (!std::strcmp(arg, "--video")) {
            options.videoPath = pathValue(value(), "--video");
            if (!mediaVideoContainer(options.videoPath))
                refuse("--video " + options.videoPath + ": the name must end in .mp4, .mkv or .mov (or have no extension, for MP4)");
        } else if (!std::strcmp(arg, "--wav")) {
            options.wavPath = pathValue(value(), "--wav");
        } else if (!std::strcmp(arg, "--size")) {
            parseSize(value());
        } else if (!std::strcmp(arg, "--native")) {
            options.native = true;
        } else if (!std::strcmp(arg, "--bands")) {
            options.bands = true;
        } else if (!std::strcmp(arg, "--check")) {
            options.check = true;
        } else if (!std::strcmp(arg, "--preset")) {
            const char* name = value();
            if (!presetByName(name, &options.preset))
                refuse(std::string("unknown preset \"") + name + "\": default, web or archive");
            options.presetGiven = true;
        } else if (!std::strcmp(arg, "--part")) {
            const char* text = value();
            char tail = 0;
            if (std::sscanf(text, "%d/%d%c", &options.part, &options.parts, &tail) != 2 || options.parts < 1 ||
                options.part < 1 || options.part > options.parts)
                refuse(std::string("--part needs K/N with 1 <= K <= N, not \"") + text + "\"");
        } else if (!std::strcmp(arg, "--jobs")) {
            options.jobs = parseCount(value(), "--jobs", 1, 64);
        } else if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            usage(nullptr);
        } else {
            usage((std::string("unknown option ") + arg).c_str());
        }
    }
    if (!options.videoPath.empty() && (options.width % 2 || options.height % 2))
        usage("--video needs an even width and height (the colour planes are half size)");
    if (!options.videoPath.empty()) checkVideoSize();
    if (!options.pngAt.empty() && options.outDir.empty()) options.outDir.push_back('.');  // the working directory
    options.everyFrame = options.pngAt.empty() && !options.outDir.empty();
    settleRange();
    settleSplit();
}

// The outputs are named relative to the directory the renderer was started
// in; the data search then changes the working directory, so they are made
// absolute first. A working directory that has been deleted leaves nothing
// to name them against: one line, status 1.
void anchorOutputPaths() {
    const std::pair<std::string*, const char*> outputs[] = {
        {&options.outDir, "--out"}, {&options.videoPath, "--video"}, {&options.wavPath, "--wav"}};
    for (const auto& [path, option] : outputs) {
        if (path->empty()) continue;
        std::error_code error;
        const std::filesystem::path full = std::filesystem::absolute(*path, error);
        if (error) {
            std::fprintf(stderr, "tessera-render: %s %s: the working directory cannot be found (%s)\n", option,
                         path->c_str(), error.message().c_str());
            std::exit(1);
        }
        *path = full.lexically_normal().string();
    }
    if (options.outDir.size() > 1 && options.outDir.back() == '/') options.outDir.pop_back();
}

// What a path names once symbolic links are followed: the resolved path, and
// the device and inode when the file exists (which also catches hard links).
struct FileIdentity {
    std::string resolved;
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    mode_t type = 0;
};

// `resolvedDir`, when given, is the path's folder already resolved: the
// frame files of a long run share it, and one stat each is enough.
FileIdentity identify(const std::string& path, const std::string& resolvedDir = "") {
    FileIdentity id;
    std::error_code error;
    if (!resolvedDir.empty()) {
        id.resolved = resolvedDir + path.substr(path.rfind('/'));
    } else {
        const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
        id.resolved = error ? path : resolved.string();
    }
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        id.exists = true;
        id.device = info.st_dev;
        id.inode = info.st_ino;
        id.type = info.st_mode & S_IFMT;
    }
    return id;
}

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.resolved == b.resolved || (a.exists && b.exists && a.device == b.device && a.inode == b.inode);
}

const char* fileTypeName(mode_t type) {
    switch (type) {
        case S_IFIFO: return "a FIFO";
        case S_IFCHR: return "a character device";
        case S_IFBLK: return "a block device";
        case S_IFDIR: return "a directory";
        case S_IFSOCK: return "a socket";
        default: return "not a regular file";
    }
}

// One file the run will write, named by the option that asks for it.
struct OutputFile {
    const char* option;
    const char* kind;  // for the message: what must be seekable
    std::string path;
    FileIdentity id;
};

// Refuses, before anything is opened for writing, an output that would
// destroy the run's input (the music, a picture: they are read while the
// run writes) or another output of the same run, however it is named, and
// one that is not a regular file: a FIFO would block the open for good, and
// the video and WAV are finished by seeking back to their headers.
void checkOutputs() {
    std::vector<OutputFile> outputs;
    if (!options.videoPath.empty()) outputs.push_back({"--video", "the video", options.videoPath, {}});
    if (!options.wavPath.empty()) outputs.push_back({"--wav", "the WAV", options.wavPath, {}});
    char name[32];
    for (long ms : options.pngAt) {
        std::snprintf(name, sizeof name, "/at-%06ld.png", ms);
        outputs.push_back({"--png-at", "a still", options.outDir + name, {}});
    }
    if (options.everyFrame)
        for (long frame = options.rangeFirst; frame < options.rangeEnd; ++frame) {
            std::snprintf(name, sizeof name, "/frame-%06ld.png", frame);
            outputs.push_back({"--out", "a frame file", options.outDir + name, {}});
        }
    const std::string resolvedOutDir = options.outDir.empty() ? "" : identify(options.outDir).resolved;
    for (OutputFile& output : outputs) {
        const bool png = output.option != std::string("--video") && output.option != std::string("--wav");
        output.id = identify(output.path, png ? resolvedOutDir : "");
        if (output.id.exists && output.id.type != S_IFREG) {
            std::fprintf(stderr, "tessera-render: %s %s is %s, not a regular file; %s must go to a file it can seek in\n",
                         output.option, output.path.c_str(), fileTypeName(output.id.type), output.kind);
            std::exit(1);
        }
    }
    // The inputs, relative to the data folder (the working directory now).
    std::vector<std::pair<std::string, FileIdentity>> inputs;
    inputs.push_back({"the demo's music (" + std::string(kMusicPath) + ")", identify(kMusicPath)});
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("textures", error)) {
        const std::string picture = "textures/" + entry.path().filename().string();
        inputs.push_back({"one of the demo's pictures (" + picture + ")", identify(picture)});
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        const OutputFile& output = outputs[i];
        for (const auto& [what, id] : inputs)
            if (sameFile(output.id, id))
                refuse(std::string(output.option) + " " + output.path + " is " + what + "; it is never written over");
        // Stills and frame files have names of their own in one folder:
        // only the video and the WAV can meet each other or them.
        if (output.option != std::string("--video") && output.option != std::string("--wav")) continue;
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            const OutputFile& other = outputs[j];
            if (!sameFile(output.id, other.id)) continue;
            if (other.option == std::string("--wav"))
                refuse(std::string(output.option) + " " + output.path + " and --wav " + other.path + " are the same file");
            refuse(std::string(output.option) + " " + output.path + " is also " + other.kind + " of this run");
        }
    }
}

// Makes the folder if need be and writes and removes a file in it, so that a
// folder on a read-only file system (or one we may not write) is found
// before anything is drawn, not at the first still.
bool folderIsWritable(const std::string& dir, std::string* reason) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        *reason = error.message();
        return false;
    }
    std::string probe = dir + "/.tessera-render-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

// Ends a run that cannot go on: the capture files are removed (what went
// wrong has been said).
[[noreturn]] void failRun() {
    runFinished = true;
    if (captureIsOpen()) captureDiscard();
    std::exit(1);
}

void writeFrame(const std::string& name) {
    const std::string path = options.outDir + "/" + name;
    std::string reason;
    markUnfinished(kUnfinishedPng, path);
    const bool written = writePngRgb(path, offscreenWidth(), offscreenHeight(), offscreenReadRgb(), &reason);
    markFinished(kUnfinishedPng);
    if (!written) {
        if (showProgress) std::fputs("\r\033[K", stderr);
        std::fprintf(stderr, "tessera-render: cannot write %s: %s\n", path.c_str(), reason.c_str());
        failRun();
    }
}

// A failed write of the bands (a full disk, a closed pipe) ends the run
// like any other output that cannot be written.
[[noreturn]] void bandsFailed(int error) {
    if (showProgress) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "tessera-render: cannot write the bands to standard output: %s\n", std::strerror(error));
    failRun();
}

// Pushes the buffered bands out; false, with errno, when that fails.
bool flushBands() { return !options.bands || (std::fflush(stdout) == 0 && !std::ferror(stdout)); }

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// On a terminal, a line rewritten four times a second: share done, frame
// rate and time left (measured from the first frame, after the start-up).
void printProgress(long frameIndex) {
    static Clock::time_point firstFrame;
    if (frameIndex == 0) firstFrame = Clock::now();
    reportPartProgress(frameIndex + 1, framesToDraw);
    if (!showProgress || Clock::now() - lastProgress < std::chrono::milliseconds(250)) return;
    lastProgress = Clock::now();
    const double elapsed = secondsSince(firstFrame);
    const double rate = elapsed > 0 ? frameIndex / elapsed : 0;
    std::fprintf(stderr, "\rtessera-render: %3ld%%  frame %ld of %ld", (frameIndex + 1) * 100 / std::max(framesToDraw, 1L),
                 frameIndex + 1, framesToDraw);
    if (rate > 0) {
        const long left = long((framesToDraw - frameIndex - 1) / rate);
        std::fprintf(stderr, "  %.0f fps  %ld:%02ld left", rate, left / 60, left % 60);
    }
    std::fputs("\033[K", stderr);
}

std::string megabytes(long long bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    return text;
}

// Finishes the capture files and prints the one-line summary. Returns false
// when the files could not be finished (they are removed, and it says why).
bool finishRun(int signal) {
    if (runFinished) return true;
    runFinished = true;
    if (showProgress) std::fputs("\r\033[K", stderr);
    CaptureSummary capture;
    std::string reason;
    if (captureIsOpen()) {
        if (signal && framesInRange == 0) {
            captureDiscard();
            std::fprintf(stderr, "tessera-render: interrupted by SIG%s before the first frame; nothing was written\n",
                         sigabbrev_np(signal));
            return true;
        }
        if (!captureFinish(&capture, &reason)) {
            std::fprintf(stderr, "tessera-render: %s\n", reason.c_str());
            return false;
        }
    }
    markFinished(kUnfinishedVideo);
    markFinished(kUnfinishedWav);
    // A still that was asked for and never drawn is a failure, never a
    // silent success (the positions are checked up front; this is the net).
    if (!signal && !options.pngAt.empty()) {
        std::fprintf(stderr, "tessera-render: the run ended before the still at %ld ms was drawn\n",
                     *options.pngAt.begin());
        return false;
    }
    const std::string interrupted = signal ? std::string("interrupted by SIG") + sigabbrev_np(signal) + ": " : "";
    const std::string stills = std::to_string(stillsWritten) + (stillsWritten == 1 ? " still in " : " stills in ") +
                               options.outDir;
    const double seconds = secondsSince(started);
    const double rate = seconds > 0 ? double(framesPresented) / seconds : 0.0;
    const bool onlyStills = options.videoPath.empty() && options.wavPath.empty() && !options.everyFrame &&
                            !options.bands && stillsWritten > 0;
    if (onlyStills) {
        // The range only decided where the run stops: the stills are what it wrote.
        const long drawn = std::max(framesPresented - 1, 0L);
        std::fprintf(stderr, "tessera-render: %s%s (%ld frame%s drawn in %.1f s, %.0f fps)\n", interrupted.c_str(),
                     stills.c_str(), drawn, drawn == 1 ? "" : "s", seconds, rate);
        return true;
    }
    std::string files;
    if (!options.videoPath.empty()) files += "; " + options.videoPath + " " + megabytes(capture.videoBytes);
    if (!options.wavPath.empty()) files += "; " + options.wavPath + " " + megabytes(capture.wavBytes);
    if (options.everyFrame) files += "; PNG files in " + options.outDir;
    if (stillsWritten > 0) files += "; " + stills;
    std::fprintf(stderr, "tessera-render: %s%ld frames (%.3f s at %d fps) in %.1f s (%.0f fps)%s\n",
                 interrupted.c_str(), framesInRange, double(framesInRange) / options.fps, options.fps, seconds, rate,
                 files.c_str());
    return true;
}

// The name of a stop signal, without the library (sigabbrev_np is not
// promised to be safe in a handler).
const char* stopSignalName(int signal) {
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : signal == SIGHUP ? "SIGHUP" : "a signal";
}

// Appends `text` to the line being built in a handler.
void appendSafe(char* line, size_t size, const char* text) {
    size_t used = std::strlen(line);
    while (*text && used + 1 < size) line[used++] = *text++;
    line[used] = 0;
}

// Ends the run from a signal handler: removes the unfinished files (regular
// files only), says why in one line and exits with 128 + the first signal.
// Async-signal-safe throughout; a second thread that gets here waits for the
// first to end the process.
[[noreturn]] void endAtOnceFromHandler(int first, int now, bool second) {
    static std::atomic<bool> ending{false};
    if (ending.exchange(true))
        for (;;) pause();
    bool removed = false;
    for (int slot = 0; slot < kUnfinishedSlots; ++slot) {
        struct stat info {};
        if (unfinishedSet[slot] && stat(unfinishedPath[slot], &info) == 0 && S_ISREG(info.st_mode))
            removed = unlink(unfinishedPath[slot]) == 0 || removed;
    }
    char line[256] = "";
    if (showProgress) appendSafe(line, sizeof line, "\r\033[K");
    appendSafe(line, sizeof line, "tessera-render: interrupted by ");
    appendSafe(line, sizeof line, stopSignalName(first));
    if (second) {
        appendSafe(line, sizeof line, " and stopped at once by a second ");
        appendSafe(line, sizeof line, stopSignalName(now));
        appendSafe(line, sizeof line, removed ? "; the unfinished files were removed\n" : "\n");
    } else {
        appendSafe(line, sizeof line, " before the first frame; nothing was written\n");
    }
    ssize_t written = write(STDERR_FILENO, line, std::strlen(line));
    (void)written;
    _exit(128 + first);
}

void onStopSignal(int signal) {
    int first = 0;
    const bool isFirst = stopSignal.compare_exchange_strong(first, signal);
    if (isFirst && !endAtOnce) return;  // the frame loop ends the run at the next frame
    endAtOnceFromHandler(isFirst ? signal : first, signal, !isFirst);
}

// Does nothing: its only use is that the write that raised it fails with
// EPIPE or EFBIG instead of killing the renderer, so a closed pipe or a file
// size limit is a write error like a full disk, with its files cleaned up.
void onWriteSignal(int) {}

// SIGINT, SIGTERM and SIGHUP end the render cleanly; one that the process was
// started with ignored stays ignored (nohup, background jobs). SIGPIPE and
// SIGXFSZ turn into write errors.
void catchStopSignals() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = signal == SIGPIPE || signal == SIGXFSZ ? onWriteSignal : onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

// Whether frame `index` of the run has its picture taken: a frame of the
// range that goes to the video or a frame file (or is checked), or a still.
// All others are fast-forwarded.
bool pictureWanted(long index) {
    const bool inRange = index >= options.rangeFirst && index < options.rangeEnd;
    return (inRange && (!options.videoPath.empty() || options.everyFrame || options.check)) ||
           options.stillFrames.count(index);
}

// Called by presentFrame with the finished picture in the framebuffer. The
// position drawn is the clock of the previous update.
void onPresent() {
    drawnPosition = long(musicTimeMs);
    if (framesPresented++ == 0) return;  // the frame before any update
    const long frameIndex = framesPresented - 2;
    printProgress(frameIndex);
    if (frameIndex >= options.rangeFirst && frameIndex < options.rangeEnd) {
        ++framesInRange;
        if (captureIsOpen()) captureFrame(frameIndex);
        if (options.bands &&
            std::printf("%ld,%.9g,%.9g,%.9g\n", drawnPosition, bands.band100, bands.band150, bands.band250) < 0)
            bandsFailed(errno);
        if (options.everyFrame) {
            char name[32];
            std::snprintf(name, sizeof name, "frame-%06ld.png", frameIndex);
            writeFrame(name);
        }
    }
    // Each requested position gets the first frame drawn at or past it.
    while (!options.pngAt.empty() && *options.pngAt.begin() <= drawnPosition) {
        char name[32];
        std::snprintf(name, sizeof name, "at-%06ld.png", *options.pngAt.begin());
        writeFrame(name);
        ++stillsWritten;
        options.pngAt.erase(options.pngAt.begin());
    }
}

// No OpenGL error since the last check, and both matrix stacks back at
// depth 1. Errors pending now were raised by `what` (start-up, a frame);
// those the picture loader found pending before its uploads it has reported
// already, and they fail the check too.
bool glStateIsClean(const std::string& what) {
    const int now = reportPendingGlErrors("tessera-render", ("raised by " + what).c_str());
    const long earlier = glErrorsFound() - glErrorsChecked - now;
    glErrorsChecked = glErrorsFound();
    if (earlier > 0)
        std::fprintf(stderr, "tessera-render: --check fails on the %ld OpenGL error%s reported above\n", earlier,
                     earlier > 1 ? "s" : "");
    GLint modelview = 0, projection = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &modelview);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &projection);
    const bool stacksRight = modelview == 1 && projection == 1;
    if (!stacksRight)
        std::fprintf(stderr, "tessera-render: %s left the matrix stacks at depth %d (modelview) and %d (projection)\n",
                     what.c_str(), modelview, projection);
    return now == 0 && earlier <= 0 && stacksRight;
}

// After every frame with --check.
void checkFrame() {
    if (!glStateIsClean("the frame drawn at " + std::to_string(drawnPosition) + " ms")) failRun();
}

// The way out when the schedule ends the demo inside a frame's update (and
// after any other exit): the capture files are finished there. An exit
// before the schedule's end is a failure that has said why; its files go.
void onExit() {
    if (runFinished) {
        std::fflush(stdout);
        return;
    }
    if (musicTimeMs < kScheduleEndMs) {
        runFinished = true;
        if (captureIsOpen()) captureDiscard();
        return;
    }
    // The frame the schedule's end followed was presented but not yet
    // checked, and the bands may still sit in the buffer.
    const bool clean = !options.check || glStateIsClean("the frame drawn at " + std::to_string(drawnPosition) + " ms");
    if (!clean || !flushBands()) {
        if (clean) std::fprintf(stderr, "tessera-render: cannot write the bands to standard output: %s\n", std::strerror(errno));
        runFinished = true;
        if (captureIsOpen()) captureDiscard();
        std::fflush(stderr);
        _exit(1);
    }
    std::fprintf(stderr, "tessera-render: the schedule ended at %d ms\n", int(musicTimeMs));
    if (!finishRun(0)) {
        std::fflush(stderr);
        _exit(1);  // exit() may not be called again from here
    }
}

// A piece cut short is of no use to the join: it goes, whatever stopped it.
[[noreturn]] void pieceInterrupted(int signal) {
    runFinished = true;
    if (captureIsOpen()) captureDiscard();
    if (showProgress) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "tessera-render: interrupted by SIG%s; the unfinished piece was deleted\n", sigabbrev_np(signal));
    std::exit(128 + signal);
}

// The encoding of --video, and for a piece the tag the join reads.
MediaOptions mediaOptions() {
    MediaOptions media;
    media.preset = options.preset;
    if (options.parts) {
        media.sound = false;
        media.pieceTag = ownPieceTag();
    }
    return media;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && !std::strcmp(argv[1], "--join")) return joinMain(argc - 2, argv + 2);
    parseOptions(argc, argv);
    anchorOutputPaths();
    if (!enterDataDir("tessera-render", TESSERA_BUILD_ROOT, TESSERA_BUILD_DATA, TESSERA_INSTALLED_DATA)) return 1;
    checkOutputs();
    // The stepped clock never starts SDL's audio; should anything start it,
    // its own SIGINT and SIGTERM handlers must not take over from ours.
    setenv("SDL_NO_SIGNAL_HANDLERS", "1", 1);
    catchStopSignals();
    if (options.jobs > 1) {
        // The runner polls the first stop signal and stops its parts itself;
        // a second one ends it at once, and the parts follow their parent.
        endAtOnce = 0;
        return runJobs(argc, argv, options.videoPath, options.jobs, options.preset, &stopSignal);
    }
    started = Clock::now();  // the progress line first shows at the first frame
    showProgress = isatty(STDERR_FILENO);
    framesToDraw = options.lastFrame + 1;

    std::string reason;
    if (!musicFileIsPlayable(kMusicPath, &reason)) {
        char cwd[4096];
        std::fprintf(stderr, "tessera-render: cannot play \"%s\" in the working directory %s: %s\n", kMusicPath,
                     getcwd(cwd, sizeof cwd) ? cwd : "(unknown)", reason.c_str());
        return 1;
    }
    // Before anything is drawn: a path that cannot be written fails at once.
    markUnfinished(kUnfinishedVideo, options.videoPath);
    markUnfinished(kUnfinishedWav, options.wavPath);
    if ((!options.videoPath.empty() || !options.wavPath.empty()) &&
        !captureOpen(options.videoPath, options.wavPath, options.width, options.height, options.fps, &reason,
                     mediaOptions())) {
        std::fprintf(stderr, "tessera-render: %s\n", reason.c_str());
        return 1;
    }
    if (!options.outDir.empty() && !folderIsWritable(options.outDir, &reason)) {
        std::fprintf(stderr, "tessera-render: cannot write to %s: %s\n", options.outDir.c_str(), reason.c_str());
        failRun();
    }
    if (!offscreenCreate(options.width, options.height, &reason)) {
        std::fprintf(stderr, "tessera-render: no offscreen OpenGL: %s\n", reason.c_str());
        failRun();
    }
    usePictureLayout(layoutPicture(options.width, options.height, options.native));
    if (options.bands && std::printf("ms,band100,band150,band250\n") < 0) bandsFailed(errno);
    std::atexit(onExit);

    musicUseSteppedClock();
    runStartup();
    if (options.check && !glStateIsClean("start-up")) failRun();
    offscreenPresentHook = onPresent;
    endAtOnce = 0;  // from here on the frame loop acts on a first stop signal
    for (long frame = 0;; ++frame) {
        if (const int signal = stopSignal.load()) {
            if (options.parts) pieceInterrupted(signal);
            std::exit(finishRun(signal) ? 128 + signal : 1);
        }
        if (captureIsOpen() && captureFailed(&reason)) {
            if (showProgress) std::fputs("\r\033[K", stderr);
            std::fprintf(stderr, "tessera-render: %s; the capture stopped and its unfinished files were deleted\n",
                         reason.c_str());
            failRun();
        }
        if (framesPresented - 2 >= options.lastFrame) break;
        musicSetSteppedTime(int(frame * 1000 / options.fps));
        fastForwardFrame(pictureWanted(frame - 1));  // this pass presents frame - 1
        runFrame();
        if (options.check) checkFrame();
    }
    if (!flushBands()) bandsFailed(errno);
    return finishRun(0) ? 0 : 1;
}
