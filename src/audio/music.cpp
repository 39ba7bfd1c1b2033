// music.cpp -- the music's output and its clocks, on SDL2 audio.
//
// The decoded music comes from music_stream.cpp. The audio callback plays
// from it, and the spectrum reads the same samples at the position being
// heard. Three clocks share one interface: the audio device's (frames handed
// to the device, less what the output still holds: SDL's buffer, and what a
// sound server reports it holds, see output_latency.h and output_clock.h),
// a silent real-time clock when there is no device, and the stepped clock
// that offline rendering sets by hand.
//
// When the output goes away mid-run, the silent clock takes over and a
// helper thread (never the caller's) reopens the audio driver at most once a
// second; the device it gets starts at the silent clock's position, and the
// device clock takes over from there.
//
// Threads: the caller's (main), SDL's audio thread (the callback), the
// reopen helper, the decoder, the latency watcher. What they share is
// grouped below by what guards it: `device` (DeviceShared, its own mutex),
// `reopener` (Reopener, its own mutex), `driver` (one owner at a time,
// handed over), and `clockState` (the main thread's alone).
#include "audio/music.h"

#include <SDL.h>
#include <alsa/asoundlib.h>
#include <mpg123.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>

#include "audio/music_stream.h"
#include "audio/output_clock.h"
#include "audio/output_latency.h"
#include "audio/spectrum.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDeviceBufferFrames = 1024;
// How long a playing device may go without asking for samples before it
// counts as gone (a sound server that hangs says nothing): far beyond its
// callback period, and more until it has taken its first half second, since
// a sound server on a busy machine may take a second or two to settle. A
// false alarm would silence the rest of the demo.
constexpr auto kDeviceStall = std::chrono::milliseconds(2000);
constexpr auto kDeviceStartStall = std::chrono::milliseconds(6000);
// The stall is measured on time the program ran: a gap between two looks
// at the clock counts for at most this much, so a process that was stopped
// and continued (Ctrl+Z, a debugger, SIGSTOP) is not taken for a hung
// device before its audio thread has had a chance to run again.
constexpr auto kStallStep = std::chrono::milliseconds(100);
// After a loss: how often the helper tries to open an output again, and how
// long it waits for a device it opened to start taking samples (a sound
// server that has just started may take a second or two).
constexpr auto kReopenEvery = std::chrono::milliseconds(1000);
// How long the end of the run waits for SDL's audio, in all: for a reopen
// attempt under way and for closing the device. Either may be inside a sound
// server that hangs, and never return.
constexpr auto kShutdownWait = std::chrono::milliseconds(400);
// A latency reading counts only while callbacks come: measured from the
// last one, it is worth nothing once that lies further back than a few
// callback periods (before the start, after a loss, while a device primes).
constexpr auto kReadingFresh = std::chrono::milliseconds(100);

enum class ClockKind { Device, Silent, Stepped };

// What the audio callback shares with the main thread and the reopen
// helper, all guarded by `lock`. The callback runs wholly under it. `rate`
// is written by musicInit alone, before any other thread runs, so the main
// thread reads it without the lock.
struct DeviceShared {
    std::mutex lock;
    MusicStream* playing = nullptr;
    int rate = kMusicRate;
    int bufferFrames = kDeviceBufferFrames;  // what SDL holds after a callback
    uint64_t cursor = 0;                     // frames handed to the device
    // The last callback: the cursor after it and when it ran.
    uint64_t snapshotCursor = 0;
    Clock::time_point snapshotTime{};
    bool snapshotValid = false;
    HandedLine handedLine;  // the callbacks smoothed (see output_clock.h)
    uint64_t callbacks = 0;
    // Callbacks of any other device than `generation` count for nothing. A
    // reopened device hands silence at its first call (primingCalls 1 -> 2);
    // at its second (the device really takes samples) the music starts at
    // the silent clock's position and `resumed` tells the main thread.
    uint64_t generation = 0;
    int primingCalls = 0;
    bool resumed = false;
    uint64_t startFrame = 0;  // musicSetTime, and where a device took over
    // The silent clock: frame `silentFrom` at `silentStart`.
    uint64_t silentFrom = 0;
    Clock::time_point silentStart{};
    // From a frame handed over to its being heard; updated by the latency
    // watcher, kept across a reopen (the next readings correct it).
    LatencyFilter latency;
};
DeviceShared device;

