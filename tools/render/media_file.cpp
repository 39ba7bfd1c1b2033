// media_file.cpp -- encoding and muxing of capture files with libavformat,
// libavcodec, libswscale and libswresample.
#include "media_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "audio/music.h"

namespace {

constexpr int kSoundBitRate = 192000;
constexpr int kWebSoundRate = 48000;
constexpr int kWebSoundBitRate = 384000;

// One encoder and the stream its packets go to.
struct Track {
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    int64_t nextPts = 0;
};

}  // namespace

struct MediaFile {
    std::string path;
    MediaKind kind = MediaKind::Video;
    MediaOptions media;
    AVFormatContext* format = nullptr;
    Track video, sound;
    SwsContext* scaler = nullptr;
    SwrContext* resampler = nullptr;
    AVAudioFifo* pending = nullptr;  // converted sound not yet a whole codec frame
    AVPacket* packet = nullptr;
    long long bytes = 0;
};

namespace {

bool fail(std::string* reason, const std::string& what, int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    *reason = what + ": " + text;
    return false;
}

void freeTrack(Track& track) {
    avcodec_free_context(&track.codec);
    av_frame_free(&track.frame);
}

void freeFile(MediaFile* file) {
    freeTrack(file->video);
    freeTrack(file->sound);
    sws_freeContext(file->scaler);
    swr_free(&file->resampler);
    if (file->pending) av_audio_fifo_free(file->pending);
    av_packet_free(&file->packet);
    if (file->format) {
        if (file->format->pb) avio_closep(&file->format->pb);
        avformat_free_context(file->format);
    }
    delete file;
}

// Opens the encoder and gives the stream its parameters. The container asks
// for global headers (MP4 keeps the codec set-up in its index).
bool openTrack(MediaFile* file, Track& track, AVDictionary** options, std::string* reason) {
    if (file->format->oformat->flags & AVFMT_GLOBALHEADER) track.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int error = avcodec_open2(track.codec, track.codec->codec, options);
    av_dict_free(options);
    if (error < 0) return fail(reason, std::string("cannot open the encoder ") + track.codec->codec->name, error);
    track.stream = avformat_new_stream(file->format, nullptr);
    if (!track.stream) return fail(reason, "cannot add a stream", AVERROR(ENOMEM));
    track.stream->time_base = track.codec->time_base;
    avcodec_parameters_from_context(track.stream->codecpar, track.codec);
    track.frame = av_frame_alloc();
    return track.frame != nullptr || fail(reason, "out of memory", AVERROR(ENOMEM));
}

// The video track's encoder context at a constant rate: time base 1/fps,
// frame n at pts n.
Track& startVideoTrack(MediaFile* file, const AVCodec* codec, int width, int height, int fps,
                       AVPixelFormat format) {
    Track& track = file->video;
    track.codec = avcodec_alloc_context3(codec);
    track.codec->width = width;
    track.codec->height = height;
    track.codec->time_base = AVRational{1, fps};
    track.codec->framerate = AVRational{fps, 1};
    track.codec->pix_fmt = format;
    return track;
}

// FFV1 keeping the framebuffer's own pixels: BGR with the unused alpha
// byte, every frame a key frame so that any frame can be cut out alone.
bool addLosslessVideo(MediaFile* file, int width, int height, int fps, std::string* reason) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    if (!codec) return fail(reason, "no FFV1 encoder in libavcodec", AVERROR_ENCODER_NOT_FOUND);
    Track& track = startVideoTrack(file, codec, width, height, fps, AV_PIX_FMT_0RGB32);
    track.codec->gop_size = 1;
    track.codec->level = 3;
    track.codec->colorspace = AVCOL_SPC_RGB;
    track.codec->color_range = AVCOL_RANGE_JPEG;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "slices", "4", 0);  // lets the encoder use both cores
    av_dict_set(&options, "slicecrc", "1", 0);
    if (!openTrack(file, track, &options, reason)) return false;
    track.stream->avg_frame_rate = track.stream->r_frame_rate = AVRational{fps, 1};
    track.frame->format = track.codec->pix_fmt;
    track.frame->width = width;
    track.frame->height = height;
    if (av_frame_get_buffer(track.frame, 0) < 0) return fail(reason, "out of memory", AVERROR(ENOMEM));
    return true;
}

