// join.cpp -- the pieces of a split render checked and joined by copying.
#include "join.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "audio/music.h"
#include "media_file.h"
#include "shell/data_dir.h"
#include "shell/startup.h"

namespace {

void say(const std::string& message) { std::fprintf(stderr, "tessera-render: %s\n", message.c_str()); }

std::string avError(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// One piece opened for reading: its only stream is the video.
struct Piece {
    std::string path;
    AVFormatContext* format = nullptr;
    PieceInfo info;
};

void closePiece(Piece& piece) { avformat_close_input(&piece.format); }

bool openPiece(Piece& piece) {
    int error = avformat_open_input(&piece.format, piece.path.c_str(), nullptr, nullptr);
    if (error < 0) {
        say("cannot read the piece " + piece.path + ": " + avError(error));
        return false;
    }
    error = avformat_find_stream_info(piece.format, nullptr);
    const AVDictionaryEntry* tag = av_dict_get(piece.format->metadata, "TESSERA_PIECE", nullptr, 0);
    if (error < 0 || piece.format->nb_streams != 1 ||
        piece.format->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || !tag ||
        !parsePieceTag(tag->value, &piece.info)) {
        say(piece.path + " is not a piece of a split render (made with --part K/N)");
        return false;
    }
    const AVCodecParameters* video = piece.format->streams[0]->codecpar;
    if (video->width != piece.info.width || video->height != piece.info.height) {
        say(piece.path + " holds pictures of another size than its tag says");
        return false;
    }
    return true;
}

// The packets of a piece, read to its end; -1 when it cannot be read through.
long countPackets(Piece& piece) {
    AVPacket* packet = av_packet_alloc();
    long count = 0;
    int error = 0;
    while ((error = av_read_frame(piece.format, packet)) >= 0) {
        ++count;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return error == AVERROR_EOF ? count : -1;
}

std::string describe(const PieceInfo& p) {
    return std::string("preset ") + presetName(p.preset) + ", " + std::to_string(p.width) + "x" +
           std::to_string(p.height) + " at " + std::to_string(p.fps) + " fps, frames " +
           std::to_string(p.rangeFirst) + " to " + std::to_string(p.rangeEnd) + " in " + std::to_string(p.parts) +
           " parts";
}

// Everything that can be known before the output is touched: the pieces
// belong to one render, each part is there once, they follow each other,
// and each holds all of its frames. `pieces` comes back in part order.
bool checkPieces(std::vector<Piece>& pieces) {
    for (Piece& piece : pieces)
        if (!openPiece(piece)) return false;
    const PieceInfo& first = pieces.front().info;
    std::map<int, const Piece*> byPart;
    for (const Piece& piece : pieces) {
        const PieceInfo& p = piece.info;
        if (p.preset != first.preset || p.width != first.width || p.height != first.height || p.fps != first.fps ||
            p.rangeFirst != first.rangeFirst || p.rangeEnd != first.rangeEnd || p.parts != first.parts) {
            say("the pieces are of different renders: " + pieces.front().path + " is " + describe(first) + ", " +
                piece.path + " is " + describe(p));
            return false;
        }
        if (byPart.count(p.part)) {
            say(byPart[p.part]->path + " and " + piece.path + " are both part " + std::to_string(p.part) + " of " +
                std::to_string(p.parts));
            return false;
        }
        byPart[p.part] = &piece;
    }
    for (int part = 1; part <= first.parts; ++part)
        if (!byPart.count(part)) {
            say("part " + std::to_string(part) + " of " + std::to_string(first.parts) + " is missing");
            return false;
        }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.info.part < b.info.part; });
    const AVCodecParameters* codec = pieces.front().format->streams[0]->codecpar;
    for (Piece& piece : pieces) {
        const PieceInfo& p = piece.info;
        long frameFirst = 0, frameCount = 0;
        pieceFrames(p.rangeFirst, p.rangeEnd, p.part, p.parts, &frameFirst, &frameCount);
        if (p.first != frameFirst || p.count != frameCount) {
            say(piece.path + " does not hold the frames of part " + std::to_string(p.part) + " of " +
                std::to_string(p.parts));
            return false;
        }
        const AVCodecParameters* own = piece.format->streams[0]->codecpar;
        if (own->codec_id != codec->codec_id || own->extradata_size != codec->extradata_size ||
            (own->extradata_size && std::memcmp(own->extradata, codec->extradata, size_t(own->extradata_size)))) {
            say(piece.path + " was encoded with other settings than " + pieces.front().path);
            return false;
        }
        const long held = countPackets(piece);
        if (held != p.count) {
            say(piece.path + (held < 0 ? " cannot be read to its end" : " holds " + std::to_string(held) + " of its " +
                                                                         std::to_string(p.count) + " frames") +
                ": it was cut short");
            return false;
        }
    }
    return true;
}

}  // namespace

