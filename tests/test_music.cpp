// The music layer: spectrum, stepped and real-time clocks, bad files, the
// device clock's arithmetic.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "audio/music.h"
#include "audio/output_clock.h"
#include "audio/spectrum.h"

namespace {

const std::string kTestData = TESSERA_TESTDATA_DIR;
constexpr double kBinHz = 44100.0 / 1024.0;

// The spectrum of a stereo window, both channels the source's frames
// first..first+window-1, clamped to the 16-bit range.
std::vector<float> spectrumOf(const std::function<double(long)>& source, long first = 0) {
    std::vector<int16_t> window(kSpectrumWindow * 2);
    for (int n = 0; n < kSpectrumWindow; ++n)
        window[2 * n] = window[2 * n + 1] =
            int16_t(std::lround(std::clamp(source(first + n), -1.0, 32767.0 / 32768) * 32768));
    std::vector<float> out(kSpectrumBins);
    computeSpectrum(window.data(), out.data());
    return out;
}

// A sine centred on a bin.
double binSine(double bin, double amplitude, long frame) {
    return amplitude * std::sin(2 * M_PI * bin * kBinHz * double(frame) / 44100.0);
}

// The onset test file's source: silence, a bin-100 sine from frame 22050,
// a bin-250 sine from frame 66150, 3 s in all (see tools/testmusic).
double onsetSource(long frame) {
    if (frame < 22050 || frame >= 132300) return 0;
    return frame < 66150 ? binSine(100, 0.5, frame - 22050) : binSine(250, 0.5, frame - 66150);
}

// Opens a test file (by name, or a full path) on the stepped clock, as the
// offline renderer does.
MusicStream* openStepped(const std::string& name) {
    musicUseSteppedClock();
    musicInit(kMusicRate);
    MusicStream* stream = musicOpen((name[0] == '/' ? name : kTestData + "/" + name).c_str());
    musicSetTime(stream, 0);
    musicPlay(stream);
    musicEnableSpectrum();
    return stream;
}

}  // namespace

TEST(Spectrum, FullScaleSineCentredOnABinReadsOne) {
    for (auto [k, amplitude] : {std::pair{100, 1.0}, {150, 0.5}, {250, 0.25}, {37, 0.8}}) {
        const std::vector<float> out = spectrumOf([&](long frame) { return binSine(k, amplitude, frame); });
        EXPECT_NEAR(out[k], amplitude, 2e-3) << "bin " << k;
        EXPECT_NEAR(out[k - 1], amplitude / 2, 2e-3) << "Hann neighbour of " << k;
        EXPECT_NEAR(out[k + 1], amplitude / 2, 2e-3);
        for (int j = 0; j < kSpectrumBins; ++j)
            EXPECT_TRUE(std::abs(j - k) <= 2 || out[j] < 1e-3) << "leak into bin " << j << " from " << k;
    }
}

TEST(Spectrum, SilenceReadsZeroAndLoudnessIsClamped) {
    std::vector<int16_t> silence(kSpectrumWindow * 2, 0);
    std::vector<float> out(kSpectrumBins, 7.0f);
    computeSpectrum(silence.data(), out.data());
    for (float value : out) EXPECT_EQ(value, 0.0f);

    // Full-scale square-ish stereo at DC: bin 0 would exceed 1.
    std::vector<int16_t> loud(kSpectrumWindow * 2, 32767);
    computeSpectrum(loud.data(), out.data());
    EXPECT_EQ(out[0], 1.0f);
}