// SDL's audio: owned by the main thread, except from a loss until the helper
// has a device playing again, when the helper alone calls SDL's audio
// functions. Ownership passes to the helper under Reopener::lock (`wanted`)
// and back under DeviceShared::lock (`resumed`).
struct DriverState {
    bool sdlAudioUp = false;
    std::string name;  // the audio driver SDL picked, reopened after a loss
    SDL_AudioDeviceID id = 0;
    // The device hung (stopped taking samples without a word from SDL):
    // closing it would wait for the hung server. Written by the main thread
    // at a loss and by the helper after a failed attempt.
    std::atomic<bool> hangsAtomic{false};
};
DriverState driver;

// The main thread's own: the kind of clock, its monotonic reading, the
// stall watch and the spectrum.
struct ClockState {
    ClockKind kind = ClockKind::Device;
    bool steppedRequested = false;
    int steppedMs = 0;
    bool started = false;
    int offsetMs = 0;        // --audio-offset: positive shows the picture later
    bool reopening = false;  // lost: the helper owns the driver and looks for an output
    uint64_t lastHeard = 0;  // keeps the clock monotonic
    // The stall watch: callbacks seen, when, how long without.
    uint64_t watchedCallbacks = 0;
    Clock::time_point watchedAt{};
    Clock::duration unfed{};
    bool spectrumOn = false;
    float spectrum[kSpectrumBins] = {};
    int16_t window[kSpectrumWindow * 2] = {};
};
ClockState clockState;

// The reopen helper, started with the first device and kept for the run,
// asleep until a loss. It is allocated once and never freed: a helper stuck
// in a hung sound server is left running when the process ends, and must
// find this still in place. Guarded by `lock`.
struct Reopener {
    std::mutex lock;
    std::condition_variable wake;
    std::thread thread;
    bool wanted = false;  // the main thread lost its output
    bool stop = false;    // the run is ending
    bool busy = false;    // inside SDL
};
Reopener* reopener = nullptr;

// alsa-lib prints its own errors (one per device it tries) when there is no
// sound card; our one line says what matters.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

int64_t microsOf(Clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

// The position of the silent clock now (caller holds device.lock).
uint64_t silentFrame(Clock::time_point now) {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now - device.silentStart).count();
    return device.silentFrom + uint64_t(std::max<int64_t>(micros, 0)) * uint64_t(device.rate) / 1000000;
}

// The audio thread: hands the device the next frames of the music, silence
// past its end (the clock keeps running on it), and notes when it did. The
// decoded length is read once: copying below one reading and advancing by
// another would replay the frames the decoder published in between. A
// reopened device first hands silence until it asks a second time (a server
// that has just started may hold the first buffer for a while); then the
// music goes on from the silent clock's position at that moment.
void fillDevice(void* userdata, Uint8* bytes, int length) {
    auto* dst = reinterpret_cast<int16_t*>(bytes);
    const size_t count = size_t(length) / 4;
    std::lock_guard lock(device.lock);
    MusicStream* stream = device.playing;
    const bool current = uint64_t(uintptr_t(userdata)) == device.generation;
    if (!stream || !current || device.primingCalls == 1) {
        std::memset(bytes, 0, size_t(length));
        if (stream && current) device.primingCalls = 2;
        return;
    }
    const Clock::time_point now = Clock::now();
    if (device.primingCalls == 2) {
        device.primingCalls = 0;
        handedLineReset(&device.handedLine);
        device.cursor = silentFrame(now);
        device.startFrame = device.cursor;
        device.resumed = true;
    }
    const bool finished = stream->finished.load(std::memory_order_acquire);
    const uint64_t available = stream->frames.load(std::memory_order_acquire);
    readFrames(stream, int64_t(device.cursor), count, dst, available);
    // While the decoder is behind (it never is in practice), wait for it
    // rather than let the clock run over music that was not heard.
    const uint64_t advance =
        finished ? count : std::min<uint64_t>(count, available > device.cursor ? available - device.cursor : 0);
    device.cursor += advance;
    device.snapshotCursor = device.cursor;
    device.snapshotTime = now;
    device.snapshotValid = true;
    handedLineAdd(&device.handedLine, int64_t(device.cursor), microsOf(now), device.rate);
    ++device.callbacks;
}