// H.264 in yuv420p at a constant rate: time base 1/fps, frame n at pts n.
// Default: the "veryfast" preset keeps encoding well behind the renderer's
// pace on two cores; CRF 18 keeps the thin lines and lettering clean. Web:
// High profile, a closed GOP of half a second and two B-frames, CRF 18 with
// the bit rate capped where video sites ask for it. Every GOP is closed, so
// a piece of a split render can be joined to the next by copying.
bool addVideo(MediaFile* file, int width, int height, int fps, std::string* reason) {
    if (file->media.preset == Preset::Archive) return addLosslessVideo(file, width, height, fps, reason);
    const bool web = file->media.preset == Preset::Web;
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) return fail(reason, "no H.264 encoder in libavcodec", AVERROR_ENCODER_NOT_FOUND);
    Track& track = startVideoTrack(file, codec, width, height, fps, AV_PIX_FMT_YUV420P);
    track.codec->gop_size = web ? std::max(1, fps / 2) : 2 * fps;
    track.codec->flags |= AV_CODEC_FLAG_CLOSED_GOP;
    if (web) {
        track.codec->max_b_frames = 2;
        track.codec->rc_max_rate = webBitRateCap(width, height, fps);
        track.codec->rc_buffer_size = int(std::min(2 * track.codec->rc_max_rate, 0x7fffffffL));
    }
    track.codec->color_range = AVCOL_RANGE_MPEG;
    track.codec->colorspace = AVCOL_SPC_BT709;
    track.codec->color_primaries = AVCOL_PRI_BT709;
    track.codec->color_trc = AVCOL_TRC_BT709;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", "veryfast", 0);
    av_dict_set(&options, "crf", "18", 0);
    if (web) {
        av_dict_set(&options, "profile", "high", 0);
        // Key frames exactly every half second: no extra ones at cuts.
        av_dict_set(&options, "x264-params", "scenecut=0", 0);
    }
    if (!openTrack(file, track, &options, reason)) return false;
    track.stream->avg_frame_rate = track.stream->r_frame_rate = AVRational{fps, 1};
    track.frame->format = AV_PIX_FMT_YUV420P;
    track.frame->width = width;
    track.frame->height = height;
    if (av_frame_get_buffer(track.frame, 0) < 0) return fail(reason, "out of memory", AVERROR(ENOMEM));
    // The framebuffer's BGRA to studio-range BT.709, as the stream is tagged.
    file->scaler = sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P,
                                  SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!file->scaler) return fail(reason, "cannot convert the pictures to yuv420p", AVERROR(EINVAL));
    sws_setColorspaceDetails(file->scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                             sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    return true;
}