// The decoded samples line up with the synthesised source to the frame: the
// spectrum at each stepped position matches the source's own spectrum there,
// through the onset edges, where an encoder offset of even a few ms would
// show. A position comes back bit for bit; past the end the spectrum, at the
// same address, reads zero.
TEST(SteppedClock, PositionAndSpectrumAgreeWithTheSourceAndRepeat) {
    MusicStream* stream = openStepped("onset.mp3");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(musicDecodedFrames(stream), 132300) << "gapless decoding trims the encoder delay and padding";
    for (int ms : {100, 495, 503, 508, 512, 516, 520, 530, 1000, 1495, 1503, 1510, 1520, 2000, 2990, 3010, 3100}) {
        musicSetSteppedTime(ms);
        EXPECT_EQ(musicGetTime(stream), ms);
        const std::vector<float> expected = spectrumOf(onsetSource, long(ms) * 44100 / 1000 - kSpectrumWindow);
        const float* actual = musicSpectrum();
        for (int bin : {100, 150, 250})
            EXPECT_NEAR(actual[bin], expected[bin], 0.01) << "bin " << bin << " at " << ms << " ms";
    }
    musicSetSteppedTime(1234);
    const std::vector<float> first(musicSpectrum(), musicSpectrum() + kSpectrumBins);
    musicSetSteppedTime(2222);
    musicSpectrum();
    musicSetSteppedTime(1234);
    EXPECT_EQ(std::memcmp(first.data(), musicSpectrum(), kSpectrumBins * sizeof(float)), 0);
    const float* pointer = musicSpectrum();
    for (int ms : {3100, 60000, 259999}) {
        musicSetSteppedTime(ms);
        EXPECT_EQ(musicSpectrum(), pointer) << "the pointer stays valid";
        for (int k = 0; k < kSpectrumBins; ++k) ASSERT_EQ(pointer[k], 0.0f) << "bin " << k << " at " << ms;
        EXPECT_EQ(musicGetTime(stream), ms);
    }
    musicClose(stream);
}