// Opens the default device of SDL's audio, stamped with its generation so
// that callbacks of a device given up on cannot touch the music. Returns 0
// on failure (SDL_GetError says why).
SDL_AudioDeviceID openDevice(uint64_t generation, int rate) {
    SDL_AudioSpec want{}, have{};
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = kDeviceBufferFrames;
    want.callback = fillDevice;
    want.userdata = reinterpret_cast<void*>(uintptr_t(generation));
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    std::lock_guard lock(device.lock);
    if (id) device.bufferFrames = have.samples;
    if (id && !device.latency.measured) latencyReset(&device.latency, 1000.0 * have.samples / rate);
    return id;
}

// The latency watcher's thread, at each reading of the server. A reading
// counts only while callbacks come (see kReadingFresh).
void onLatencyReading(double bufferMs, double sinkMs, Clock::time_point at) {
    bool tell = false;
    double ms = 0;
    {
        std::lock_guard lock(device.lock);
        if (!device.snapshotValid || device.primingCalls != 0 || at - device.snapshotTime > kReadingFresh ||
            at < device.snapshotTime)
            return;
        const double sdlBufferMs = 1000.0 * device.bufferFrames / device.rate;
        tell = latencyAdd(&device.latency, latencyReading(bufferMs, sinkMs, sdlBufferMs));
        ms = device.latency.ms;
    }
    if (tell) std::fprintf(stderr, "tessera: the audio output now lags by %.0f ms; the picture follows it\n", ms);
}

// Helper thread, one reopen attempt: restarts SDL's audio driver (a sound
// server that went away leaves SDL's connection to it dead, and closing a
// device that hung waits for it here, not in the frame loop), opens a
// device and waits until it takes samples from the silent clock's position.
// True once the music plays on it.
bool reopenOutput() {
    if (driver.sdlAudioUp) SDL_AudioQuit();
    driver.id = 0;
    driver.hangsAtomic.store(false);
    driver.sdlAudioUp = SDL_AudioInit(driver.name.c_str()) == 0;
    if (!driver.sdlAudioUp) return false;
    uint64_t generation = 0;
    int rate = 0;
    {
        std::lock_guard lock(device.lock);
        generation = ++device.generation;
        device.primingCalls = 1;
        device.resumed = false;
        rate = device.rate;
    }
    driver.id = openDevice(generation, rate);
    if (!driver.id) return false;
    SDL_PauseAudioDevice(driver.id, 0);
    const Clock::time_point opened = Clock::now();
    for (;;) {
        const bool lost = SDL_GetAudioDeviceStatus(driver.id) == SDL_AUDIO_STOPPED;
        {
            // Resumed (the main thread may already have taken it over and
            // cleared `resumed`: the callback's own state tells).
            std::lock_guard lock(device.lock);
            if (device.primingCalls == 0) return true;
            // Given up on: its callbacks from now on hand silence and count
            // for nothing. One that never started may hang in its server:
            // only the next attempt closes it, here, never the end of the run.
            if (lost || Clock::now() - opened > kDeviceStartStall) {
                ++device.generation;
                driver.hangsAtomic.store(!lost);
                return false;
            }
        }
        std::unique_lock lock(reopener->lock);
        if (reopener->wake.wait_for(lock, std::chrono::milliseconds(20), [] { return reopener->stop; })) return false;
    }
}