// In a video file: AAC-LC (planar float) at the music's rate, or at 48 kHz
// for the web, or FLAC (16-bit, the samples as they are) for the archive,
// in whole codec frames through a FIFO. In a sound file 16-bit PCM. Always
// stereo.
bool addSound(MediaFile* file, std::string* reason) {
    const bool coded = file->kind == MediaKind::Video;
    const Preset preset = file->media.preset;
    const AVCodecID id = !coded ? AV_CODEC_ID_PCM_S16LE : preset == Preset::Archive ? AV_CODEC_ID_FLAC : AV_CODEC_ID_AAC;
    const AVCodec* codec = avcodec_find_encoder(id);
    if (!codec) return fail(reason, std::string("no ") + avcodec_get_name(id) + " encoder in libavcodec", AVERROR_ENCODER_NOT_FOUND);
    const int rate = coded && preset == Preset::Web ? kWebSoundRate : kMusicRate;
    Track& track = file->sound;
    track.codec = avcodec_alloc_context3(codec);
    track.codec->sample_rate = rate;
    track.codec->time_base = AVRational{1, rate};
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;  // swr_alloc_set_opts2 takes it non-const
    av_channel_layout_copy(&track.codec->ch_layout, &stereo);
    track.codec->sample_fmt = id == AV_CODEC_ID_AAC ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
    if (id == AV_CODEC_ID_AAC) {
        track.codec->profile = FF_PROFILE_AAC_LOW;
        track.codec->bit_rate = preset == Preset::Web ? kWebSoundBitRate : kSoundBitRate;
    }
    AVDictionary* options = nullptr;
    if (!openTrack(file, track, &options, reason)) return false;
    if (!coded) return true;
    int error = swr_alloc_set_opts2(&file->resampler, &stereo, track.codec->sample_fmt, rate, &stereo,
                                    AV_SAMPLE_FMT_S16, kMusicRate, 0, nullptr);
    if (error < 0 || (error = swr_init(file->resampler)) < 0)
        return fail(reason, std::string("cannot convert the sound for ") + codec->name, error);
    file->pending = av_audio_fifo_alloc(track.codec->sample_fmt, 2, track.codec->frame_size);
    return file->pending != nullptr || fail(reason, "out of memory", AVERROR(ENOMEM));
}

// Sends one frame (or null to drain) and writes every packet that comes out,
// stamped in the stream's time base. A constant-rate picture lasts one tick.
bool encode(MediaFile* file, Track& track, AVFrame* frame, std::string* reason) {
    int error = avcodec_send_frame(track.codec, frame);
    if (error < 0) return fail(reason, std::string("cannot encode for ") + file->path, error);
    for (;;) {
        error = avcodec_receive_packet(track.codec, file->packet);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return true;
        if (error < 0) return fail(reason, std::string("cannot encode for ") + file->path, error);
        if (track.codec->codec_type == AVMEDIA_TYPE_VIDEO && file->packet->duration == 0) file->packet->duration = 1;
        av_packet_rescale_ts(file->packet, track.codec->time_base, track.stream->time_base);
        file->packet->stream_index = track.stream->index;
        file->bytes += file->packet->size;
        error = av_interleaved_write_frame(file->format, file->packet);
        if (error < 0) return fail(reason, std::string("cannot write ") + file->path, error);
    }
}

// Hands the AAC encoder `count` frames from the FIFO (a whole codec frame,
// or the shorter last one).
bool encodePending(MediaFile* file, int count, std::string* reason) {
    Track& track = file->sound;
    av_frame_unref(track.frame);
    track.frame->format = track.codec->sample_fmt;
    track.frame->nb_samples = count;
    av_channel_layout_copy(&track.frame->ch_layout, &track.codec->ch_layout);
    track.frame->sample_rate = track.codec->sample_rate;
    if (av_frame_get_buffer(track.frame, 0) < 0) return fail(reason, "out of memory", AVERROR(ENOMEM));
    av_audio_fifo_read(file->pending, reinterpret_cast<void**>(track.frame->data), count);
    track.frame->pts = track.nextPts;
    track.nextPts += count;
    return encode(file, track, track.frame, reason);
}

// Through the converter (and resampler, for the web's 48 kHz) into the FIFO,
// then whole codec frames to the encoder. Null samples drain the resampler.
bool convertSound(MediaFile* file, const uint8_t* samples, int frames, std::string* reason) {
    Track& track = file->sound;
    const int room = swr_get_out_samples(file->resampler, frames);
    if (room <= 0) return true;
    uint8_t* planes[2] = {nullptr, nullptr};
    if (av_samples_alloc(planes, nullptr, 2, room, track.codec->sample_fmt, 0) < 0)
        return fail(reason, "out of memory", AVERROR(ENOMEM));
    const uint8_t* input[1] = {samples};
    const int converted = swr_convert(file->resampler, planes, room, samples ? input : nullptr, frames);
    if (converted > 0) av_audio_fifo_write(file->pending, reinterpret_cast<void**>(planes), converted);
    av_freep(&planes[0]);
    const int frameSize = track.codec->frame_size;
    while (av_audio_fifo_size(file->pending) >= frameSize)
        if (!encodePending(file, frameSize, reason)) return false;
    return true;
}

}  // namespace

