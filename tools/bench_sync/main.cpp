// tessera-bench-sync -- how far the sound heard lies behind the music clock.
//
// For each output setting (the server's default latency, and
// PULSE_LATENCY_MSEC=250, which stands in for a high-latency output such as
// Bluetooth headphones) a private PulseAudio server with a null sink is
// started, the test glide plays through it, and the sink's monitor is
// recorded. The glide's frequency rises steadily, so each 50 ms of the
// recording tells the position recorded, and less the sink's latency the
// position heard (glide_monitor.h); the clock is read as that stretch
// arrives. Prints, of (clock - position heard) over the run, positive when
// the picture runs ahead of the sound: the mean; the worst mean of half a
// second (what a viewer could notice); the worst single reading, which is
// mostly the recording's own scatter (the null sink hands its monitor whole
// blocks, and the recorder gets them in 10 ms fragments). Then how evenly the
// clock itself runs against the wall clock (the standard deviation of their
// difference, its 1 ms steps included): a clock that saws shows as uneven
// motion even where its mean is right. Last, the sink's latency taken off.
//
// usage: tessera-bench-sync [SECONDS] [--within MS]   (default 20 s)
// With --within it exits 1 when either mean lies further than MS from 0,
// as the test run uses it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/music.h"
#include "audio/spectrum.h"
#include "glide_monitor.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The mean allowed either way, or 0 for none (--within).
double withinMs = 0;

// Samples our stream's sink latency about every 100 ms until told to stop.
std::atomic<bool> sampling{true};
void sampleSinkLatency(std::vector<double>* samples) {
    while (sampling.load()) {
        if (const double ms = sinkLatencyNowMs(); ms >= 0) samples->push_back(ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// In a child of its own (the music layer is one per process): plays through
// the server at `dir` and prints one line of figures.
[[noreturn]] void measure(const std::string& dir, const char* latency, double seconds) {
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    setenv("PULSE_SERVER", ("unix:" + dir + "/native").c_str(), 1);
    if (latency) setenv("PULSE_LATENCY_MSEC", latency, 1);
    if (!musicInit(kMusicRate)) std::exit(1);
    MusicStream* stream = musicOpen(TESSERA_TESTDATA_DIR "/glide.mp3");
    if (!stream) std::exit(1);
    musicSetTime(stream, 0);
    musicPlay(stream);
    // The recorder asks for the server's small default fragments whatever
    // the player's own setting.
    FILE* pipe = popen("env -u PULSE_LATENCY_MSEC parec --raw --format=s16le --rate=44100 --channels=2 "
                       "--latency-msec=10 -d null.monitor 2>/dev/null",
                       "r");
    constexpr int kBlock = 2205;
    std::vector<int16_t> pcm((kSpectrumWindow + kBlock) * 2);
    std::vector<double> sinkLatency;
    std::thread sampler(sampleSinkLatency, &sinkLatency);
    const Clock::time_point start = Clock::now();
    std::vector<double> behind;  // clock - position recorded, ms
    std::vector<double> ahead;   // clock - wall clock, ms
    while (pipe && secondsSince(start) < 4 + seconds) {
        std::copy(pcm.end() - kSpectrumWindow * 2, pcm.end(), pcm.begin());
        if (!readRecording(pipe, pcm.data() + kSpectrumWindow * 2, kBlock * 4)) break;
        const int clock = musicGetTime(stream);
        const double glide = glideEndMs(pcm.data() + kBlock * 2);
        const double recorded = glide + recordingWaitingMs(pipe);
        // The first seconds settle the server. A window across the glide's
        // restart reads no one position.
        if (secondsSince(start) < 4 || glide < 100 || recorded > 29900) continue;
        behind.push_back(clockAheadOf(clock, recorded));
        ahead.push_back(clock - 1000 * secondsSince(start));
    }
    sampling.store(false);
    sampler.join();
    if (pipe) pclose(pipe);
    // The first fifth of the sink's latencies (the seconds the readings skip)
    // is left out: a null sink starts with a long one.
    const double sink = medianMs(std::vector<double>(sinkLatency.begin() + long(sinkLatency.size() / 5),
                                                     sinkLatency.end()));
    double sum = 0, worst = 0, worstHalf = 0;
    for (size_t k = 0; k < behind.size(); ++k) {
        behind[k] += sink;
        sum += behind[k];
        if (std::abs(behind[k]) > std::abs(worst)) worst = behind[k];
        if (k % 10 == 9) {  // 10 readings of 50 ms
            double half = 0;
            for (size_t j = k - 9; j <= k; ++j) half += behind[j] / 10;
            if (std::abs(half) > std::abs(worstHalf)) worstHalf = half;
        }
    }
    const size_t count = behind.size();
    double aheadMean = 0, aheadSquares = 0;
    for (double a : ahead) aheadMean += a / double(std::max<size_t>(ahead.size(), 1));
    for (double a : ahead) aheadSquares += (a - aheadMean) * (a - aheadMean);
    const double uneven = std::sqrt(aheadSquares / double(std::max<size_t>(ahead.size(), 1)));
    std::printf("%-24s mean %5.1f ms   worst half second %5.1f ms   worst reading %6.1f ms   "
                "clock uneven by %.1f ms   (%zu readings over %.0f s; sink latency %.1f ms)\n",
                latency ? "PULSE_LATENCY_MSEC=250:" : "default latency:", count ? sum / double(count) : 0.0,
                worstHalf, worst, uneven, count, seconds, sink);
    std::fflush(stdout);
    musicClose(stream);
    musicShutdown();
    if (count && withinMs > 0 && std::abs(sum / double(count)) > withinMs) {
        std::fprintf(stderr, "tessera-bench-sync: the mean lies beyond %g ms\n", withinMs);
        std::exit(3);
    }
    std::exit(count ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    if (argc == 4 && std::string(argv[2]) == "--within") withinMs = std::atof(argv[3]);
    if (seconds < 1 || seconds > 80 || (argc != 1 && argc != 2 && !(argc == 4 && withinMs > 0))) {
        std::fprintf(stderr, "usage: tessera-bench-sync [SECONDS from 1 to 80] [--within MS]\n");
        return 2;
    }
    std::printf("sound heard behind the music clock (positive: the picture runs ahead)\n");
    std::fflush(stdout);  // before the children fork
    int failures = 0;
    for (const char* latency : {static_cast<const char*>(nullptr), "250"}) {
        char name[] = "/tmp/tessera_bench_sync_XXXXXX";
        const std::string dir = mkdtemp(name);
        const std::string start = "HOME=" + dir + " XDG_RUNTIME_DIR=" + dir +
                                  " pulseaudio --daemonize=yes --exit-idle-time=-1 -n --disable-shm=yes"
                                  " -L module-null-sink -L 'module-native-protocol-unix socket=" +
                                  dir + "/native auth-anonymous=1' 2>>" + dir + "/log";
        pid_t server = 0;
        if (std::system(start.c_str()) != 0 || !(std::ifstream(dir + "/pulse/pid") >> server)) {
            std::fprintf(stderr, "tessera-bench-sync: cannot start pulseaudio (see %s/log)\n", dir.c_str());
            return 1;
        }
        const pid_t child = fork();
        if (child == 0) measure(dir, latency, seconds);
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 3)
                std::fprintf(stderr, "tessera-bench-sync: no figures for %s\n", latency ? latency : "the default");
            ++failures;
        }
        kill(server, SIGKILL);
        std::filesystem::remove_all(dir);
    }
    return failures ? 1 : 0;
}