// The helper thread: whenever the main thread has lost its output, tries to
// open one again, at most once a second, until one plays or the run ends.
void reopenLoop() {
    Clock::time_point next = Clock::now();
    std::unique_lock lock(reopener->lock);
    for (;;) {
        reopener->wake.wait(lock, [] { return reopener->stop || reopener->wanted; });
        if (reopener->stop) return;
        if (reopener->wake.wait_until(lock, next, [] { return reopener->stop; })) return;
        next = Clock::now() + kReopenEvery;
        // This attempt answers every loss reported so far; one reported
        // while it runs (the device it opens may be lost at once) sets
        // `wanted` again and is answered by the next.
        reopener->wanted = false;
        reopener->busy = true;
        lock.unlock();
        const bool playing = reopenOutput();
        lock.lock();
        reopener->busy = false;
        if (!playing) reopener->wanted = true;
        reopener->wake.notify_all();
    }
}

// Main thread, while the device clock runs: why the output has gone away,
// or null while it plays. SDL reports a device or sound server that
// disappears (a restarted server, an unplugged headset) as stopped; a
// server that hangs only shows as callbacks that stop coming, counted on
// time the program ran (see kStallStep).
const char* outputLostReason(bool* stalled) {
    *stalled = false;
    if (SDL_GetAudioDeviceStatus(driver.id) == SDL_AUDIO_STOPPED) return "the device was disconnected";
    const Clock::time_point now = Clock::now();
    const auto step = std::min<Clock::duration>(now - clockState.watchedAt, kStallStep);
    clockState.watchedAt = now;
    uint64_t callbacks = 0;
    bool settled = false;
    {
        std::lock_guard lock(device.lock);
        callbacks = device.callbacks;
        settled = device.snapshotValid && device.snapshotCursor >= device.startFrame + uint64_t(device.rate / 2);
    }
    if (callbacks != clockState.watchedCallbacks) {
        clockState.watchedCallbacks = callbacks;
        clockState.unfed = {};
    } else {
        clockState.unfed += step;
    }
    *stalled = clockState.unfed > (settled ? kDeviceStall : kDeviceStartStall);
    return *stalled ? "it stopped taking samples" : nullptr;
}

// Once the output is gone the clock runs on in real time from the position
// it had reached, as it does when there is no device at all, so the demo
// keeps moving and still ends on time; the helper thread looks for an output
// meanwhile. Until it finds one the main thread leaves SDL's audio alone.
void fallBackToSilentClock(const char* why, bool stalled) {
    std::fprintf(stderr,
                 "tessera: the audio output went away (%s); the music plays on silently on a real-time clock "
                 "until an output opens again\n",
                 why);
    {
        std::lock_guard lock(device.lock);
        ++device.generation;  // the lost device's callbacks, if any come, count for nothing
        device.silentFrom = clockState.lastHeard;
        device.silentStart = Clock::now();
    }
    driver.hangsAtomic.store(stalled);
    clockState.kind = ClockKind::Silent;
    clockState.reopening = true;
    std::lock_guard lock(reopener->lock);
    reopener->wanted = true;
    reopener->wake.notify_all();
}

// Main thread, while the helper looks for an output: once a device plays
// from the silent clock's position, its clock takes over from there.
void takeBackDevice() {
    uint64_t from = 0;
    int rate = 0;
    {
        std::lock_guard lock(device.lock);
        if (!device.resumed) return;
        device.resumed = false;
        clockState.watchedCallbacks = device.callbacks;
        from = device.startFrame;
        rate = device.rate;
    }
    clockState.reopening = false;
    clockState.kind = ClockKind::Device;
    clockState.watchedAt = Clock::now();
    clockState.unfed = {};
    std::fprintf(stderr, "tessera: the audio output is back; the music plays again from %.1f s\n",
                 double(from) / rate);
}

// Main thread, at every reading of a running device clock: notices a lost
// output, says so in one line, hands the driver to the helper and switches
// to the silent clockState. It is done where the clock is read because that is
// what a loss is measured on (the stall counts time between readings), and
// because the reading that notices it must already come from the clock that
// takes over; the helper thread, started with the device, does the slow
// part.
void watchOutput() {
    if (clockState.kind == ClockKind::Silent && clockState.reopening) takeBackDevice();
    bool stalled = false;
    if (clockState.kind == ClockKind::Device && clockState.started && reopener)
        if (const char* why = outputLostReason(&stalled)) fallBackToSilentClock(why, stalled);
}

