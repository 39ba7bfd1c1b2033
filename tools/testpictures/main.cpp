// testpictures -- one 64 x 64 picture written in every colour space and
// coding mode that JPEG files come in, for the loader tests and as seeds for
// the picture fuzzer. Top-left red, top-right a dark green that needs the
// black ink, bottom-left blue, bottom-right white.
//
//   grey.jpg ycbcr.jpg rgb.jpg   the usual three
//   cmyk-adobe.jpg cmyk-plain.jpg  inks inverted with Adobe's APP14 marker
//                                  (as Adobe's software writes them), plain
//                                  amounts without it
//   ycck.jpg                     inverted inks, YCC-transformed
//   cmyk-progressive.jpg ycck-restarts.jpg ycbcr-arithmetic.jpg  other codings
//   jfif-201.jpg stray-bytes.jpg  files that every common decoder opens
//                                 though libjpeg warns about them: a JFIF
//                                 header of revision 2.01, and three stray
//                                 bytes before a marker
#include <algorithm>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 64;
constexpr unsigned char kColours[4][3] = {{255, 0, 0}, {40, 160, 90}, {0, 0, 255}, {255, 255, 255}};

enum class Coding { Baseline, Progressive, Restarts, Arithmetic };

// What a writer other than libjpeg leaves in a file that is still whole.
enum class Quirk { None, Jfif201, StrayBytes };

// Writes the picture stored in `space` (4:4:4). Greyscale is the luma; inks
// come from the RGB with full black replacement, stored inverted (255 = no
// ink) when the Adobe marker is written.
bool writePicture(const std::string& path, J_COLOR_SPACE space, bool adobeMarker, Coding coding,
                  Quirk quirk) {
    const bool inks = space == JCS_CMYK || space == JCS_YCCK, grey = space == JCS_GRAYSCALE;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &bytes, &size);
    c.image_width = c.image_height = kSide;
    c.input_components = inks ? 4 : grey ? 1 : 3;
    c.in_color_space = inks ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, space);
    c.write_Adobe_marker = adobeMarker;
    jpeg_set_quality(&c, 95, TRUE);
    for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    if (coding == Coding::Progressive) jpeg_simple_progression(&c);
    c.restart_interval = coding == Coding::Restarts ? 3 : 0;
    c.arith_code = coding == Coding::Arithmetic;
    if (quirk == Quirk::Jfif201) c.JFIF_major_version = 2, c.JFIF_minor_version = 1;
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(kSide * 4);
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < kSide; ++x) {
            const unsigned char* rgb = kColours[(c.next_scanline >= kSide / 2) * 2 + (x >= kSide / 2)];
            const int most = std::max({rgb[0], rgb[1], rgb[2]});
            if (grey) row[x] = JSAMPLE((299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2] + 500) / 1000);
            for (int i = 0; i < 3 && !grey && !inks; ++i) row[x * 3 + i] = rgb[i];
            for (int i = 0; i < 4 && inks; ++i) {
                const int ink = i == 3 ? 255 - most : most == 0 ? 0 : 255 - (rgb[i] * 255 + most / 2) / most;
                row[x * 4 + i] = JSAMPLE(adobeMarker ? 255 - ink : ink);
            }
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<unsigned char> file(bytes, bytes + size);
    std::free(bytes);
    if (quirk == Quirk::StrayBytes) {  // before the first quantisation table (FF DB)
        const unsigned char marker[] = {0xFF, 0xDB}, stray[] = {0x00, 0x5A, 0x13};
        const auto at = std::search(file.begin(), file.end(), std::begin(marker), std::end(marker));
        file.insert(at, std::begin(stray), std::end(stray));
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: testpictures OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::filesystem::create_directories(dir);
    struct Picture {
        const char* name;
        J_COLOR_SPACE space;
        bool adobe;
        Coding coding;
        Quirk quirk = Quirk::None;
    } pictures[] = {
        {"grey", JCS_GRAYSCALE, false, Coding::Baseline},       {"ycbcr", JCS_YCbCr, false, Coding::Baseline},
        {"rgb", JCS_RGB, true, Coding::Baseline},               {"cmyk-adobe", JCS_CMYK, true, Coding::Baseline},
        {"cmyk-plain", JCS_CMYK, false, Coding::Baseline},      {"ycck", JCS_YCCK, true, Coding::Baseline},
        {"cmyk-progressive", JCS_CMYK, true, Coding::Progressive}, {"ycck-restarts", JCS_YCCK, true, Coding::Restarts},
        {"ycbcr-arithmetic", JCS_YCbCr, false, Coding::Arithmetic},
        {"jfif-201", JCS_YCbCr, false, Coding::Baseline, Quirk::Jfif201},
        {"stray-bytes", JCS_YCbCr, false, Coding::Baseline, Quirk::StrayBytes},
    };
    for (const Picture& p : pictures)
        if (!writePicture(dir + "/" + p.name + ".jpg", p.space, p.adobe, p.coding, p.quirk)) {
            std::fprintf(stderr, "testpictures: cannot write %s/%s.jpg\n", dir.c_str(), p.name);
            return 1;
        }
    return 0;
}
