// The music clock through a real sound server that goes away mid-run: a
// PulseAudio daemon of the test's own (null sink, private socket) takes the
// music, then is killed. The clock must follow the audio while it plays,
// then run on in real time from where it was, with one line on stderr, and
// pass the demo's end.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "audio/music.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A PulseAudio daemon in a scratch directory, reachable only through its own
// socket. Run as root it only warns; its home and runtime directory are
// the scratch directory, so it touches nothing of the machine's.
class SoundServer {
public:
    SoundServer() {
        char name[] = "/tmp/tessera_pulse_XXXXXX";
        dir_ = mkdtemp(name) ? name : "";
        socket_ = dir_ + "/native";
        const std::string home = "HOME=" + dir_, runtime = "XDG_RUNTIME_DIR=" + dir_;
        const std::string protocol = "module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1";
        const char* argv[] = {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
                              "--disable-shm=yes", "-L", "module-null-sink", "-L", protocol.c_str(), nullptr};
        const char* env[] = {home.c_str(), runtime.c_str(), "PATH=/usr/bin:/bin", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, (dir_ + "/log").c_str(), O_WRONLY | O_CREAT, 0644);
        if (posix_spawnp(&pid_, "pulseaudio", &actions, nullptr, const_cast<char**>(argv),
                         const_cast<char**>(env)) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~SoundServer() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::system(("rm -rf " + dir_).c_str());
    }
    // Waits (up to 20 s on a busy machine) until clients can connect.
    bool ready() const {
        struct stat info;
        for (int i = 0; i < 200 && pid_ > 0; ++i) {
            if (stat(socket_.c_str(), &info) == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    pid_t pid() const { return pid_; }
    std::string address() const { return "unix:" + socket_; }

private:
    std::string dir_, socket_;
    pid_t pid_ = 0;
};

// The child's side: exit codes name the check that failed.
[[noreturn]] void playThenLoseTheServer(const SoundServer& server) {
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    setenv("PULSE_SERVER", server.address().c_str(), 1);
    if (!musicInit(kMusicRate) || std::string(SDL_GetCurrentAudioDriver()) != "pulseaudio") std::exit(20);
    MusicStream* stream = musicOpen(TESSERA_TESTDATA_DIR "/silence.mp3");
    // Start near the demo's end, so that the clock has to pass it.
    constexpr int kStart = 257000;
    musicSetTime(stream, kStart);
    const Clock::time_point start = Clock::now();
    musicPlay(stream);
    musicEnableSpectrum();

    // Playing to the server: it lists our stream, and the clock rises but is
    // never ahead of the wall clock, since it counts what the server took.
    int last = kStart;
    bool listed = false;
    while (msSince(start) < 2500 || !listed) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int now = musicGetTime(stream);
        if (now < last) std::exit(21);
        if (now - kStart > msSince(start) + 30) std::exit(22);
        last = now;
        if (!listed && msSince(start) > 500) {
            const std::string command = "PULSE_SERVER=" + server.address() + " pactl list short sink-inputs";
            FILE* pipe = popen(command.c_str(), "r");
            char line[256];
            listed = pipe && std::fgets(line, sizeof line, pipe) != nullptr;
            if (pipe) pclose(pipe);
        }
        if (msSince(start) > 15000) std::exit(23);
    }
    if (last <= kStart) std::exit(24);

    // The server dies. The clock never goes back nor stands still for long,
    // and after the stall limit at most it runs exactly with the wall clock.
    kill(server.pid(), SIGKILL);
    const Clock::time_point killed = Clock::now();
    Clock::time_point lastMove = killed;
    while (msSince(killed) < 3000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int now = musicGetTime(stream);
        if (now < last) std::exit(25);
        if (now > last) lastMove = Clock::now();
        if (msSince(lastMove) > 2500) std::exit(26);
        last = now;
    }
    // Each reading is bracketed by wall-clock stamps, so that being
    // descheduled on a busy machine cannot blur the comparison.
    const Clock::time_point before1 = Clock::now();
    const int clockFrom = musicGetTime(stream);
    const Clock::time_point after1 = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const Clock::time_point before2 = Clock::now();
    const int clockTo = musicGetTime(stream);
    const Clock::time_point after2 = Clock::now();
    const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    const double moved = clockTo - clockFrom, least = ms(before2 - after1) - 2, most = ms(after2 - before1) + 2;
    if (moved < least || moved > most) {
        std::fprintf(stderr, "clock moved %.0f ms in %.1f to %.1f ms\n", moved, least, most);
        std::exit(27);
    }
    if (clockTo < 260000) std::exit(28);
    musicClose(stream);
    musicShutdown();
    std::exit(0);
}

}  // namespace

TEST(SoundServerDeathTest, ClockFollowsTheServerThenRunsOnWhenItDies) {
    SoundServer server;
    ASSERT_GT(server.pid(), 0) << "cannot start pulseaudio";
    ASSERT_TRUE(server.ready()) << "pulseaudio did not open its socket";
    EXPECT_EXIT(playThenLoseTheServer(server), testing::ExitedWithCode(0),
                "^tessera: the audio output went away \\([^)]*\\); the music plays on silently on a real-time "
                "clock\n$");
}