// The frame being heard now. The device's clock: the handed line through
// the callbacks, less what the output still holds, never beyond what was
// handed over, moved by --audio-offset; and, whatever the latency does,
// never going back: when it rises (the stream moved to Bluetooth
// headphones) the clock holds until the sound has caught up.
uint64_t heardFrame() {
    int64_t frame = 0;
    switch (clockState.kind) {
        case ClockKind::Stepped:
            frame = int64_t(clockState.steppedMs) * device.rate / 1000;
            return uint64_t(std::max<int64_t>(frame, 0));
        case ClockKind::Silent: {
            std::lock_guard lock(device.lock);
            if (!clockState.started) return device.startFrame;
            frame = int64_t(silentFrame(Clock::now()));
            break;
        }
        case ClockKind::Device: {
            std::lock_guard lock(device.lock);
            if (!device.snapshotValid) {
                frame = int64_t(std::max(device.startFrame, clockState.lastHeard));
                break;
            }
            const double line = handedLineAt(device.handedLine, microsOf(Clock::now()), device.rate);
            frame = deviceHeardFrame(line, int64_t(device.snapshotCursor), device.latency.ms, clockState.offsetMs,
                                     device.rate);
            break;
        }
    }
    clockState.lastHeard = std::max(clockState.lastHeard, uint64_t(std::max<int64_t>(frame, 0)));
    return clockState.lastHeard;
}

}  // namespace

void musicUseSteppedClock() { clockState.steppedRequested = true; }

void musicSetSteppedTime(int ms) { clockState.steppedMs = ms; }

// Opens the audio output. Without a device (no sound card, no sound server)
// it says so once and the music's clock runs silently in real time.
bool musicInit(int rate) {
    {
        std::lock_guard lock(device.lock);
        device.rate = rate;
    }
    if (clockState.steppedRequested) {
        clockState.kind = ClockKind::Stepped;
        return true;
    }
    snd_lib_error_set_handler(quietAlsa);
    clockState.kind = ClockKind::Device;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        driver.sdlAudioUp = true;
        driver.name = SDL_GetCurrentAudioDriver();
        driver.id = openDevice(0, rate);
        if (driver.id) {
            if (!reopener) {
                reopener = new Reopener;
                reopener->thread = std::thread(reopenLoop);
            }
            if (driver.name == "pulseaudio" || driver.name == "pipewire") outputLatencyStart(onLatencyReading);
            return true;
        }
    }
    std::fprintf(stderr, "tessera: no audio output (%s); the music plays silently on a real-time clock\n",
                 SDL_GetError());
    if (driver.sdlAudioUp) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    driver.sdlAudioUp = false;
    clockState.kind = ClockKind::Silent;
    return false;
}

bool musicFileIsPlayable(const char* path, std::string* reason) {
    mpg123_handle* handle = openDecoder(path, reason);
    if (!handle) return false;
    mpg123_delete(handle);
    return true;
}

// Opens the stream and starts decoding it in the background; returns at
// once. On failure says why on stderr and returns null.
MusicStream* musicOpen(const char* path) {
    std::string reason;
    mpg123_handle* handle = openDecoder(path, &reason);
    if (!handle) {
        std::fprintf(stderr, "tessera: cannot play \"%s\": %s\n", path, reason.c_str());
        return nullptr;
    }
    return startDecoding(handle, path);
}

void musicSetTime(MusicStream* stream, int ms) {
    if (!stream) return;
    std::lock_guard lock(device.lock);
    const uint64_t frame = uint64_t(std::max(ms, 0)) * uint64_t(device.rate) / 1000;
    device.startFrame = frame;
    device.silentFrom = frame;
    device.cursor = frame;
    handedLineReset(&device.handedLine);
    clockState.lastHeard = frame;
}

void musicPlay(MusicStream* stream) {
    if (!stream) return;
    {
        std::lock_guard lock(device.lock);
        device.playing = stream;
        device.silentStart = Clock::now();
        clockState.started = true;
        clockState.watchedAt = device.silentStart;
    }
    if (driver.id) SDL_PauseAudioDevice(driver.id, 0);
}

