// fuzz_picture -- the picture loader from a file's bytes to the pixels that
// would go to OpenGL: header checks, the size rule, every colour space, the
// decoder's own reduction and the rescale. Whatever the bytes, the loader
// must either refuse them with a reason or hand over a complete texture.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "render/texture.h"

// Two driver limits: a generous one, and a small one that makes most
// pictures take the cap and the decoder's reduction. The input's length
// picks one, so that both paths are explored without a second decode.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int maxTextureSize = size % 2 ? 256 : 16384;
    TexturePixels pixels;
    std::string reason;
    if (!decodePictureBytes(data, size, maxTextureSize, &pixels, &reason)) {
        if (reason.empty()) {
            std::fprintf(stderr, "refused without a reason\n");
            std::abort();
        }
        return 0;
    }
    const bool sizesRight = pixels.texWidth == textureSizeFor(pixels.pictureWidth, maxTextureSize) &&
                            pixels.texHeight == textureSizeFor(pixels.pictureHeight, maxTextureSize) &&
                            pixels.texWidth >= 1 && pixels.texHeight >= 1 &&
                            pixels.rgba.size() == size_t(4) * pixels.texWidth * pixels.texHeight;
    if (!sizesRight) {
        std::fprintf(stderr, "picture %d x %d gave texture %d x %d with %zu bytes\n", pixels.pictureWidth,
                     pixels.pictureHeight, pixels.texWidth, pixels.texHeight, pixels.rgba.size());
        std::abort();
    }
    for (size_t i = 3; i < pixels.rgba.size(); i += 4)
        if (pixels.rgba[i] != 255) {
            std::fprintf(stderr, "alpha byte %zu is %d, not 255\n", i, pixels.rgba[i]);
            std::abort();
        }
    return 0;
}
