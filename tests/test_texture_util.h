// test_texture_util.h -- pictures the loader and title-card tests make for
// themselves: JPEG files written with libjpeg into a scratch directory.
#pragma once

#include <jpeglib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace testpics {

// RGB bytes, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// A picture whose pixels come from fn(x, y, rgb_out).
inline Picture makePicture(int width, int height, const std::function<void(int, int, uint8_t*)>& fn) {
    Picture p{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) fn(x, y, &p.rgb[(static_cast<size_t>(y) * width + x) * 3]);
    return p;
}

// Four flat quadrants (top-left red, top-right green, bottom-left blue,
// bottom-right white): orientation mistakes of any kind show at once.
inline Picture quadrants(int width, int height) {
    return makePicture(width, height, [=](int x, int y, uint8_t* c) {
        const bool right = x >= width / 2, bottom = y >= height / 2;
        c[0] = bottom == right ? 255 : 0, c[1] = right ? 255 : 0, c[2] = bottom ? 255 : 0;
    });
}

// Writes a baseline JPEG at quality 95 (4:4:4, so flat colours stay flat).
inline bool writeJpeg(const std::string& path, const Picture& p, int quality = 95) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(p.width);
    c.image_height = static_cast<JDIMENSION>(p.height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(p.at(0, static_cast<int>(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

// Decodes a JPEG file to RGB, top row first; an empty picture on failure.
inline Picture readJpeg(const std::string& path) {
    Picture p;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return p;
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    p.width = static_cast<int>(d.output_width);
    p.height = static_cast<int>(d.output_height);
    p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &p.rgb[static_cast<size_t>(d.output_scanline) * p.width * 3];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return p;
}

// Offset of the baseline frame header (FF C0): height at +5, width at +7.
inline size_t findFrameHeader(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 0; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) return i;
    return 0;
}

// Offset of the first byte of compressed data, just after the scan header.
inline size_t findScanData(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 0; i + 4 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return i + 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
    return 0;
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A fresh scratch directory under /tmp, removed with its contents at the end.
class ScratchDir {
public:
    ScratchDir() : path_(mkdtemp(name_) ? name_ : "") {}
    ~ScratchDir() { std::error_code ignored; if (!path_.empty()) std::filesystem::remove_all(path_, ignored); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    char name_[24] = "/tmp/tessera_tex_XXXXXX";
    std::string path_;
};

}  // namespace testpics