// Only the containers that take H.264 and AAC with their timing intact, by
// the extensions that say "video" (.mka and .m4a name sound-only files).
const char* mediaVideoContainer(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return "mp4";
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = char(std::tolower((unsigned char)c));
    if (extension == "mp4") return "mp4";
    if (extension == "mkv") return "matroska";
    if (extension == "mov") return "mov";
    return nullptr;
}

// The joined file's video: a stream that takes the pieces' packets as
// they are.
bool addCopiedVideo(MediaFile* file, int fps, std::string* reason) {
    Track& track = file->video;
    track.stream = avformat_new_stream(file->format, nullptr);
    if (!track.stream || avcodec_parameters_copy(track.stream->codecpar, file->media.copiedVideo) < 0)
        return fail(reason, "cannot add a stream", AVERROR(ENOMEM));
    track.stream->codecpar->codec_tag = 0;  // the container picks its own
    track.stream->time_base = AVRational{1, fps};
    track.stream->avg_frame_rate = track.stream->r_frame_rate = AVRational{fps, 1};
    return true;
}

MediaFile* mediaOpen(const std::string& path, MediaKind kind, int width, int height, int fps,
                     std::string* reason, const MediaOptions& media) {
    // Every failure is reported by the caller in one line of its own.
    av_log_set_level(AV_LOG_QUIET);
    auto* file = new MediaFile;
    file->path = path;
    file->kind = kind;
    file->media = media;
    file->packet = av_packet_alloc();
    // A sound file is always WAV; a video file takes the container its name
    // asks for (the caller has refused the names that fit none).
    const char* container = kind == MediaKind::Video ? mediaVideoContainer(path) : "wav";
    int error = container ? avformat_alloc_output_context2(&file->format, nullptr, container, path.c_str())
                          : AVERROR(EINVAL);
    bool ok = error >= 0 || fail(reason, "cannot set up " + path, error);
    if (ok && kind == MediaKind::Video)
        ok = media.copiedVideo ? addCopiedVideo(file, fps, reason) : addVideo(file, width, height, fps, reason);
    ok = ok && (kind != MediaKind::Video || media.sound ? addSound(file, reason) : true);
    if (ok && !media.pieceTag.empty()) av_dict_set(&file->format->metadata, "TESSERA_PIECE", media.pieceTag.c_str(), 0);
    if (ok && (error = avio_open(&file->format->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0)
        ok = fail(reason, "cannot write " + path, error);
    if (ok) {
        AVDictionary* options = nullptr;
        // MP4 and QuickTime: the index goes first once the file is complete,
        // so it plays while it downloads, and the encoder's priming becomes
        // an edit list, so the first sample heard is the first sample given.
        // The web preset wants no edit list: players on video sites follow
        // them poorly. Pieces keep their tag in a metadata box of its own.
        if (kind == MediaKind::Video && std::strcmp(container, "matroska")) {
            std::string flags = media.pieceTag.empty() ? "+faststart" : "+faststart+use_metadata_tags";
            // Without an edit list the B-frames' reordering delay would show
            // the pictures late: negative composition offsets start the
            // first picture at 0, with the sound.
            if (media.preset == Preset::Web && media.pieceTag.empty()) {
                av_dict_set(&options, "use_editlist", "0", 0);
                flags += "+negative_cts_offsets";
            }
            av_dict_set(&options, "movflags", flags.c_str(), 0);
        }
        error = avformat_write_header(file->format, &options);
        av_dict_free(&options);
        if (error < 0) ok = fail(reason, "cannot write " + path, error);
    }
    if (!ok) {
        mediaDiscard(file);
        return nullptr;
    }
    return file;
}

bool mediaWritePicture(MediaFile* file, const uint8_t* bgraBottomUp, std::string* reason) {
    Track& track = file->video;
    if (av_frame_make_writable(track.frame) < 0) return fail(reason, "out of memory", AVERROR(ENOMEM));
    const int stride = track.codec->width * 4;
    if (track.codec->pix_fmt == AV_PIX_FMT_0RGB32) {  // lossless: the rows as they are, top row first
        for (int y = 0; y < track.codec->height; ++y)
            std::memcpy(track.frame->data[0] + size_t(track.frame->linesize[0]) * y,
                        bgraBottomUp + size_t(stride) * (track.codec->height - 1 - y), size_t(stride));
        track.frame->pts = track.nextPts++;
        return encode(file, track, track.frame, reason);
    }
    // A negative stride from the last row turns the picture the right way up.
    const uint8_t* source[1] = {bgraBottomUp + size_t(stride) * (track.codec->height - 1)};
    const int sourceStride[1] = {-stride};
    sws_scale(file->scaler, source, sourceStride, 0, track.codec->height, track.frame->data, track.frame->linesize);
    track.frame->pts = track.nextPts++;
    return encode(file, track, track.frame, reason);
}

bool mediaWriteSound(MediaFile* file, const int16_t* samples, int frames, std::string* reason) {
    Track& track = file->sound;
    if (frames <= 0 || !track.codec) return true;  // a piece of a split render has no sound
    if (!file->resampler) {  // PCM takes the samples as they are, in any count
        av_frame_unref(track.frame);
        track.frame->format = AV_SAMPLE_FMT_S16;
        track.frame->nb_samples = frames;
        av_channel_layout_copy(&track.frame->ch_layout, &track.codec->ch_layout);
        track.frame->sample_rate = kMusicRate;
        if (av_frame_get_buffer(track.frame, 0) < 0) return fail(reason, "out of memory", AVERROR(ENOMEM));
        std::copy_n(samples, size_t(frames) * 2, reinterpret_cast<int16_t*>(track.frame->data[0]));
        track.frame->pts = track.nextPts;
        track.nextPts += frames;
        return encode(file, track, track.frame, reason);
    }
    return convertSound(file, reinterpret_cast<const uint8_t*>(samples), frames, reason);
}

bool mediaWritePacket(MediaFile* file, AVPacket* packet, AVRational timeBase, std::string* reason) {
    Track& track = file->video;
    av_packet_rescale_ts(packet, timeBase, track.stream->time_base);
    packet->stream_index = track.stream->index;
    packet->pos = -1;
    file->bytes += packet->size;
    const int error = av_interleaved_write_frame(file->format, packet);
    return error >= 0 || fail(reason, std::string("cannot write ") + file->path, error);
}

bool mediaFinish(MediaFile* file, long long* bytes, std::string* reason) {
    bool ok = !file->resampler || convertSound(file, nullptr, 0, reason);  // the resampler's tail
    if (ok && file->pending && av_audio_fifo_size(file->pending) > 0)
        ok = encodePending(file, av_audio_fifo_size(file->pending), reason);
    ok = ok && (!file->video.codec || encode(file, file->video, nullptr, reason));
    ok = ok && (!file->sound.codec || encode(file, file->sound, nullptr, reason));
    int error = 0;
    if (ok && (error = av_write_trailer(file->format)) < 0) ok = fail(reason, "cannot write " + file->path, error);
    if (ok && (error = avio_closep(&file->format->pb)) < 0) ok = fail(reason, "cannot write " + file->path, error);
    if (!ok) {
        mediaDiscard(file);
        return false;
    }
    struct stat info {};
    *bytes = stat(file->path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : file->bytes;
    freeFile(file);
    return true;
}

// The file is only removed if it is a regular file that we created or
// truncated: writing to a device must never end in deleting it.
void mediaDiscard(MediaFile* file) {
    const std::string path = file->path;
    const bool opened = file->format && file->format->pb;
    freeFile(file);
    struct stat info {};
    if (opened && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) unlink(path.c_str());
}
