// make_seeds -- small crafted seeds for the fuzzers: a picture in every
// colour space and coding mode the loader meets, and short MP3 files in the
// rates, channel layouts and tags the decoder meets. Written by the fuzz
// build, so no binary seeds are kept in the repository.
#include <lame/lame.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/test_texture_util.h"

namespace {

// A short MP3 of a falling tone at `rate` Hz, `channels` channels; VBR
// files carry the Xing tag, `tagged` CBR files the LAME tag.
bool writeMp3(const std::string& path, int rate, int channels, int kbps, bool vbr, bool tagged) {
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    if (vbr) {
        lame_set_VBR(lame, vbr_default);
        lame_set_VBR_q(lame, 6);
    } else {
        lame_set_brate(lame, kbps);
    }
    lame_set_bWriteVbrTag(lame, tagged || vbr);
    if (lame_init_params(lame) < 0) return false;
    const int frames = rate / 8;
    std::vector<float> left(frames), right(frames);
    for (int i = 0; i < frames; ++i) left[i] = right[i] = 0.5f * float(std::sin(0.3 * i - 1e-4 * i * i));
    std::vector<unsigned char> mp3(size_t(1.25 * frames + 7200) + 16384);
    int bytes = lame_encode_buffer_ieee_float(lame, left.data(), right.data(), frames, mp3.data(), int(mp3.size()));
    if (bytes >= 0) bytes += lame_encode_flush(lame, mp3.data() + bytes, int(mp3.size()) - bytes);
    unsigned char tag[2880];
    const size_t tagBytes = (tagged || vbr) ? lame_get_lametag_frame(lame, tag, sizeof tag) : 0;
    lame_close(lame);
    if (bytes <= 0) return false;
    std::copy(tag, tag + tagBytes, mp3.begin());
    mp3.resize(size_t(bytes));
    testpics::writeBytes(path, mp3);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::filesystem::create_directories(dir + "/picture");
    std::filesystem::create_directories(dir + "/music");
    using namespace testpics;
    const Picture quads = quadrants(24, 16);
    const Picture odd = quadrants(37, 3);
    const auto progressive = [](jpeg_compress_struct* c) { jpeg_simple_progression(c); };
    const auto restarts = [](jpeg_compress_struct* c) { c->restart_interval = 1; };
    const auto arithmetic = [](jpeg_compress_struct* c) { c->arith_code = TRUE; };
    const auto subsampled = [](jpeg_compress_struct* c) { c->comp_info[0].h_samp_factor = c->comp_info[0].v_samp_factor = 2; };
    struct PictureSeed {
        const char* name;
        const Picture* picture;
        J_COLOR_SPACE space;
        bool adobe;
        std::function<void(jpeg_compress_struct*)> extra;
    } pictures[] = {
        {"grey", &quads, JCS_GRAYSCALE, false, nullptr},
        {"ycbcr", &quads, JCS_YCbCr, false, nullptr},
        {"ycbcr-420", &odd, JCS_YCbCr, false, subsampled},
        {"ycbcr-progressive", &quads, JCS_YCbCr, false, progressive},
        {"ycbcr-arithmetic", &odd, JCS_YCbCr, false, arithmetic},
        {"rgb", &quads, JCS_RGB, true, nullptr},
        {"cmyk-adobe", &quads, JCS_CMYK, true, nullptr},
        {"cmyk-plain", &odd, JCS_CMYK, false, restarts},
        {"ycck", &quads, JCS_YCCK, true, progressive},
    };
    bool ok = true;
    for (const PictureSeed& s : pictures)
        ok = writeJpegIn(dir + "/picture/" + s.name + ".jpg", *s.picture, s.space, s.adobe, s.extra) && ok;
    ok = writeMp3(dir + "/music/stereo-44100-cbr-tagged.mp3", 44100, 2, 128, false, true) && ok;
    ok = writeMp3(dir + "/music/stereo-48000-cbr.mp3", 48000, 2, 96, false, false) && ok;
    ok = writeMp3(dir + "/music/mono-22050-vbr.mp3", 22050, 1, 0, true, true) && ok;
    ok = writeMp3(dir + "/music/mono-8000-cbr.mp3", 8000, 1, 8, false, false) && ok;
    if (!ok) {
        std::fprintf(stderr, "make_seeds: cannot write the seeds into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
