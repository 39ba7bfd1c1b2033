// texture.cpp -- JPEG file to OpenGL texture.
//
// libjpeg-turbo decodes straight into bottom-first rows of red, green, blue,
// 255 (reducing by 1/2, 1/4 or 1/8 inside the decoder when the texture is
// that much smaller than the picture), and pixman resamples to the
// power-of-two texture size when the picture does not already have it.
// Greyscale, YCbCr and RGB files come out of the decoder as RGB; CMYK and
// YCCK files (print and photo software writes them) come out as CMYK and
// are turned into RGB here, row by row, in place.
// Fourteen of the loads run on the music's clock, so no pass is spent that
// the result does not need.
#include "render/texture.h"

#include "render/gl_errors.h"

#include <jpeglib.h>
// jerror.h names the messages; jpeglib.h must come first.
#include <jerror.h>
#include <pixman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <set>

namespace {

// libjpeg reports fatal errors through error_exit, which must not return.
// We jump back into decodeJpeg instead of letting the library end the
// process. Warnings that mean image data was lost end the decode the same
// way: libjpeg warns about a truncated or damaged stream and then invents the
// missing data, and we would rather draw nothing than a half-grey picture;
// stopping at once also spares decoding the rest of a damaged file that
// claims a huge size. The warnings that every common decoder shrugs off (see
// isBenignWarning) let the decode go on.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    char firstWarning[JMSG_LENGTH_MAX];
};

// Fatal decoder error: remember the library's text and unwind to decodeJpeg.
void onJpegError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings about the file's packaging, not its pixels: a JFIF revision this
// library does not know (2.01 is common), stray bytes between two markers
// (the data on either side is whole), an Adobe transform code it does not
// know (the colours are read as YCbCr or RGB by the component count) and a
// damaged ICC profile (we use none). Everything else (premature end, bad
// Huffman or arithmetic code, lost restart markers, an inconsistent
// progression) means pixels were made up.
bool isBenignWarning(int code) {
    return code == JWRN_JFIF_MAJOR || code == JWRN_EXTRANEOUS_DATA || code == JWRN_ADOBE_XFORM ||
           code == JWRN_BOGUS_ICC;
}

// A warning (level -1) that means lost data is kept and unwinds to
// decodeJpeg; benign warnings and trace messages are dropped. Nothing is
// printed here: the caller prints one line per failure.
void onJpegMessage(j_common_ptr cinfo, int msgLevel) {
    if (msgLevel >= 0 || isBenignWarning(cinfo->err->msg_code)) return;
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->firstWarning);
    err->pub.num_warnings++;
    std::longjmp(err->jump, 1);
}

// Four inks to red, green, blue, 255, in place (both are 4 bytes a pixel).
// Each channel is the paper's white filtered by its own ink and the black:
// R = (1 - C)(1 - K). Files with Adobe's APP14 marker store every ink
// inverted (255 is no ink), as Adobe's software writes them; the others
// store ink amounts as they are.
void inksToRgba(uint8_t* row, JDIMENSION width, bool adobeInverted) {
    for (JDIMENSION x = 0; x < width; ++x, row += 4) {
        const unsigned flip = adobeInverted ? 0 : 255;
        const unsigned c = row[0] ^ flip, m = row[1] ^ flip, y = row[2] ^ flip, k = row[3] ^ flip;
        // c, m, y, k are now the paper left uncovered, 0..255; x / 255
        // rounded is (x + 128 + ((x + 128) >> 8)) >> 8.
        const auto scale = [](unsigned v) { return static_cast<uint8_t>((v + 128 + ((v + 128) >> 8)) >> 8); };
        row[0] = scale(c * k);
        row[1] = scale(m * k);
        row[2] = scale(y * k);
        row[3] = 255;
    }
}

