// The music clock through a sound server of the test's own (PulseAudio, null
// sink, private socket) that is killed mid-run: the clock must follow the
// audio, then run on in real time with one line on stderr past the demo's end.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <SDL.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "audio/music.h"

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The child's side; exit codes name the check that failed.
[[noreturn]] void playThenLoseTheServer(const std::string& dir, pid_t serverPid) {
    // The clients (SDL's, pactl) keep their cookie and runtime files in the
    // scratch directory too, not in the machine's home.
    const std::string server = "unix:" + dir + "/native";
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    setenv("PULSE_SERVER", server.c_str(), 1);
    if (!musicInit(kMusicRate) || std::string(SDL_GetCurrentAudioDriver()) != "pulseaudio") std::exit(20);
    MusicStream* stream = musicOpen(TESSERA_TESTDATA_DIR "/silence.mp3");
    constexpr int kStart = 257000;  // near the demo's end, so that the clock must pass it
    musicSetTime(stream, kStart);
    const Clock::time_point start = Clock::now();
    musicPlay(stream);

    // The server lists our stream; the clock rises, never ahead of the wall
    // clock by more than the little the server buffers.
    const std::string list = "pactl list short sink-inputs | grep -q .";
    int last = kStart;
    for (bool listed = false; !listed || msBetween(start, Clock::now()) < 2500;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int now = musicGetTime(stream);
        if (now < last || now - kStart > msBetween(start, Clock::now()) + 100) std::exit(21);
        last = now;
        listed = listed || std::system(list.c_str()) == 0;
        if (msBetween(start, Clock::now()) > 15000) std::exit(22);
    }
    if (last <= kStart) std::exit(23);

    // The server dies. The clock never goes back nor stands still for long.
    kill(serverPid, SIGKILL);
    Clock::time_point lastMove = Clock::now();
    for (const Clock::time_point killed = lastMove; msBetween(killed, Clock::now()) < 3000;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int now = musicGetTime(stream);
        if (now < last || msBetween(lastMove, Clock::now()) > 2500) std::exit(24);
        if (now > last) lastMove = Clock::now();
        last = now;
    }
    // Then it runs exactly with the wall clock: each reading is bracketed by
    // wall-clock stamps, so that a busy machine cannot blur the comparison.
    const Clock::time_point before1 = Clock::now();
    const int from = musicGetTime(stream);
    const Clock::time_point after1 = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const Clock::time_point before2 = Clock::now();
    const int to = musicGetTime(stream);
    const Clock::time_point after2 = Clock::now();
    if (to - from < msBetween(after1, before2) - 2 || to - from > msBetween(before1, after2) + 2) std::exit(25);
    if (to < 260000) std::exit(26);
    musicClose(stream);
    musicShutdown();
    std::exit(0);
}

}  // namespace

TEST(SoundServerDeathTest, ClockFollowsTheServerThenRunsOnWhenItDies) {
    // Run as root the daemon only warns; its home and runtime directory are
    // a scratch directory, so it touches nothing of the machine's.
    char name[] = "/tmp/tessera_pulse_XXXXXX";
    const std::string dir = mkdtemp(name);
    const std::string start = "HOME=" + dir + " XDG_RUNTIME_DIR=" + dir +
                              " pulseaudio --daemonize=yes --exit-idle-time=-1 -n --disable-shm=yes"
                              " -L module-null-sink -L 'module-native-protocol-unix socket=" +
                              dir + "/native auth-anonymous=1' 2>" + dir + "/log";
    ASSERT_EQ(std::system(start.c_str()), 0) << "cannot start pulseaudio; see " << dir << "/log";
    pid_t pid = 0;
    std::ifstream(dir + "/pulse/pid") >> pid;
    ASSERT_GT(pid, 0);
    EXPECT_EXIT(playThenLoseTheServer(dir, pid), testing::ExitedWithCode(0),
                "^tessera: the audio output went away \\([^)]*\\); the music plays on silently on a real-time "
                "clock\n$");
    std::string alive;  // the child killed it, unless it failed first
    std::ifstream("/proc/" + std::to_string(pid) + "/comm") >> alive;
    if (alive == "pulseaudio") kill(pid, SIGKILL);
    std::filesystem::remove_all(dir);
}
