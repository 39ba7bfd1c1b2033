// testmusic -- synthesised music files with known content for the tests.
//
//   tone.mp3    3 s of a sine centred on spectrum bin 100 (4306.640625 Hz)
//   silence.mp3 2 s of digital silence
//   onset.mp3   silence, then from frame 22050 (500 ms) the bin-100 sine,
//               then from frame 66150 (1500 ms) a sine centred on bin 250
//   glide.mp3   90 s: three times 30 s of a sine whose frequency rises
//               steadily from bin 20 to bin 260 of the spectrum (8 bins a
//               second): the frequency heard tells the position played, to
//               within the 30 s that a clock read at the same time settles
//   demo/music/mix.mp3  onset.mp3 again: the short track of the shell tests,
//               whose working directory is demo/ (the build links the
//               demo's own pictures in as demo/textures)
//   seeds/      an eighth of a second of a gliding tone in the rates,
//               channel layouts, bitrate modes and tags the decoder meets:
//               seeds for the music fuzzer
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

// Stereo samples at `rate` to MP3: mono when asked, VBR when kbps is 0;
// the tag (LAME's on CBR, Xing's on VBR) unless told otherwise.
bool writeMp3(const std::string& path, const Samples& samples, int rate = kRate, int kbps = 320, bool mono = false,
              bool tagged = true) {
    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, 2);
    if (mono) lame_set_mode(lame, MONO);
    if (kbps > 0) lame_set_brate(lame, kbps);
    if (kbps == 0) lame_set_VBR(lame, vbr_default);
    lame_set_quality(lame, 2);
    lame_set_bWriteVbrTag(lame, tagged);
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
    size_t tagBytes = tagged ? lame_get_lametag_frame(lame, tag, sizeof tag) : 0;
    ok = ok && (!tagged || (tagBytes > 0 && std::fseek(file, 0, SEEK_SET) == 0 &&
                            std::fwrite(tag, 1, tagBytes, file) == tagBytes));
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
    std::filesystem::create_directories(dir + "/seeds");

    Samples tone(size_t(3 * kRate) * 2, 0.0f);
    addSine(tone, 0, 3 * kRate, 100 * kBinHz, 0.99);
    Samples silence(size_t(2 * kRate) * 2, 0.0f);
    Samples onset(size_t(3 * kRate) * 2, 0.0f);
    addSine(onset, 22050, 66150, 100 * kBinHz, 0.5);
    addSine(onset, 66150, 3 * kRate, 250 * kBinHz, 0.5);

    Samples glide(size_t(90 * kRate) * 2, 0.0f);
    for (size_t n = 0; n < glide.size() / 2; ++n) {
        const double t = double(n % size_t(30 * kRate)) / kRate;
        glide[2 * n] = glide[2 * n + 1] = 0.5f * float(std::sin(2.0 * M_PI * kBinHz * (20.0 * t + 4.0 * t * t)));
    }

    bool ok = writeMp3(dir + "/tone.mp3", tone) && writeMp3(dir + "/silence.mp3", silence) &&
              writeMp3(dir + "/onset.mp3", onset) && writeMp3(dir + "/glide.mp3", glide) &&
              writeMp3(dir + "/demo/music/mix.mp3", onset);
    struct Seed {
        const char* name;
        int rate, kbps;
        bool mono, tagged;
    } seeds[] = {{"stereo-44100-cbr-tagged", 44100, 128, false, true},
                 {"stereo-48000-cbr", 48000, 96, false, false},
                 {"mono-22050-vbr", 22050, 0, true, true},
                 {"mono-8000-cbr", 8000, 8, true, false}};
    for (const Seed& seed : seeds) {
        Samples glide(size_t(seed.rate / 8) * 2, 0.0f);
        for (size_t n = 0; n < glide.size() / 2; ++n)
            glide[2 * n] = glide[2 * n + 1] = 0.5f * float(std::sin(0.3 * double(n) - 1e-4 * double(n * n)));
        ok = ok && writeMp3(dir + "/seeds/" + seed.name + ".mp3", glide, seed.rate, seed.kbps, seed.mono, seed.tagged);
    }
    if (!ok) {
        std::fprintf(stderr, "testmusic: cannot write the test music into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