// Decodes `file` straight into red, green, blue, 255 rows, bottom row first,
// reduced inside the decoder where the texture is at most 1/2, 1/4 or 1/8 of
// the picture on both axes. When the result already has the texture's size
// it goes into out->rgba and is done; otherwise it goes into *picture for the
// rescale. Only trivially destructible objects live in this frame, so the
// longjmp out of libjpeg skips no destructor; the buffers belong to the
// caller. Reads from `file` when it is given, else from the `size` bytes at
// `bytes`. On failure writes the reason to `why`.
bool decodeJpeg(FILE* file, const uint8_t* bytes, std::size_t size, int maxTextureSize, TexturePixels* out, std::vector<uint8_t>* picture,
                int* decodedWidth, int* decodedHeight, char* why, std::size_t whySize) {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onJpegError;
    err.pub.emit_message = onJpegMessage;
    err.message[0] = '\0';
    err.firstWarning[0] = '\0';
    cinfo.mem = nullptr;  // so that a failure inside creation destroys nothing
    if (setjmp(err.jump)) {
        if (err.pub.num_warnings > 0)
            std::snprintf(why, whySize, "damaged JPEG data (%s)", err.firstWarning);
        else
            std::snprintf(why, whySize, "not a readable JPEG picture (%s)", err.message);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    if (file != nullptr)
        jpeg_stdio_src(&cinfo, file);
    else
        jpeg_mem_src(&cinfo, bytes, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);

    const long long width = cinfo.image_width;
    const long long height = cinfo.image_height;
    if (width <= 0 || height <= 0) {
        std::snprintf(why, whySize, "picture has no pixels (%lld x %lld)", width, height);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // Each refusal names the limit that was exceeded.
    if (width > kMaxPictureSide || height > kMaxPictureSide) {
        std::snprintf(why, whySize, "picture claims %lld x %lld pixels, over the limit of %d pixels a side",
                      width, height, kMaxPictureSide);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    if (static_cast<unsigned long long>(width * height * 4) > kMaxPictureBytes) {
        std::snprintf(why, whySize, "picture claims %lld x %lld pixels, %llu MiB decoded, over the limit of %zu MiB",
                      width, height, static_cast<unsigned long long>(width * height * 4) >> 20,
                      kMaxPictureBytes >> 20);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    out->pictureWidth = static_cast<int>(width);
    out->pictureHeight = static_cast<int>(height);
    out->texWidth = textureSizeFor(out->pictureWidth, maxTextureSize);
    out->texHeight = textureSizeFor(out->pictureHeight, maxTextureSize);
    const unsigned long long texBytes = 4ull * out->texWidth * out->texHeight;
    if (texBytes > kMaxPictureBytes) {
        std::snprintf(why, whySize, "texture of %d x %d would need %llu MiB, over %zu MiB",
                      out->texWidth, out->texHeight, texBytes >> 20, kMaxPictureBytes >> 20);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }

    // The decoder's reduced inverse transforms are much cheaper than decoding
    // everything and throwing most of it away in the rescale.
    out->decodeScaleDenom = 1;
    for (int denom : {8, 4, 2}) {
        if (static_cast<long long>(out->texWidth) * denom <= width &&
            static_cast<long long>(out->texHeight) * denom <= height) {
            out->decodeScaleDenom = denom;
            break;
        }
    }
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned>(out->decodeScaleDenom);
    // The decoder writes the 255 alpha byte itself, except for four-ink
    // pictures: it has no CMYK to RGB conversion, so those come out as
    // CMYK (YCCK converted by the decoder) and are converted below.
    const bool inks = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool adobeInverted = inks && cinfo.saw_Adobe_marker;
    cinfo.out_color_space = inks ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&cinfo);

    const bool final = static_cast<int>(cinfo.output_width) == out->texWidth &&
                       static_cast<int>(cinfo.output_height) == out->texHeight;
    std::vector<uint8_t>* target = final ? &out->rgba : picture;
    const std::size_t rowBytes = std::size_t{cinfo.output_width} * 4;
    bool allocated = true;
    try {
        target->resize(rowBytes * cinfo.output_height);
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated) {
        std::snprintf(why, whySize, "out of memory for %u x %u pixels", cinfo.output_width,
                      cinfo.output_height);
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    // The decoder delivers the top row first; it goes to the last row.
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[4];
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(4, cinfo.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = target->data() + (cinfo.output_height - 1 - (first + i)) * rowBytes;
        const JDIMENSION got = jpeg_read_scanlines(&cinfo, rows, count);
        if (inks)
            for (JDIMENSION i = 0; i < got; ++i) inksToRgba(rows[i], cinfo.output_width, adobeInverted);
    }
    jpeg_finish_decompress(&cinfo);
    *decodedWidth = static_cast<int>(cinfo.output_width);
    *decodedHeight = static_cast<int>(cinfo.output_height);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

// The buffers kept between loads hold on to at most this much; a picture
// far larger than the demo's own gives its memory back at once.
constexpr std::size_t kKeptBufferBytes = std::size_t{16} << 20;

void releaseIfLarge(std::vector<uint8_t>* buffer) {
    if (buffer->capacity() > kKeptBufferBytes) std::vector<uint8_t>().swap(*buffer);
}

// Resamples a decoded picture (bottom row first, 4 bytes a pixel) to the
// texture size with pixman's bilinear filter; edges repeat outwards so the
// border pixels are not blended with nothing. The decoder has already taken
// any reduction of 2 or more, so bilinear sampling skips no detail worth
// having.
bool rescale(std::vector<uint8_t>* picture, int width, int height, TexturePixels* out, std::string* reason) {
    out->rgba.resize(std::size_t{4} * out->texWidth * out->texHeight);
    pixman_image_t* source = pixman_image_create_bits(PIXMAN_a8b8g8r8, width, height,
                                                      reinterpret_cast<uint32_t*>(picture->data()), width * 4);
    pixman_image_t* target =
        pixman_image_create_bits(PIXMAN_a8b8g8r8, out->texWidth, out->texHeight,
                                 reinterpret_cast<uint32_t*>(out->rgba.data()), out->texWidth * 4);
    bool ok = source != nullptr && target != nullptr;
    if (ok) {
        pixman_transform_t scale;
        pixman_transform_init_scale(&scale, pixman_double_to_fixed(static_cast<double>(width) / out->texWidth),
                                    pixman_double_to_fixed(static_cast<double>(height) / out->texHeight));
        ok = pixman_image_set_transform(source, &scale) &&
             pixman_image_set_filter(source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        pixman_image_set_repeat(source, PIXMAN_REPEAT_PAD);
        if (ok)
            pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, target, 0, 0, 0, 0, 0, 0, out->texWidth,
                                     out->texHeight);
    }
    if (source) pixman_image_unref(source);
    if (target) pixman_image_unref(target);
    if (!ok) *reason = "cannot rescale to " + std::to_string(out->texWidth) + " x " + std::to_string(out->texHeight);
    return ok;
}

// The shared body of both entry points; `filter` is the minifying and
// magnifying filter.
int loadWithFilter(const char* path, GLuint* textureId, GLint filter) {
    // A picture that two effects load (viso.jpg) and that cannot be loaded
    // is said at its first load only.
    static std::set<std::string> picturesSaid;
    auto fail = [&](const std::string& reason) {
        if (path && !picturesSaid.insert(path).second) return 0;
        std::fprintf(stderr, "%s: cannot load picture %s: %s; its effect draws untextured\n",
                     program_invocation_short_name, path ? path : "(no path)", reason.c_str());
        return 0;
    };
    if (path == nullptr || textureId == nullptr) return fail("no path or no texture variable given");

    // A web address would be handed to the picture loader unchanged; this
    // program fetches nothing over the network, so such a load simply fails.
    if (std::strstr(path, "http://") != nullptr) return fail("web addresses are not fetched");

    // The full path must fit the same 260 characters the working directory
    // query is limited to; longer ones are refused rather than cut short.
    std::string fullPath;
    if (path[0] == '/') {
        fullPath = path;
    } else {
        char cwd[kMaxFullPathChars];
        if (getcwd(cwd, sizeof cwd) == nullptr)
            return fail(std::string("cannot use the working directory (") + std::strerror(errno) + ")");
        fullPath = std::string(cwd) + "/" + path;
    }
    if (fullPath.size() >= kMaxFullPathChars)
        return fail("full path has " + std::to_string(fullPath.size()) + " characters, more than " +
                    std::to_string(kMaxFullPathChars - 1));

    // A folder that is missing, empty or may not be read is said once, in
    // the first load from it, and not again for every other picture wanted
    // from it.
    static std::set<std::string> foldersSaid;
    if (access(fullPath.c_str(), F_OK) != 0 && (errno == ENOENT || errno == EACCES)) {
        const int why = errno;
        const std::filesystem::path folder = std::filesystem::path(fullPath).parent_path();
        std::error_code error;
        const bool missing = why == ENOENT && !std::filesystem::is_directory(folder, error);
        const bool locked = why == EACCES && access(folder.c_str(), R_OK | X_OK) != 0;
        if (missing || locked || (why == ENOENT && std::filesystem::is_empty(folder, error))) {
            if (!foldersSaid.insert(folder.string()).second) return 0;
            const std::string state = missing  ? " is missing"
                                      : locked ? std::string(" cannot be read (") + std::strerror(EACCES) + ")"
                                               : " is empty";
            return fail("its folder " + folder.string() + state + "; no other picture from it is mentioned");
        }
    }

    // Read anew at every load: the limit belongs to the current context.
    GLint maxTextureSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);

    // Reused like the decoder's buffer (see decodePictureForTexture).
    static TexturePixels pixels;
    std::string reason;
    if (!decodePictureForTexture(fullPath.c_str(), maxTextureSize, &pixels, &reason)) {
        releaseIfLarge(&pixels.rgba);
        return fail(reason);
    }

    GLuint name = 0;
    glGenTextures(1, &name);
    if (name == 0) return fail("no texture name from OpenGL");
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);

    // Upload with default unpacking whatever a caller left set, and find out
    // whether the driver took it: a texture it could not store would
    // otherwise draw as nothing without a word. Errors raised before the
    // upload are not ours, but they are someone's: they are reported here,
    // where they were found, and counted for tessera-render --check.
    reportPendingGlErrors(program_invocation_short_name, ("pending before the load of " + std::string(path) +
                                      " (raised earlier, by start-up or a scene)").c_str());
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    // Internal format 3: three components, the 255 bytes are not kept.
    glTexImage2D(GL_TEXTURE_2D, 0, 3, pixels.texWidth, pixels.texHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 pixels.rgba.data());
    glPopClientAttrib();
    const GLenum uploadError = glGetError();
    if (uploadError != GL_NO_ERROR) {
        glDeleteTextures(1, &name);
        releaseIfLarge(&pixels.rgba);
        char text[64];
        std::snprintf(text, sizeof text, "OpenGL refused the %d x %d upload (error 0x%04x)",
                      pixels.texWidth, pixels.texHeight, uploadError);
        return fail(text);
    }
    *textureId = name;
    releaseIfLarge(&pixels.rgba);
    return 1;
}

}  // namespace

// Nearest power of two on a logarithmic scale, so a size is rounded up once
// it reaches 2^k times the square root of two; the driver's limit caps sizes
// that exceed it (without rounding). The logarithm is taken in double
// precision so that a size just either side of a boundary (181 below
// 128 x 1.41421, 182 above it) lands on its own side.
int textureSizeFor(int pixels, int maxTextureSize) {
    if (pixels < 1) return 0;
    if (pixels > maxTextureSize) return maxTextureSize;
    const int k = static_cast<int>(std::floor(std::log(static_cast<double>(pixels)) / std::log(2.0) + 0.5));
    return 1 << k;
}

namespace {

// Decodes from the open file or from memory, then rescales to the texture
// size when the decoder did not already deliver it.
bool decodeAndRescale(FILE* file, const uint8_t* bytes, std::size_t size, int maxTextureSize,
                      TexturePixels* out, std::string* reason) {
    // Kept from load to load: the pictures mostly share their sizes, and
    // memory that is already mapped costs no page faults the second time.
    static std::vector<uint8_t> picture;
    int decodedWidth = 0;
    int decodedHeight = 0;
    char why[JMSG_LENGTH_MAX + 128] = "";
    const bool decoded = decodeJpeg(file, bytes, size, maxTextureSize, out, &picture, &decodedWidth,
                                    &decodedHeight, why, sizeof why);
    if (!decoded) {
        *reason = why;
        return false;
    }
    bool ok = true;
    if (decodedWidth != out->texWidth || decodedHeight != out->texHeight)
        ok = rescale(&picture, decodedWidth, decodedHeight, out, reason);
    releaseIfLarge(&picture);
    return ok;
}

}  // namespace

// Decode, rescale, flip and expand one picture; see texture.h.
bool decodePictureForTexture(const char* path, int maxTextureSize, TexturePixels* out,
                             std::string* reason) {
    if (maxTextureSize < 1) {
        *reason = "no texture size limit from OpenGL (no current context?)";
        return false;
    }
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        *reason = std::string("cannot open (") + std::strerror(errno) + ")";
        return false;
    }
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        *reason = "is a directory";
        return false;
    }
    const bool ok = decodeAndRescale(file, nullptr, 0, maxTextureSize, out, reason);
    std::fclose(file);
    return ok;
}

// The same from bytes in memory; see texture.h.
bool decodePictureBytes(const uint8_t* bytes, std::size_t size, int maxTextureSize, TexturePixels* out,
                        std::string* reason) {
    if (maxTextureSize < 1) {
        *reason = "no texture size limit from OpenGL (no current context?)";
        return false;
    }
    if (bytes == nullptr || size == 0) {
        *reason = "no bytes";
        return false;
    }
    return decodeAndRescale(nullptr, bytes, size, maxTextureSize, out, reason);
}

// Linear filtering: every picture but the chessboards.
int loadTexture(const char* path, GLuint* textureId) {
    return loadWithFilter(path, textureId, GL_LINEAR);
}

// Nearest filtering: the chessboard frames, whose squares must stay sharp.
int loadTextureNearest(const char* path, GLuint* textureId) {
    return loadWithFilter(path, textureId, GL_NEAREST);
}
