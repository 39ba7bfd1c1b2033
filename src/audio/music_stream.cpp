// music_stream.cpp -- the decoded music: libmpg123 decoding the whole file
// into memory in the background, and the lock-free reads of what it has
// published so far.
#include "audio/music_stream.h"

#include <mpg123.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kMaxFailedFrames = 64;

// Whether a decoded frame belongs to the stream. In a damaged file, garbage
// now and then looks like a frame header and decodes as a burst of loud
// noise; a real frame shares the stream's MPEG version, layer, rate and
// channel mode, and in a constant-bitrate stream its bitrate.
bool sameStream(const mpg123_frameinfo& frame, const mpg123_frameinfo& stream) {
    return frame.version == stream.version && frame.layer == stream.layer && frame.rate == stream.rate &&
           frame.mode == stream.mode && (stream.vbr != MPG123_CBR || frame.bitrate == stream.bitrate);
}

// Appends decoded frames to the stream's chunks and publishes them.
void publish(MusicStream* stream, const int16_t* samples, size_t count, uint64_t* total) {
    for (size_t done = 0; done < count;) {
        const size_t chunk = size_t(*total / kChunkFrames), offset = size_t(*total % kChunkFrames);
        if (chunk >= kMaxChunks) break;
        int16_t* dst = stream->chunks[chunk].load(std::memory_order_relaxed);
        if (!dst) {
            dst = new int16_t[kChunkFrames * 2];
            stream->chunks[chunk].store(dst, std::memory_order_relaxed);
        }
        const size_t run = std::min(count - done, kChunkFrames - offset);
        std::memcpy(dst + 2 * offset, samples + 2 * done, run * 4);
        done += run;
        *total += run;
    }
    stream->frames.store(*total, std::memory_order_release);
    stream->updates.fetch_add(1, std::memory_order_release);
    stream->updates.notify_all();
}

// Decodes frame by frame until the end of the file (or until asked to
// stop), publishing each frame as soon as it is stored. Damage is skipped
// however long it is: the decoder searches on to the next frame, so the
// music after a damaged stretch still plays, and frames that garbage only
// pretends to be are left out. The first damage (bytes between frames, or
// a frame left out) is reported in one line.
void decodeAll(MusicStream* stream) {
    mpg123_param(stream->decoder, MPG123_RESYNC_LIMIT, -1, 0);
    mpg123_frameinfo first{};
    bool haveFirst = false, damaged = false;
    int failures = 0;
    long long nextFrameAt = -1;  // byte offset where the next frame should start
    uint64_t total = 0;
    const auto seconds = [&] { return double(total) / kMusicRate; };
    while (!stream->stopDecoding.load(std::memory_order_relaxed) && total < kChunkFrames * kMaxChunks) {
        off_t number = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int result = mpg123_decode_frame(stream->decoder, &number, &audio, &bytes);
        if (result == MPG123_DONE) break;
        // An error that repeats without a frame in between (a read error)
        // ends the music where it is.
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) {
            if (++failures < kMaxFailedFrames) continue;
            std::fprintf(stderr, "tessera: cannot read \"%s\" past %.1f s (%s); the music ends there\n",
                         stream->path.c_str(), seconds(), mpg123_strerror(stream->decoder));
            break;
        }
        failures = 0;
        if (bytes == 0 || audio == nullptr) continue;
        mpg123_frameinfo info{};
        if (mpg123_info(stream->decoder, &info) != MPG123_OK) continue;
        const long long at = mpg123_framepos(stream->decoder);
        const bool skipped = nextFrameAt >= 0 && at != nextFrameAt;
        nextFrameAt = at + info.framesize;
        if (!haveFirst) {
            first = info;
            haveFirst = true;
        }
        const bool belongs = sameStream(info, first);
        if ((skipped || !belongs) && !damaged) {
            damaged = true;
            std::fprintf(stderr, "tessera: \"%s\" is damaged %.1f s in; the music plays on from the next good frame\n",
                         stream->path.c_str(), seconds());
        }
        if (belongs) publish(stream, reinterpret_cast<const int16_t*>(audio), bytes / 4, &total);
    }
    stream->finished.store(true, std::memory_order_release);
    stream->updates.fetch_add(1, std::memory_order_release);
    stream->updates.notify_all();
}

}  // namespace

// Copies frames [first, first + count) into dst, zeros where nothing has
// been decoded (before 0, at or past `decoded`, the caller's one reading of
// the decoded length).
void readFrames(const MusicStream* stream, int64_t first, size_t count, int16_t* dst, uint64_t decoded) {
    const int64_t available = int64_t(decoded);
    for (size_t i = 0; i < count;) {
        const int64_t frame = first + int64_t(i);
        if (frame < 0 || frame >= available) {
            dst[2 * i] = dst[2 * i + 1] = 0;
            ++i;
            continue;
        }
        const size_t chunk = size_t(frame) / kChunkFrames, offset = size_t(frame) % kChunkFrames;
        const size_t run = std::min({count - i, kChunkFrames - offset, size_t(available - frame)});
        const int16_t* src = stream->chunks[chunk].load(std::memory_order_relaxed) + 2 * offset;
        std::memcpy(dst + 2 * i, src, run * 4);
        i += run;
    }
}