TEST(MusicFiles, UnplayableFilesAreRefusedWithAReason) {
    const std::string dir = testing::TempDir();
    std::ofstream(dir + "/text.mp3") << "this is not music\n";
    std::ofstream(dir + "/empty.mp3").close();
    std::filesystem::create_directories(dir + "/folder.mp3");
    for (const auto& c : {std::pair{dir + "/missing.mp3", "No such file"}, {dir + "/text.mp3", "not a playable"},
                          {dir + "/empty.mp3", "the file is empty"}, {dir + "/folder.mp3", "it is a directory"}}) {
        std::string reason;
        EXPECT_FALSE(musicFileIsPlayable(c.first.c_str(), &reason)) << c.first;
        EXPECT_NE(reason.find(c.second), std::string::npos) << c.first << ": " << reason;
        testing::internal::CaptureStderr();
        EXPECT_EQ(musicOpen(c.first.c_str()), nullptr);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(c.first), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
    std::string reason;
    EXPECT_TRUE(musicFileIsPlayable((kTestData + "/tone.mp3").c_str(), &reason)) << reason;
}

// A real-time clock over 2.6 s of a 2 s file, in a child (the clock kind is per
// process): rising with wall time, never back, on past the end, spectrum 0.
static void playAndWatch(const char* driver, const std::string& path = kTestData + "/silence.mp3") {
    setenv("SDL_AUDIODRIVER", driver, 1);
    musicInit(kMusicRate);
    MusicStream* stream = musicOpen(path.c_str());
    musicSetTime(stream, 0);
    const auto start = std::chrono::steady_clock::now();
    musicPlay(stream);
    musicEnableSpectrum();
    int last = 0;
    for (int i = 0; i < 130; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int now = musicGetTime(stream);
        if (now < last) std::exit(10);
        last = now;
    }
    const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // Never ahead of the wall clock; behind it by the device's buffer plus
    // whatever a loaded machine delays the audio thread.
    if (last > wall + 30 || last < wall - 400 || last < 2100) {
        std::fprintf(stderr, "clock %d ms after %.0f ms of wall time\n", last, wall);
        std::exit(11);
    }
    const float* spectrum = musicSpectrum();
    for (int k = 0; k < kSpectrumBins; ++k)
        if (spectrum[k] != 0.0f) std::exit(12);
    musicClose(stream);
    musicShutdown();
    std::exit(0);
}

namespace {

std::string writeTemp(const std::string& name, const std::vector<char>& bytes) {
    const std::string path = testing::TempDir() + "/" + name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

// Damaged copies of tone.mp3 (3 s of the bin-100 sine, 122 KB): 20000 bytes of
// noise a third in, the same stretch cut out, and noise from there to the end.
enum class Damage { Overwritten, CutOut, GarbageToTheEnd };

std::string damagedTone(Damage damage) {
    std::ifstream in(kTestData + "/tone.mp3", std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    const size_t from = bytes.size() / 3, to = damage == Damage::GarbageToTheEnd ? bytes.size() : from + 20000;
    uint32_t seed = 12345;
    for (size_t i = from; i < to && damage != Damage::CutOut; ++i) bytes[i] = char((seed = seed * 1103515245u + 12345u) >> 23);
    if (damage == Damage::CutOut) bytes.erase(bytes.begin() + from, bytes.begin() + to);
    return writeTemp("damaged" + std::to_string(int(damage)) + ".mp3", bytes);
}

}  // namespace

// The music after a damaged stretch still plays, said in one line of ours
// (the decoder library may add its own), and the damage is not played as
// noise: every window but at the seam is the clean sine.
TEST(DamagedMusic, PlaysOnPastTheDamageWithoutNoise) {
    struct Case {
        Damage damage;
        long long leastFrames, mostFrames;  // intact: 132300 frames; 20000 bytes are 21650 frames
    } cases[] = {{Damage::Overwritten, 107000, 112000},
                 {Damage::CutOut, 107000, 112000},
                 {Damage::GarbageToTheEnd, 42000, 46000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.damage));
        testing::internal::CaptureStderr();
        MusicStream* stream = openStepped(damagedTone(c.damage));
        const long long frames = musicDecodedFrames(stream);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("is damaged 1.0 s in; the music plays on from the next good frame\n"), std::string::npos)
            << said;
        EXPECT_EQ(said.find("tessera:"), said.rfind("tessera:")) << said;
        EXPECT_GE(frames, c.leastFrames);
        EXPECT_LE(frames, c.mostFrames);
        int unclean = 0;
        for (int ms = 100; ms <= frames * 1000 / kMusicRate; ms += 50) {
            musicSetSteppedTime(ms);
            const float* spectrum = musicSpectrum();
            unclean += spectrum[100] < 0.9f || spectrum[150] > 0.02f || spectrum[250] > 0.02f;
        }
        EXPECT_LE(unclean, 2) << "windows that are not the clean sine";
        musicClose(stream);
    }
}

// Without a device the clock runs silently, saying so; through one it
// follows playback; and a file that turns to garbage a second in plays its
// second while the clock runs on past it, with the wall clock.
TEST(RealTimeClockDeathTest, RisesWithTheWallClockWithOrWithoutADeviceAndPastGarbage) {
    EXPECT_EXIT(playAndWatch("no-such-driver"), testing::ExitedWithCode(0),
                "^tessera: no audio output \\(.*\\); the music plays silently on a real-time clock\n$");
    EXPECT_EXIT(playAndWatch("dummy"), testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(playAndWatch("dummy", damagedTone(Damage::GarbageToTheEnd)), testing::ExitedWithCode(0),
                "tessera: .* is damaged 1\\.0 s in");
}

// Hangs the fuzzers found, under an alarm: a short stream that ended between
// the decoder waiter's last look and its sleep left it asleep (many short
// streams give that moment many chances), and the kept regressions.
TEST(MusicFilesDeathTest, WhatOnceHungNowEndsPromptly) {
    std::ifstream in(kTestData + "/tone.mp3", std::ios::binary);
    std::vector<char> bytes(4000);
    in.read(bytes.data(), 4000);
    std::vector<std::string> paths(2000, writeTemp("short.mp3", bytes));
    for (const auto& file : std::filesystem::directory_iterator(
             std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz/regressions/music"))
        paths.push_back(file.path());
    EXPECT_EXIT(
        {
            alarm(60);
            musicUseSteppedClock();
            musicInit(kMusicRate);
            std::string reason;
            for (const std::string& path : paths) {
                if (!musicFileIsPlayable(path.c_str(), &reason)) continue;
                MusicStream* stream = musicOpen(path.c_str());
                musicDecodedFrames(stream);
                musicClose(stream);
            }
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

// The device clock's arithmetic, without a device or a server.
TEST(OutputClock, LatencyReadingsAreSmoothedJumpsTakenAndToldOnce) {
    struct Case {
        const char* what;
        std::vector<double> readings;
        double expectMs, tolerance;
        int told;  // how many readings asked for the line on stderr
    } cases[] = {
        {"one reading is not trusted yet", {300}, 23.2, 0, 0},
        {"the third reading is, with the first (the wild one left out)", {45, 300, 46}, 45.5, 0, 0},
        {"jitter is smoothed to its middle", {40, 50, 40, 50, 40, 50, 45, 45, 45, 45}, 45, 3, 0},
        {"a stray late reading moves nothing", {40, 40, 40, 40, 400, 40, 40}, 40, 0.01, 0},
        {"a rise of 200 ms (another output) is taken at once, told once",
         {40, 40, 40, 240, 240, 240, 240, 240, 240, 240},
         240,
         0.01,
         1},
        {"a fall is taken and told too", {250, 250, 250, 250, 30, 30, 30, 30, 30}, 30, 0.01, 2},
        {"a sawing reading counts at its middle, though the newest lie on its top",
         {130, 132, 134, 136, 138, 140, 130, 132, 134, 136, 138, 140, 130, 132, 134, 136, 138, 140, 140, 139, 140},
         135.6,
         0.5,
         1},
        {"a slow drift of 60 ms in all is followed and told once",
         {40, 50, 60, 70, 80, 90, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100},
         100,
         3,
         1},
    };
    for (const Case& c : cases) {
        LatencyFilter filter;
        latencyReset(&filter, 23.2);
        int told = 0;
        for (double reading : c.readings) told += latencyAdd(&filter, reading);
        EXPECT_NEAR(filter.ms, c.expectMs, c.tolerance) << c.what;
        EXPECT_EQ(told, c.told) << c.what;
        EXPECT_EQ(filter.measured, c.readings.size() >= kLatencyFirst) << c.what;
    }
    // Before enough readings the assumed latency counts, and a reset
    // forgets what was read.
    LatencyFilter filter;
    for (int i = 0; i < kLatencyWindow; ++i) latencyAdd(&filter, 300);
    latencyReset(&filter, 23.2);
    EXPECT_FALSE(filter.measured);
    EXPECT_DOUBLE_EQ(filter.ms, 23.2);
}

TEST(OutputClock, HeardFrameCountsTheLineLatencyAndOffset) {
    struct Case {
        const char* what;
        double line;
        int64_t handed;
        double latencyMs;
        int offsetMs;
        int64_t expect;
    } cases[] = {
        {"SDL's buffer alone, at the callback", 441000, 441000, 1000.0 * 1024 / 44100, 0, 441000 - 1024},
        {"the line between callbacks", 441441, 441000, 1000.0 * 1024 / 44100, 0, 441441 - 1024},
        {"never beyond what was handed over", 441000 + 4410, 441000, 23.2, 0, 441000},
        {"a server's 250 ms", 441000, 441000, 250, 0, 441000 - 11025},
        {"--audio-offset 100 shows the picture later", 441000, 441000, 250, 100, 441000 - 11025 - 4410},
        {"--audio-offset -100 earlier, past what was handed over", 441000 + 4410, 441000, 23.2, -100, 441000 + 4410},
        {"before the music's start the frame is negative", 1024, 1024, 250, 0, 1024 - 11025},
    };
    for (const Case& c : cases)
        EXPECT_EQ(deviceHeardFrame(c.line, c.handed, c.latencyMs, c.offsetMs, 44100), c.expect) << c.what;
}

// Callbacks of 1024 frames on a sound server's grid of requests: it asks
// for 882 frames every 20 ms, and SDL's next callback comes with the request
// that takes the last of its buffer (20 or 40 ms apart, 23.2 ms on
// average). Counted from the last callback, the frames handed saw by a
// request's length against a steady run; the line runs within a millisecond
// or two of it. A callback far off the line (a stall, a seek) starts it
// again there.
TEST(OutputClock, TheHandedLineRunsEvenlyThroughCallbacksOnARequestGrid) {
    constexpr int kRate = 44100;
    HandedLine line;
    int64_t handed = 0, micros = 0;
    // The steady run through the callbacks: the mean of handed - rate * time.
    std::vector<std::pair<int64_t, int64_t>> callbacks;
    for (int64_t request = 1; callbacks.size() < 700; ++request) {
        micros = request * 20000;
        if (882 * request >= handed) {
            handed += 1024;
            callbacks.push_back({micros, handed});
        }
    }
    double mean = 0;
    for (const auto& [at, frames] : callbacks) mean += (double(frames) - double(at) * kRate / 1e6) / 700;
    double worstLine = 0, worstLast = 0;
    for (size_t i = 0; i < callbacks.size(); ++i) {
        handedLineAdd(&line, callbacks[i].second, callbacks[i].first, kRate);
        if (i < 100 || i + 1 == callbacks.size()) continue;
        for (int64_t at = callbacks[i].first; at < callbacks[i + 1].first; at += 1000) {
            const double steady = mean + double(at) * kRate / 1e6;
            const double fromLast = double(callbacks[i].second) + double(at - callbacks[i].first) * kRate / 1e6;
            worstLine = std::max(worstLine, std::abs(handedLineAt(line, at, kRate) - steady) * 1000 / kRate);
            worstLast = std::max(worstLast, std::abs(fromLast - steady) * 1000 / kRate);
        }
    }
    EXPECT_LT(worstLine, 2.0);
    EXPECT_GT(worstLast, 8.0);  // what the line is for

    struct Next {
        const char* what;
        int64_t afterMicros, frames;  // the next callback, from the last one
        bool restarts;                // else the line moves a sixteenth towards it
    } nexts[] = {
        {"a callback on the grid", 20000, 1024, false},
        {"a stall of half a second starts the line again", 520000, 1024, true},
        {"a seek of a minute starts it again", 20000, 44100 * 60, true},
    };
    for (const Next& n : nexts) {
        HandedLine copy = line;
        const int64_t at = micros + n.afterMicros, frames = handed + n.frames;
        const double before = handedLineAt(copy, at, kRate);
        handedLineAdd(&copy, frames, at, kRate);
        EXPECT_NEAR(handedLineAt(copy, at, kRate), n.restarts ? double(frames) : before + (double(frames) - before) / 16,
                    1e-6)
            << n.what;
    }
    handedLineReset(&line);
    EXPECT_FALSE(line.started);
}

// A device handing 1024 frames every 23.2 ms while its latency rises by
// 200 ms and later falls: the clock, held monotonic as the music layer
// holds it, never goes back, stands still while the sound catches up with
// the rise, and moves on at once after the fall.
TEST(OutputClock, ALatencyRiseHoldsTheClockAndAFallMovesItOn) {
    LatencyFilter filter;
    latencyReset(&filter, 23.2);
    uint64_t shown = 0, heldSteps = 0, longestHoldMicros = 0, holdMicros = 0;
    int64_t handed = 0;
    double latency = 30;
    HandedLine line;
    for (int64_t micros = 0; micros < 6000000; micros += 5000) {
        if (micros % 23220 < 5000) {  // a callback
            handed += 1024;
            handedLineAdd(&line, handed, micros, 44100);
        }
        if (micros == 2000000) latency = 230;
        if (micros == 4000000) latency = 30;
        if (micros % 200000 == 0) latencyAdd(&filter, latency);
        const int64_t frame = deviceHeardFrame(handedLineAt(line, micros, 44100), handed, filter.ms, 0, 44100);
        const uint64_t next = std::max<uint64_t>(shown, uint64_t(std::max<int64_t>(frame, 0)));
        if (next == shown && micros > 100000) {
            ++heldSteps;
            holdMicros += 5000;
            longestHoldMicros = std::max(longestHoldMicros, holdMicros);
        } else {
            holdMicros = 0;
        }
        if (micros == 4000000 - 5000) {
            EXPECT_NEAR(double(shown) / 44.1, micros / 1000.0 - 230, 30);
        }
        shown = next;
    }
    // Held for about the rise (200 ms) once; at the end in step with a 30 ms
    // latency again.
    EXPECT_NEAR(double(longestHoldMicros) / 1000, 200, 40);
    EXPECT_NEAR(double(shown) / 44.1, 6000 - 30, 30);
}
