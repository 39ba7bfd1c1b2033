// testmusic -- synthesised music files with known content for the tests.
//
//   tone.mp3    3 s of a sine centred on spectrum bin 100 (4306.640625 Hz)
//   silence.mp3 2 s of digital silence
//   onset.mp3   silence, then from frame 22050 (500 ms) the bin-100 sine,
//               then from frame 66150 (1500 ms) a sine centred on bin 250
//   demo/music/mix.mp3  onset.mp3 again: the short track of the shell tests,
//               whose working directory is demo/ (the build links the
//               demo's own pictures in as demo/textures)
//
// Encoded at 320 kbps with the LAME tag, so a gapless decoder starts at the
// first synthesised sample and keeps the amplitude.
#include <lame/lame.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kBinHz = 44100.0 / 1024.0;

using Samples = std::vector<float>;  // interleaved stereo

void addSine(Samples& samples, long from, long to, double hz, double amplitude) {
    for (long i = from; i < to; ++i) {
        const float value = float(amplitude * std::sin(2.0 * M_PI * hz * double(i - from) / kRate));
        samples[2 * i] += value;
        samples[2 * i + 1] += value;
    }
}

bool writeMp3(const std::string& path, const Samples& samples) {
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, kRate);
    lame_set_out_samplerate(lame, kRate);
    lame_set_num_channels(lame, 2);
    lame_set_brate(lame, 320);
    lame_set_quality(lame, 2);
    lame_set_bWriteVbrTag(lame, 1);
    if (lame_init_params(lame) < 0) return false;

    const int frames = int(samples.size() / 2);
    std::vector<unsigned char> mp3(size_t(1.25 * frames + 7200) + 16384);
    int bytes = lame_encode_buffer_interleaved_ieee_float(lame, samples.data(), frames, mp3.data(), int(mp3.size()));
    if (bytes < 0) return false;
    int tail = lame_encode_flush(lame, mp3.data() + bytes, int(mp3.size()) - bytes);
    if (tail < 0) return false;
    bytes += tail;

    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(mp3.data(), 1, size_t(bytes), file) == size_t(bytes);
    // The tag frame, rewritten over the first frame, carries the encoder
    // delay and padding that a gapless decoder trims.
    unsigned char tag[2880];
    size_t tagBytes = lame_get_lametag_frame(lame, tag, sizeof tag);
    ok = ok && tagBytes > 0 && std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(tag, 1, tagBytes, file) == tagBytes;
    ok = std::fclose(file) == 0 && ok;
    lame_close(lame);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: testmusic OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::filesystem::create_directories(dir + "/demo/music");

    Samples tone(size_t(3 * kRate) * 2, 0.0f);
    addSine(tone, 0, 3 * kRate, 100 * kBinHz, 0.99);
    Samples silence(size_t(2 * kRate) * 2, 0.0f);
    Samples onset(size_t(3 * kRate) * 2, 0.0f);
    addSine(onset, 22050, 66150, 100 * kBinHz, 0.5);
    addSine(onset, 66150, 3 * kRate, 250 * kBinHz, 0.5);

    bool ok = writeMp3(dir + "/tone.mp3", tone) && writeMp3(dir + "/silence.mp3", silence) &&
              writeMp3(dir + "/onset.mp3", onset) && writeMp3(dir + "/demo/music/mix.mp3", onset);
    if (!ok) {
        std::fprintf(stderr, "testmusic: cannot write the test music into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
