// The music layer: the spectrum's scale, the stepped clock against the
// synthesised source, gapless decoding, files that cannot be played, and the
// real-time clocks with and without an audio device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/music.h"
#include "audio/spectrum.h"

namespace {

const std::string kTestData = TESSERA_TESTDATA_DIR;
constexpr double kBinHz = 44100.0 / 1024.0;

// A stereo window of sines: (bin, amplitude) pairs, both channels equal.
std::vector<int16_t> sineWindow(std::initializer_list<std::pair<double, double>> tones, long firstFrame = 0) {
    std::vector<int16_t> window(kSpectrumWindow * 2);
    for (int n = 0; n < kSpectrumWindow; ++n) {
        double value = 0;
        for (auto [bin, amplitude] : tones)
            value += amplitude * std::sin(2 * M_PI * bin * kBinHz * double(firstFrame + n) / 44100.0);
        window[2 * n] = window[2 * n + 1] = int16_t(std::lround(std::clamp(value, -1.0, 32767.0 / 32768) * 32768));
    }
    return window;
}

// The onset test file's source: silence, a bin-100 sine from frame 22050,
// a bin-250 sine from frame 66150, 3 s in all (see tools/testmusic).
double onsetSource(long frame) {
    if (frame < 22050 || frame >= 132300) return 0;
    if (frame < 66150) return 0.5 * std::sin(2 * M_PI * 100 * kBinHz * double(frame - 22050) / 44100);
    return 0.5 * std::sin(2 * M_PI * 250 * kBinHz * double(frame - 66150) / 44100);
}

std::vector<float> sourceSpectrum(int ms) {
    const long end = long(ms) * 44100 / 1000;
    std::vector<int16_t> window(kSpectrumWindow * 2);
    for (int n = 0; n < kSpectrumWindow; ++n)
        window[2 * n] = window[2 * n + 1] = int16_t(std::lround(onsetSource(end - kSpectrumWindow + n) * 32768));
    std::vector<float> out(kSpectrumBins);
    computeSpectrum(window.data(), out.data());
    return out;
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
    struct Case {
        double bin, amplitude;
    };
    for (Case c : {Case{100, 1.0}, Case{150, 0.5}, Case{250, 0.25}, Case{37, 0.8}}) {
        std::vector<float> out(kSpectrumBins);
        computeSpectrum(sineWindow({{c.bin, c.amplitude}}).data(), out.data());
        const int k = int(c.bin);
        EXPECT_NEAR(out[k], c.amplitude, 2e-3) << "bin " << k;
        EXPECT_NEAR(out[k - 1], c.amplitude / 2, 2e-3) << "Hann neighbour of " << k;
        EXPECT_NEAR(out[k + 1], c.amplitude / 2, 2e-3);
        for (int j = 0; j < kSpectrumBins; ++j) {
            if (std::abs(j - k) > 2) {
                EXPECT_LT(out[j], 1e-3) << "leak into bin " << j << " from " << k;
            }
        }
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

TEST(SteppedClock, ToneCentredOnBin100) {
    MusicStream* stream = openStepped("tone.mp3");
    ASSERT_NE(stream, nullptr);
    for (int ms : {500, 1000, 2500}) {
        musicSetSteppedTime(ms);
        EXPECT_EQ(musicGetTime(stream), ms);
        const float* spectrum = musicSpectrum();
        int peak = 0;
        for (int k = 1; k < kSpectrumBins; ++k)
            if (spectrum[k] > spectrum[peak]) peak = k;
        EXPECT_EQ(peak, 100) << "at " << ms << " ms";
        EXPECT_NEAR(spectrum[100], 0.99, 0.03) << "at " << ms << " ms";
        EXPECT_LT(spectrum[150], 0.01);
        EXPECT_LT(spectrum[250], 0.01);
    }
    musicClose(stream);
}

// The decoded samples line up with the synthesised source to the frame: the
// spectrum at each stepped position matches the source's own spectrum there,
// through the onset edges, where an encoder offset of even a few ms would
// show.
TEST(SteppedClock, PositionAndSpectrumAgreeWithTheSource) {
    MusicStream* stream = openStepped("onset.mp3");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(musicDecodedFrames(stream), 132300) << "gapless decoding trims the encoder delay and padding";
    for (int ms : {100, 495, 503, 508, 512, 516, 520, 530, 1000, 1495, 1503, 1510, 1520, 2000, 2990, 3010, 3100}) {
        musicSetSteppedTime(ms);
        const std::vector<float> expected = sourceSpectrum(ms);
        const float* actual = musicSpectrum();
        for (int bin : {100, 150, 250})
            EXPECT_NEAR(actual[bin], expected[bin], 0.01) << "bin " << bin << " at " << ms << " ms";
    }
    musicClose(stream);
}

TEST(SteppedClock, SpectrumRepeatsBitForBitAndReadsZeroPastTheEnd) {
    MusicStream* stream = openStepped("onset.mp3");
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
    struct Case {
        std::string path;
        const char* reasonContains;
    };
    for (const Case& c : {Case{dir + "/missing.mp3", "No such file"}, Case{dir + "/text.mp3", "not a playable"},
                          Case{dir + "/empty.mp3", "not a playable"}}) {
        std::string reason;
        EXPECT_FALSE(musicFileIsPlayable(c.path.c_str(), &reason)) << c.path;
        EXPECT_NE(reason.find(c.reasonContains), std::string::npos) << c.path << ": " << reason;
        testing::internal::CaptureStderr();
        EXPECT_EQ(musicOpen(c.path.c_str()), nullptr);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(c.path), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
    std::string reason;
    EXPECT_TRUE(musicFileIsPlayable((kTestData + "/tone.mp3").c_str(), &reason)) << reason;
}

// A real-time clock over 2.6 s of a 2 s file: rising with wall time, never
// going back, running on past the end of the music with the spectrum at 0.
// Run in a child process each, since the clock kind is per process.
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

TEST(RealTimeClockDeathTest, WithoutAnAudioDeviceTheClockRunsSilently) {
    EXPECT_EXIT(playAndWatch("no-such-driver"), testing::ExitedWithCode(0),
                "^tessera: no audio output \\(.*\\); the music plays silently on a real-time clock\n$");
}

TEST(RealTimeClockDeathTest, ThroughAnAudioDeviceTheClockFollowsPlayback) {
    EXPECT_EXIT(playAndWatch("dummy"), testing::ExitedWithCode(0), "^$");
}

namespace {

std::string writeTemp(const std::string& name, const std::vector<char>& bytes) {
    const std::string path = testing::TempDir() + "/" + name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

// Damaged copies of tone.mp3 (3 s of the bin-100 sine, 122 KB): 20000 bytes
// of noise over its middle, the same stretch cut out, and noise from a
// third of the way to the end.
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
// (the decoder library may add its own about the garbage), and the damage
// is not played as noise: every window of the decoded stream is the clean
// sine, but at the seam.
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

// In real time, a file that turns to garbage a second in plays its second
// and the clock runs on past it, with the wall clock.
TEST(RealTimeClockDeathTest, PastMusicThatTurnsToGarbageTheClockRunsOn) {
    const std::string path = damagedTone(Damage::GarbageToTheEnd);
    EXPECT_EXIT(playAndWatch("dummy", path), testing::ExitedWithCode(0), "tessera: .* is damaged 1\\.0 s in");
}

// Hangs the fuzzers found, each under an alarm that turns a hang into a
// failure. Waiting for the decoder must not miss its end (a short stream
// that ended between the waiter's last look and its sleep left it asleep
// for good; many short streams give that moment many chances), and the
// files kept in fuzz/regressions open and decode promptly.
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