void musicEnableSpectrum() { clockState.spectrumOn = true; }

void musicSetOutputOffset(int ms) { clockState.offsetMs = ms; }

MusicStream* musicOpenClickTrack(int seconds) { return makeClickTrack(seconds); }

int musicGetTime(MusicStream* stream) {
    if (!stream) return 0;
    if (clockState.kind == ClockKind::Stepped) return clockState.steppedMs;
    watchOutput();
    return int(heardFrame() * 1000 / uint64_t(device.rate));
}

// The spectrum of the 1024 frames that end at the frame being heard. The
// stepped clock waits for the decoder to reach its position, so offline
// frames never see a half-decoded window.
const float* musicSpectrum() {
    MusicStream* stream = nullptr;
    {
        std::lock_guard lock(device.lock);
        stream = device.playing;
    }
    if (!clockState.spectrumOn || !stream) {
        std::fill(std::begin(clockState.spectrum), std::end(clockState.spectrum), 0.0f);
        return clockState.spectrum;
    }
    watchOutput();
    const uint64_t end = heardFrame();
    if (clockState.kind == ClockKind::Stepped) waitForDecoder(stream, end);
    readFrames(stream, int64_t(end) - kSpectrumWindow, kSpectrumWindow, clockState.window,
               stream->frames.load(std::memory_order_acquire));
    computeSpectrum(clockState.window, clockState.spectrum);
    return clockState.spectrum;
}

long long musicDecodedFrames(MusicStream* stream) {
    if (!stream) return 0;
    waitForDecoder(stream, UINT64_MAX);
    return (long long)stream->frames.load(std::memory_order_acquire);
}

void musicReadFrames(MusicStream* stream, long long first, long long count, int16_t* dst) {
    if (!stream || count <= 0) return;
    waitForDecoder(stream, uint64_t(std::max(first + count, 0LL)));
    readFrames(stream, first, size_t(count), dst, stream->frames.load(std::memory_order_acquire));
}

// Stops playback and the decoder, then frees the stream. Safe with null.
void musicClose(MusicStream* stream) {
    if (!stream) return;
    {
        std::lock_guard lock(device.lock);  // no callback is using it after this
        if (device.playing == stream) device.playing = nullptr;
    }
    stopDecoding(stream);
}

namespace {

// Closes SDL's audio on a thread of its own, and waits for it until
// `deadline` at most: closing a device waits for SDL's audio thread to
// leave the callback round it is in, and that thread may be waiting inside
// a sound server that has stopped answering (before the stall watch has
// noticed). Left waiting there, the closer ends with the process.
void closeAudioBy(Clock::time_point deadline) {
    std::promise<void> closed;
    std::future<void> done = closed.get_future();
    std::thread closer([id = driver.id, up = driver.sdlAudioUp, closed = std::move(closed)]() mutable {
        if (id) SDL_CloseAudioDevice(id);
        if (up) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        closed.set_value();
    });
    driver.id = 0;
    driver.sdlAudioUp = false;
    if (done.wait_until(deadline) == std::future_status::ready)
        closer.join();
    else
        closer.detach();
}

}  // namespace

// Ends the reopen helper and closes the output, within kShutdownWait
// whatever the sound server does. A device that stalled is left open, and
// so is SDL's audio while the helper is still inside it: closing waits for
// SDL's audio thread, which may be stuck in the hung server for good, and
// the process is about to end anyway.
void musicShutdown() {
    const Clock::time_point deadline = Clock::now() + kShutdownWait;
    outputLatencyStop();  // never waits on the server: it only polls
    if (reopener) {
        std::unique_lock lock(reopener->lock);
        reopener->stop = true;
        reopener->wake.notify_all();
        if (!reopener->wake.wait_until(lock, deadline, [] { return !reopener->busy; })) {
            reopener->thread.detach();
            return;
        }
        lock.unlock();
        reopener->thread.join();
        delete reopener;
        reopener = nullptr;
    }
    if (driver.hangsAtomic.load()) return;
    if (driver.id || driver.sdlAudioUp) closeAudioBy(deadline);
}
