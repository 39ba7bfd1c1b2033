// tessera-bench-capture -- what capturing to video costs on top of rendering.
//
// Runs tessera-render twice over the same frames in the build's assets/:
// once drawing only, once capturing to an MP4 (H.264 and AAC), and prints
// each run's wall and CPU time, its frame rate, its speed against real time,
// and what encoding adds. The renderer's own progress line shows on a
// terminal while each run goes.
//
// usage: tessera-bench-capture [--fps N] [--size WxH] [--to MS]
//        (default: the whole demo at 60 fps, 640x480)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "state/schedule.h"

namespace {

constexpr long kScheduleEndMs = schedule::kEndMs;

struct RunFigures {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    bool ok = false;
};

// Runs the renderer with `args` in the assets directory and times it.
RunFigures runRenderer(const std::vector<std::string>& args) {
    RunFigures figures;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(TESSERA_ASSETS_DIR) != 0) _exit(127);
        std::vector<char*> argv{const_cast<char*>(TESSERA_RENDER_PATH)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(TESSERA_RENDER_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return figures;
    figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return figures;
}

void printRun(const char* name, const RunFigures& run, long frames, double demoSeconds) {
    std::printf("%-14s %8.1f s wall %8.1f s CPU %7.0f fps %7.2f x real time\n", name, run.wallSeconds,
                run.cpuSeconds, frames / run.wallSeconds, demoSeconds / run.wallSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    std::string fps = "60", size = "640x480";
    long to = kScheduleEndMs;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--fps")) fps = argv[i + 1];
        else if (!std::strcmp(argv[i], "--size")) size = argv[i + 1];
        else if (!std::strcmp(argv[i], "--to")) to = std::atol(argv[i + 1]);
    }
    if (argc % 2 == 0 || std::atoi(fps.c_str()) < 1 || to < 1) {
        std::fprintf(stderr, "usage: tessera-bench-capture [--fps N] [--size WxH] [--to MS]\n");
        return 2;
    }
    // The frames drawn before --to (not included), as the renderer counts them.
    const long frames = long(((long long)std::min(to, kScheduleEndMs) * std::atoi(fps.c_str()) + 999) / 1000);
    const double demoSeconds = double(frames) / std::atoi(fps.c_str());
    char dir[] = "/tmp/tessera-bench-capture-XXXXXX";
    if (!mkdtemp(dir)) {
        std::perror("tessera-bench-capture: mkdtemp");
        return 1;
    }
    const std::string video = std::string(dir) + "/capture.mp4";
    // The drawing-only run is the renderer's dry run, which needs --check;
    // the capture takes it too, so that both runs do the same work but the
    // encoding.
    std::vector<std::string> common{"--fps", fps, "--size", size, "--to", std::to_string(to), "--check"};
    std::vector<std::string> capture = common;
    capture.insert(capture.end(), {"--video", video});

    std::printf("tessera-bench-capture: %ld frames (%.1f s of the demo) at %s fps, %s\n", frames, demoSeconds,
                fps.c_str(), size.c_str());
    std::fflush(stdout);
    const RunFigures renderOnly = runRenderer(common);
    const RunFigures captured = runRenderer(capture);
    struct stat info {};
    const double megabytes = stat(video.c_str(), &info) == 0 ? double(info.st_size) / 1e6 : 0;
    unlink(video.c_str());
    rmdir(dir);
    if (!renderOnly.ok || !captured.ok) {
        std::fprintf(stderr, "tessera-bench-capture: a run of tessera-render failed\n");
        return 1;
    }
    printRun("render only", renderOnly, frames, demoSeconds);
    printRun("capture", captured, frames, demoSeconds);
    const double added = (captured.wallSeconds - renderOnly.wallSeconds) / renderOnly.wallSeconds * 100;
    std::printf("encoding adds %.0f%% to the render-only time (%.1f s); the file is %.1f MB\n", added,
                captured.wallSeconds - renderOnly.wallSeconds, megabytes);
    std::printf("capture at least half real time: %s; encoding adds at most a quarter: %s\n",
                captured.wallSeconds <= 2 * demoSeconds ? "yes" : "no", added <= 25 ? "yes" : "no");
    return 0;
}