bool joinPieces(const std::string& out, const std::vector<std::string>& paths, long long* bytes) {
    av_log_set_level(AV_LOG_QUIET);
    std::vector<Piece> pieces;
    for (const std::string& path : paths) pieces.push_back(Piece{path, nullptr, {}});
    auto closeAll = [&] {
        for (Piece& piece : pieces) closePiece(piece);
    };
    if (!checkPieces(pieces)) {
        closeAll();
        return false;
    }
    const PieceInfo whole = pieces.front().info;
    if (std::string problem = presetContainerProblem(whole.preset, mediaVideoContainer(out)); !problem.empty()) {
        say("cannot join into " + out + ": " + problem);
        closeAll();
        return false;
    }
    musicUseSteppedClock();
    musicInit(kMusicRate);
    MusicStream* music = musicOpen(kMusicPath);
    if (!music) {  // musicOpen has said why
        closeAll();
        return false;
    }
    MediaOptions media;
    media.preset = whole.preset;
    media.copiedVideo = pieces.front().format->streams[0]->codecpar;
    std::string reason;
    MediaFile* file = mediaOpen(out, MediaKind::Video, whole.width, whole.height, whole.fps, &reason, media);
    bool ok = file != nullptr;
    if (!ok) say(reason);
    // Packets in decoding order, each followed by one frame's share of the
    // sound, as the single render writes them, so the sound is encoded from
    // the same samples in the same steps.
    const AVRational tick{1, whole.fps};
    AVPacket* packet = av_packet_alloc();
    std::vector<int16_t> sound(size_t(kMusicRate / whole.fps + 1) * 2);
    long frame = whole.rangeFirst;
    for (Piece& piece : pieces) {
        if (!ok) break;
        closePiece(piece);
        if (avformat_open_input(&piece.format, piece.path.c_str(), nullptr, nullptr) < 0) {
            ok = false;
            reason = "cannot read the piece " + piece.path + " again";
            break;
        }
        const AVRational base = piece.format->streams[0]->time_base;
        const int64_t shift = piece.info.first - whole.rangeFirst;
        while (ok && av_read_frame(piece.format, packet) >= 0) {
            av_packet_rescale_ts(packet, base, tick);
            if (packet->pts != AV_NOPTS_VALUE) packet->pts += shift;
            if (packet->dts != AV_NOPTS_VALUE) packet->dts += shift;
            ok = mediaWritePacket(file, packet, tick, &reason);
            av_packet_unref(packet);
            const long long from = (long long)frame * kMusicRate / whole.fps;
            const long long next = (long long)(frame + 1) * kMusicRate / whole.fps;
            musicReadFrames(music, from, next - from, sound.data());
            ok = ok && mediaWriteSound(file, sound.data(), int(next - from), &reason);
            ++frame;
        }
    }
    av_packet_free(&packet);
    closeAll();
    if (file) {
        if (ok) ok = mediaFinish(file, bytes, &reason);
        else mediaDiscard(file);
        if (!ok) say(reason + "; the unfinished " + out + " was deleted");
    }
    musicClose(music);
    musicShutdown();
    return ok;
}

int joinMain(int argc, char** argv) {
    if (argc < 2) {
        say("--join needs the output file and at least one piece: --join OUT PIECE...");
        return 2;
    }
    std::error_code error;
    const std::string out = std::filesystem::absolute(argv[0]).lexically_normal().string();
    if (!mediaVideoContainer(out)) {
        say("--join " + out + ": the name must end in .mp4, .mkv or .mov (or have no extension, for MP4)");
        return 2;
    }
    std::vector<std::string> pieces;
    for (int i = 1; i < argc; ++i) {
        const std::string piece = std::filesystem::absolute(argv[i]).lexically_normal().string();
        if (std::filesystem::equivalent(piece, out, error) || piece == out) {
            say("--join " + out + ": the output is one of the pieces");
            return 2;
        }
        pieces.push_back(piece);
    }
    if (!enterDataDir("tessera-render", TESSERA_BUILD_ROOT, TESSERA_BUILD_DATA, TESSERA_INSTALLED_DATA)) return 1;
    long long bytes = 0;
    if (!joinPieces(out, pieces, &bytes)) return 1;
    char size[32];
    std::snprintf(size, sizeof size, "%.1f MB", double(bytes) / 1e6);
    say("joined " + std::to_string(pieces.size()) + " pieces into " + out + " " + size);
    return 0;
}
