// texture.h -- turns one JPEG file into one OpenGL texture.
//
// Every picture of the demo goes through here once, at start-up, with the GL
// context current. The picture is resampled to a power-of-two size per axis
// (nearest on a logarithmic scale, capped by the driver's limit), stored
// bottom row first so that t = 0 is the picture's bottom edge, and uploaded
// as three-component texture from red, green, blue, 255 bytes.
//
// Every colour space that JPEG files use is accepted: greyscale, YCbCr, RGB,
// CMYK and YCCK (the inks inverted where Adobe's APP14 marker says so).
//
// A failed load prints one line on stderr naming the file and the reason,
// returns 0 and leaves the caller's texture variable as it was; the effect
// that owns it then draws untextured and the demo runs on. A folder that is
// missing or empty is said in the first load from it only. What libjpeg
// merely warns about while the pixels stay whole (an unknown JFIF revision,
// stray bytes before a marker) loads; warnings of lost data refuse the file.
// OpenGL errors found pending before the upload are reported in one line
// (see render/gl_errors.h), never dropped.
#pragma once

#include <GL/gl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Full paths (working directory, '/', relative path) must fit in a buffer of
// this many characters including the terminator.
constexpr std::size_t kMaxFullPathChars = 260;
// Pictures whose header claims more than this per side, or whose decoded
// pixels (4 bytes each) or texture would take more than kMaxPictureBytes, are
// refused before anything is allocated.
constexpr int kMaxPictureSide = 16384;
constexpr std::size_t kMaxPictureBytes = std::size_t{256} << 20;

// Loads a picture into a new texture with linear filtering. Returns 1 and
// stores the new name in *textureId, or 0 with *textureId untouched.
int loadTexture(const char* path, GLuint* textureId);

// The same with nearest filtering, for pictures whose blocks must stay crisp.
int loadTextureNearest(const char* path, GLuint* textureId);

// The texture size for one axis: the driver's limit when the picture is
// larger than it, else 2^floor(log2(pixels) + 0.5).
int textureSizeFor(int pixels, int maxTextureSize);

// A picture ready for upload: texWidth x texHeight pixels of red, green,
// blue, 255, bottom row first.
struct TexturePixels {
    int pictureWidth = 0;
    int pictureHeight = 0;
    int texWidth = 0;
    int texHeight = 0;
    int decodeScaleDenom = 1;  // 1, 2, 4 or 8: the decoder's own reduction
    std::vector<uint8_t> rgba;
};

// Decodes and resamples the file at `path` (opened as given) for a driver
// whose limit is maxTextureSize. Touches no OpenGL state. On failure returns
// false with the reason.
bool decodePictureForTexture(const char* path, int maxTextureSize, TexturePixels* out,
                             std::string* reason);

// The same for a JPEG file's bytes held in memory.
bool decodePictureBytes(const uint8_t* bytes, std::size_t size, int maxTextureSize, TexturePixels* out,
                        std::string* reason);
