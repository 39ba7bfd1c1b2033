// compose_main.cpp -- writes the demo's soundtrack: renders the piece and
// encodes it as MP3 (192 kbit/s CBR, 44.1 kHz stereo) with an Info tag, so a
// gapless decoder starts at the piece's first sample.
//
// Usage: tessera-compose <output.mp3>
// The file is written under a temporary name and renamed when complete, so
// an interrupted run never leaves a truncated soundtrack behind.
#include <lame/lame.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "marks.h"
#include "score.h"

namespace {

// Encodes interleaved stereo floats to path; false with a message on failure.
bool encodeMp3(const std::vector<float>& pcm, long frames, const std::string& path, std::string* err) {
    lame_global_flags* gf = lame_init();
    if (!gf) { *err = "lame_init failed"; return false; }
    lame_set_in_samplerate(gf, soundtrack::kSampleRate);
    lame_set_out_samplerate(gf, soundtrack::kSampleRate);
    lame_set_num_channels(gf, 2);
    lame_set_mode(gf, JOINT_STEREO);
    lame_set_VBR(gf, vbr_off);
    lame_set_brate(gf, 192);
    lame_set_quality(gf, 2);  // the careful psychoacoustic search: the top end is open
    lame_set_bWriteVbrTag(gf, 1);  // the Info tag carries delay and padding
    if (lame_init_params(gf) < 0) { *err = "lame_init_params failed"; lame_close(gf); return false; }

    FILE* f = std::fopen(path.c_str(), "wb+");
    if (!f) { *err = "cannot write " + path; lame_close(gf); return false; }
    const int chunk = 8192;
    std::vector<unsigned char> buf(size_t(1.25 * chunk + 7200));
    bool ok = true;
    for (long pos = 0; pos < frames && ok; pos += chunk) {
        int n = int(std::min<long>(chunk, frames - pos));
        int bytes = lame_encode_buffer_interleaved_ieee_float(gf, pcm.data() + 2 * pos, n, buf.data(), int(buf.size()));
        if (bytes < 0) { *err = "encoder error " + std::to_string(bytes); ok = false; break; }
        ok = std::fwrite(buf.data(), 1, size_t(bytes), f) == size_t(bytes);
    }
    if (ok) {
        int bytes = lame_encode_flush(gf, buf.data(), int(buf.size()));
        ok = bytes >= 0 && std::fwrite(buf.data(), 1, size_t(bytes), f) == size_t(bytes);
    }
    // The first frame was written as a placeholder; put the final tag there.
    if (ok) {
        std::vector<unsigned char> tag(lame_get_lametag_frame(gf, nullptr, 0));
        size_t n = lame_get_lametag_frame(gf, tag.data(), tag.size());
        ok = n > 0 && std::fseek(f, 0, SEEK_SET) == 0 && std::fwrite(tag.data(), 1, n, f) == n;
        if (!ok) *err = "cannot write the Info tag";
    } else if (err->empty()) {
        *err = "write error on " + path;
    }
    if (std::fclose(f) != 0 && ok) { ok = false; *err = "write error on " + path; }
    lame_close(gf);
    return ok;
}

}  // namespace

// Renders, reports the peak, encodes and renames into place.
int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.mp3>\n", argv[0]);
        return 2;
    }
    std::string out = argv[1], tmp = out + ".part";
    long frames = 0;
    std::vector<float> pcm = soundtrack::renderPiece(&frames);
    float peak = 0;
    for (float v : pcm) peak = std::max(peak, std::fabs(v));
    std::string err;
    if (!encodeMp3(pcm, frames, tmp, &err)) {
        std::fprintf(stderr, "tessera-compose: %s\n", err.c_str());
        std::remove(tmp.c_str());
        return 1;
    }
    if (std::rename(tmp.c_str(), out.c_str()) != 0) {
        std::fprintf(stderr, "tessera-compose: cannot rename %s to %s\n", tmp.c_str(), out.c_str());
        return 1;
    }
    std::printf("tessera-compose: %s, %.3f s, peak %.2f dBFS before encoding\n", out.c_str(),
                frames / double(soundtrack::kSampleRate), 20 * std::log10(std::max(peak, 1e-9f)));
    return 0;
}
