// output_latency.cpp -- our stream's latency, read from the sound server.
//
// A plain libpulse main loop on a thread of its own, never blocking longer
// than one short poll, so that a server that hangs cannot hold it and the
// end of the run can always stop it. About every kEvery it asks the server
// for the streams it plays and takes ours: the newest one that carries our
// process id (after a reopen the old one is gone, or about to be). The
// asking wavers by up to kWaver either way: the sink's latency saws with its
// blocks, and readings at a steady pace could fall on one point of the saw
// for seconds.
#include "audio/output_latency.h"

#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kEvery = std::chrono::milliseconds(100);
constexpr auto kWaver = std::chrono::milliseconds(30);
constexpr int kPollMicros = 50000;
// After the server refused or dropped the connection: when to try again.
constexpr auto kReconnectEvery = std::chrono::milliseconds(1000);

// The watcher's thread alone touches the main loop and its context; the
// caller only starts and stops it.
struct Watcher {
    std::thread thread;
    std::atomic<bool> stopAtomic{false};
    OutputLatencyReading reading = nullptr;
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_operation* pending = nullptr;
    std::string ownPid;
    std::minstd_rand waver;
    // The newest of our streams in the listing under way.
    uint32_t bestIndex = 0;
    double bestBufferMs = -1, bestSinkMs = 0;
};
Watcher* watcher = nullptr;

void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* data) {
    auto* w = static_cast<Watcher*>(data);
    if (eol) {
        if (eol > 0 && w->bestBufferMs >= 0) w->reading(w->bestBufferMs, w->bestSinkMs, Clock::now());
        return;
    }
    const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
    if (!pid || w->ownPid != pid || info->corked) return;
    if (w->bestBufferMs < 0 || info->index > w->bestIndex) {
        w->bestIndex = info->index;
        w->bestBufferMs = double(info->buffer_usec) / 1000.0;
        w->bestSinkMs = double(info->sink_usec) / 1000.0;
    }
}

void dropContext(Watcher* w) {
    if (w->pending) {
        pa_operation_cancel(w->pending);
        pa_operation_unref(w->pending);
        w->pending = nullptr;
    }
    if (w->context) {
        pa_context_disconnect(w->context);
        pa_context_unref(w->context);
        w->context = nullptr;
    }
}

void watch(Watcher* w) {
    Clock::time_point nextAsk = Clock::now(), nextConnect = Clock::now();
    while (!w->stopAtomic.load()) {
        const Clock::time_point now = Clock::now();
        if (!w->context && now >= nextConnect) {
            nextConnect = now + kReconnectEvery;
            w->context = pa_context_new(pa_mainloop_get_api(w->loop), "tessera output latency");
            if (w->context && pa_context_connect(w->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
                dropContext(w);
        }
        if (w->context) {
            const pa_context_state_t state = pa_context_get_state(w->context);
            if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
                dropContext(w);
            } else if (state == PA_CONTEXT_READY) {
                if (w->pending && pa_operation_get_state(w->pending) != PA_OPERATION_RUNNING) {
                    pa_operation_unref(w->pending);
                    w->pending = nullptr;
                }
                if (!w->pending && now >= nextAsk) {
                    nextAsk = now + kEvery - kWaver +
                              std::chrono::milliseconds(w->waver() % (2 * kWaver.count() + 1));
                    w->bestBufferMs = -1;
                    w->pending = pa_context_get_sink_input_info_list(w->context, onSinkInput, w);
                }
            }
        }
        if (pa_mainloop_prepare(w->loop, kPollMicros) < 0 || pa_mainloop_poll(w->loop) < 0 ||
            pa_mainloop_dispatch(w->loop) < 0)
            break;
    }
    dropContext(w);
}

}  // namespace

bool outputLatencyStart(OutputLatencyReading reading) {
    if (watcher) return true;
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop) return false;
    watcher = new Watcher;
    watcher->loop = loop;
    watcher->reading = reading;
    watcher->ownPid = std::to_string(getpid());
    watcher->thread = std::thread(watch, watcher);
    return true;
}

void outputLatencyStop() {
    if (!watcher) return;
    watcher->stopAtomic.store(true);
    pa_mainloop_wakeup(watcher->loop);
    watcher->thread.join();
    pa_mainloop_free(watcher->loop);
    delete watcher;
    watcher = nullptr;
}