// Blocks until the decoder has published `need` frames or finished. The
// waiter sleeps on the update count it read before looking, so an update
// that lands between the look and the sleep (the decoder's end included)
// still wakes it.
void waitForDecoder(MusicStream* stream, uint64_t need) {
    for (;;) {
        const uint32_t seen = stream->updates.load(std::memory_order_acquire);
        if (stream->finished.load(std::memory_order_acquire) ||
            stream->frames.load(std::memory_order_acquire) >= need)
            return;
        stream->updates.wait(seen, std::memory_order_acquire);
    }
}

// Opens a decoder for 44.1 kHz 16-bit stereo, whatever the file's own rate
// and channels (libmpg123 converts), with gapless decoding so that the
// encoder's delay and padding are trimmed: position 0 is the first sample.
// The file is opened twice: first as it is, to read its Xing or LAME tag.
// A tag that claims more frames than the file could hold (every frame takes
// more than 4 bytes) is garbage, and libmpg123 (1.31) can spend minutes
// opening such a file as it trims to the claimed length: the tag is then
// ignored, and the damaged file plays untrimmed. A path that is plainly no
// music (a directory, an empty file) is told in words: the decoder would only
// say that it cannot read the stream.
mpg123_handle* openDecoder(const char* path, std::string* reason) {
    struct stat info {};
    if (stat(path, &info) == 0 && (S_ISDIR(info.st_mode) || info.st_size == 0)) {
        *reason = S_ISDIR(info.st_mode) ? "it is a directory" : "the file is empty (0 bytes)";
        return nullptr;
    }
    static const bool initialised = mpg123_init() == MPG123_OK;
    (void)initialised;
    int error = MPG123_OK;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    if (!handle) {
        *reason = mpg123_plain_strerror(error);
        return nullptr;
    }
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    long rate = 0;
    int channels = 0, encoding = 0;
    bool opened = false;
    for (int pass = 0; pass < 2; ++pass) {
        errno = 0;
        if (mpg123_open(handle, path) != MPG123_OK) {
            *reason = errno ? std::strerror(errno) : mpg123_strerror(handle);
            break;
        }
        if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK) {
            *reason = std::string("not a playable MP3 file (") + mpg123_strerror(handle) + ")";
            break;
        }
        if (pass == 1) {
            opened = true;
            break;
        }
        const off_t claimedFrames = mpg123_framelength(handle);
        mpg123_close(handle);
        if (stat(path, &info) != 0 || claimedFrames > info.st_size / 4)
            mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_IGNORE_INFOFRAME, 0);
        mpg123_format_none(handle);
        mpg123_format(handle, kMusicRate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    if (!opened) {
        mpg123_delete(handle);
        return nullptr;
    }
    return handle;
}


MusicStream* startDecoding(mpg123_handle* decoder, const char* path) {
    auto* stream = new MusicStream;
    stream->decoder = decoder;
    stream->path = path;
    stream->thread = std::thread(decodeAll, stream);
    return stream;
}

// A click is 3 ms of a 2 kHz tone fading out: short enough to place it to
// the ms, sharp enough to see in a phone's sound track.
MusicStream* makeClickTrack(int seconds) {
    auto* stream = new MusicStream;
    stream->path = "(clicks)";
    std::vector<int16_t> samples(size_t(seconds) * kMusicRate * 2, 0);
    constexpr int kClickFrames = kMusicRate * 3 / 1000;
    for (int second = 1; second < seconds; ++second)
        for (int n = 0; n < kClickFrames; ++n) {
            const double fade = 1.0 - double(n) / kClickFrames;
            const auto value = int16_t(std::lround(26000 * fade * std::sin(2 * M_PI * 2000.0 * n / kMusicRate)));
            samples[(size_t(second) * kMusicRate + size_t(n)) * 2] = value;
            samples[(size_t(second) * kMusicRate + size_t(n)) * 2 + 1] = value;
        }
    uint64_t total = 0;
    publish(stream, samples.data(), samples.size() / 2, &total);
    stream->finished.store(true, std::memory_order_release);
    return stream;
}

void stopDecoding(MusicStream* stream) {
    stream->stopDecoding.store(true, std::memory_order_relaxed);
    if (stream->thread.joinable()) stream->thread.join();
    if (stream->decoder) mpg123_delete(stream->decoder);
    for (auto& chunk : stream->chunks) delete[] chunk.load(std::memory_order_relaxed);
    delete stream;
}
