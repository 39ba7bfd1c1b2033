// tessera-bench-sync -- how far the sound heard lies behind the music clock.
//
// For each output setting (the server's default latency, and
// PULSE_LATENCY_MSEC=250, which stands in for a high-latency output such as
// Bluetooth headphones) a private PulseAudio server with a null sink is
// started, the test glide plays through it, and the sink's monitor is
// recorded. The glide's frequency rises steadily, so each 50 ms of the
// recording tells the position played; the clock is read as that stretch
// arrives. Prints, of (clock - position heard) over the run, positive when
// the picture runs ahead of the sound: the mean; the worst mean of half a
// second (what a viewer could notice); the worst single reading, which is
// mostly the recording's own scatter (the null sink hands its monitor whole
// blocks, and the recorder gets them in 10 ms fragments). Then how evenly the
// clock itself runs against the wall clock (the standard deviation of their
// difference, its 1 ms steps included): a clock that saws shows as uneven
// motion even where its mean is right.
//
// usage: tessera-bench-sync [SECONDS]   (default 20)
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The glide's position (ms) at the middle of the window that ends the
// block: it rises 8 bins a second from bin 20. Negative for silence.
double glidePositionMs(const int16_t* window) {
    std::vector<float> bins(kSpectrumBins);
    computeSpectrum(window, bins.data());
    int peak = 1;
    for (int k = 1; k < kSpectrumBins - 1; ++k)
        if (bins[k] > bins[peak]) peak = k;
    const double a = bins[peak - 1], b = bins[peak], c = bins[peak + 1];
    if (b < 0.1) return -1;
    const double bin = peak + 0.5 * (a - c) / (a - 2 * b + c);
    return (bin - 20.0) / 8.0 * 1000;
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
    const Clock::time_point start = Clock::now();
    double sum = 0, worst = 0, worstHalf = 0, halfSum = 0;
    int count = 0, late = 0, halfCount = 0;
    std::vector<double> ahead;  // clock - wall clock, ms
    while (pipe && secondsSince(start) < 4 + seconds) {
        std::copy(pcm.end() - kSpectrumWindow * 2, pcm.end(), pcm.begin());
        if (std::fread(pcm.data() + kSpectrumWindow * 2, 4, kBlock, pipe) != size_t(kBlock)) break;
        const int clock = musicGetTime(stream);
        // A reading taken late (this process was not running when the
        // recording arrived, and more of it waits) would count the delay as
        // sound behind the clock: it is left out.
        int waiting = 0;
        if (ioctl(fileno(pipe), FIONREAD, &waiting) != 0 || waiting > kMusicRate * 4 / 100) {
            ++late;
            continue;
        }
        const double heard = glidePositionMs(pcm.data() + kBlock * 2);
        // The first seconds settle the server. The glide repeats every 30 s:
        // the clock tells which time round.
        // A window across the glide's restart reads no one position.
        if (secondsSince(start) < 4 || heard < 100 || heard > 29900) continue;
        double played = heard + 500.0 * kSpectrumWindow / kMusicRate;
        played += 30000 * std::round((clock - played) / 30000);
        const double behind = clock - played;
        sum += behind;
        if (count == 0 || std::abs(behind) > std::abs(worst)) worst = behind;
        ++count;
        halfSum += behind;
        if (++halfCount == 10) {  // 10 readings of 50 ms
            if (std::abs(halfSum / 10) > std::abs(worstHalf)) worstHalf = halfSum / 10;
            halfSum = 0;
            halfCount = 0;
        }
        ahead.push_back(clock - 1000 * secondsSince(start));
    }
    if (pipe) pclose(pipe);
    double aheadMean = 0, aheadSquares = 0;
    for (double a : ahead) aheadMean += a / double(std::max<size_t>(ahead.size(), 1));
    for (double a : ahead) aheadSquares += (a - aheadMean) * (a - aheadMean);
    const double uneven = std::sqrt(aheadSquares / double(std::max<size_t>(ahead.size(), 1)));
    std::printf("%-24s mean %5.1f ms   worst half second %5.1f ms   worst reading %6.1f ms   "
                "clock uneven by %.1f ms   (%d readings over %.0f s, %d late ones left out)\n",
                latency ? "PULSE_LATENCY_MSEC=250:" : "default latency:", count ? sum / count : 0.0, worstHalf,
                worst, uneven, count, seconds, late);
    std::fflush(stdout);
    musicClose(stream);
    musicShutdown();
    std::exit(count ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    if (seconds <= 0 || seconds > 80) {
        std::fprintf(stderr, "usage: tessera-bench-sync [SECONDS from 1 to 80]\n");
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
            std::fprintf(stderr, "tessera-bench-sync: no figures for %s\n", latency ? latency : "the default");
            ++failures;
        }
        kill(server, SIGKILL);
        std::filesystem::remove_all(dir);
    }
    return failures ? 1 : 0;
}
