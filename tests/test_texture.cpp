// Texture loader: sizes, row order, filters, upload format, and every way a
// load can fail without harming the caller or the process.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "offscreen_gl.h"
#include "render/texture.h"
#include "test_texture_util.h"

using namespace testpics;

namespace {

class TextureLoader : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        ASSERT_TRUE(offscreenCreate(640, 480, &reason)) << reason;
        ASSERT_FALSE(dir.path().empty());
    }
    // Reads the bound texture's level 0 back as RGBA, first row first.
    static std::vector<uint8_t> readBoundTexture(int* width, int* height) {
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, height);
        std::vector<uint8_t> texels(static_cast<size_t>(*width) * *height * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        return texels;
    }
    ScratchDir dir;
};

// Sum of absolute channel differences between a texel and a colour.
int distance(const uint8_t* texel, int r, int g, int b) {
    return std::abs(texel[0] - r) + std::abs(texel[1] - g) + std::abs(texel[2] - b);
}

TEST(TextureSize, RoundsEachAxisOnALogScaleAndCapsAtTheLimit) {
    struct Case {
        int pixels, limit, expected;
    } cases[] = {
        {1, 16384, 1},      {2, 16384, 2},      {3, 16384, 4},     {5, 16384, 4},
        {6, 16384, 8},      {64, 16384, 64},    {362, 16384, 256}, {363, 16384, 512},
        {480, 16384, 512},  {600, 16384, 512},  {640, 16384, 512}, {724, 16384, 512},
        {725, 16384, 1024}, {800, 16384, 1024},
        // Only a size above the limit takes it, unrounded; the limit itself rounds.
        {800, 512, 512},    {513, 512, 512},    {512, 512, 512},   {700, 600, 600},
        {600, 600, 512},    {1024, 1024, 1024}, {1449, 1448, 1448},
    };
    for (const Case& c : cases)
        EXPECT_EQ(textureSizeFor(c.pixels, c.limit), c.expected) << c.pixels << " pixels, limit " << c.limit;
}

TEST_F(TextureLoader, PicturesBecomePowerOfTwoTexturesStoredBottomRowFirst) {
    struct Case {
        int width, height, texWidth, texHeight;
    } cases[] = {{640, 480, 512, 512}, {800, 600, 1024, 512}, {64, 32, 64, 32}, {3, 5, 4, 4}, {1, 1, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const std::string path = dir.file("q.jpg");
        const Picture picture = c.width >= 2 && c.height >= 2 ? quadrants(c.width, c.height)
                                                                : makePicture(1, 1, [](int, int, uint8_t* p) {
                                                                      p[0] = 200, p[1] = 100, p[2] = 50;
                                                                  });
        ASSERT_TRUE(writeJpeg(path, picture));
        GLuint id = 0;
        ASSERT_EQ(loadTexture(path.c_str(), &id), 1);
        ASSERT_NE(id, 0u);
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(static_cast<GLuint>(bound), id) << "the new texture is left bound";
        int w = 0, h = 0;
        const std::vector<uint8_t> texels = readBoundTexture(&w, &h);
        EXPECT_EQ(w, c.texWidth);
        EXPECT_EQ(h, c.texHeight);
        if (c.width >= 8) {
            // First row in memory is the picture's bottom: blue left, white right.
            const auto texel = [&](int x, int y) { return &texels[(static_cast<size_t>(y) * w + x) * 4]; };
            EXPECT_LE(distance(texel(w / 8, h / 8), 0, 0, 255), 30);
            EXPECT_LE(distance(texel(w - 1 - w / 8, h / 8), 255, 255, 255), 30);
            EXPECT_LE(distance(texel(w / 8, h - 1 - h / 8), 255, 0, 0), 30);
            EXPECT_LE(distance(texel(w - 1 - w / 8, h - 1 - h / 8), 0, 255, 0), 30);
            EXPECT_EQ(texel(0, 0)[3], 255);
        } else if (c.width == 1) {
            EXPECT_LE(distance(texels.data(), 200, 100, 50), 12);
        }
        glDeleteTextures(1, &id);
    }
}

TEST_F(TextureLoader, FiltersUploadFormatAndNoMipmaps) {
    const std::string path = dir.file("board.jpg");
    ASSERT_TRUE(writeJpeg(path, quadrants(64, 64)));
    struct Case {
        int (*load)(const char*, GLuint*);
        GLint filter;
    } cases[] = {{loadTexture, GL_LINEAR}, {loadTextureNearest, GL_NEAREST}};
    for (const Case& c : cases) {
        GLuint id = 0;
        glEnable(0x7FFF);  // an error someone else left pending does not fail the load
        ASSERT_EQ(c.load(path.c_str(), &id), 1);
        GLint minFilter = 0, magFilter = 0, wrapS = 0, wrapT = 0, level1Width = -1, alphaBits = -1;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1Width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alphaBits);
        EXPECT_EQ(minFilter, c.filter);
        EXPECT_EQ(magFilter, c.filter);
        EXPECT_EQ(wrapS, GL_REPEAT);
        EXPECT_EQ(wrapT, GL_REPEAT);
        EXPECT_EQ(level1Width, 0) << "no mipmap levels are built";
        EXPECT_EQ(alphaBits, 0) << "three-component texture: the alpha byte is not kept";
        glDeleteTextures(1, &id);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(TextureLoader, SameFileTwiceGivesTwoTexturesAndRelativePathsUseTheWorkingDirectory) {
    ASSERT_EQ(mkdir(dir.file("textures").c_str(), 0755), 0);
    ASSERT_TRUE(writeJpeg(dir.file("textures/viso.jpg"), quadrants(32, 32)));
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    GLuint first = 0, second = 0;
    const int firstResult = loadTexture("textures/viso.jpg", &first);
    const int secondResult = loadTexture("textures/viso.jpg", &second);
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(firstResult, 1);
    EXPECT_EQ(secondResult, 1);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    glDeleteTextures(1, &first);
    glDeleteTextures(1, &second);
}

TEST_F(TextureLoader, CallersPixelStoreStateNeitherDisturbsNorIsDisturbed) {
    const std::string path = dir.file("odd.jpg");  // 3-byte rows of odd length
    ASSERT_TRUE(writeJpeg(path, quadrants(37, 29)));
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
    glPixelStorei(GL_PACK_ALIGNMENT, 2);
    GLuint id = 0;
    ASSERT_EQ(loadTexture(path.c_str(), &id), 1);
    GLint unpackAlignment = 0, unpackRowLength = 0, packAlignment = 0;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &unpackAlignment);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &unpackRowLength);
    glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
    EXPECT_EQ(unpackAlignment, 8);
    EXPECT_EQ(unpackRowLength, 7);
    EXPECT_EQ(packAlignment, 2);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    int w = 0, h = 0;
    const std::vector<uint8_t> texels = readBoundTexture(&w, &h);
    ASSERT_EQ(w, 32);
    ASSERT_EQ(h, 32);
    // Bottom-left blue and top-right green survive the odd row length.
    EXPECT_LE(distance(&texels[(2 * 32 + 2) * 4], 0, 0, 255), 40);
    EXPECT_LE(distance(&texels[(29 * 32 + 29) * 4], 0, 255, 0), 40);
    glDeleteTextures(1, &id);
}

// Large pictures over the limit are reduced inside the decoder first, and the
// result still lands the right way up at exactly the limit.
TEST_F(TextureLoader, DecoderReducesPicturesFarAboveTheLimit) {
    const std::string path = dir.file("big.jpg");
    ASSERT_TRUE(writeJpeg(path, quadrants(1024, 512)));
    struct Case {
        int limit, texWidth, texHeight, denom;
    } cases[] = {{64, 64, 64, 8}, {128, 128, 128, 4}, {256, 256, 256, 2}, {300, 300, 300, 1},
                 {200, 200, 200, 2}, {16384, 1024, 512, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE("limit " + std::to_string(c.limit));
        TexturePixels pixels;
        std::string reason;
        ASSERT_TRUE(decodePictureForTexture(path.c_str(), c.limit, &pixels, &reason)) << reason;
        EXPECT_EQ(pixels.pictureWidth, 1024);
        EXPECT_EQ(pixels.pictureHeight, 512);
        EXPECT_EQ(pixels.texWidth, c.texWidth);
        EXPECT_EQ(pixels.texHeight, c.texHeight);
        EXPECT_EQ(pixels.decodeScaleDenom, c.denom);
        ASSERT_EQ(pixels.rgba.size(), static_cast<size_t>(c.texWidth) * c.texHeight * 4);
        const auto texel = [&](int x, int y) { return &pixels.rgba[(static_cast<size_t>(y) * c.texWidth + x) * 4]; };
        const int w = c.texWidth, h = c.texHeight;
        EXPECT_LE(distance(texel(w / 8, h / 8), 0, 0, 255), 30);
        EXPECT_LE(distance(texel(w - 1 - w / 8, h - 1 - h / 8), 0, 255, 0), 30);
        EXPECT_EQ(texel(w / 2, h / 2)[3], 255);
    }
}

// Every colour space and coding that JPEG files use comes out as the same
// upright RGB (tools/testpictures writes them): four quadrants, one a dark
// colour that needs the black ink. Every other picture is reduced in the
// decoder (limit 16).
TEST(TextureColourSpaces, EveryColourSpaceGivesTheSameUprightColours) {
    const int colours[4][3] = {{255, 0, 0}, {40, 160, 90}, {0, 0, 255}, {255, 255, 255}};  // TL TR BL BR
    const char* names[] = {"grey", "ycbcr", "rgb", "cmyk-adobe", "cmyk-plain", "ycck", "cmyk-progressive",
                           "ycck-restarts", "ycbcr-arithmetic"};
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(names[i]);
        const std::string path = std::string(TESSERA_TESTDATA_DIR "/pictures/") + names[i] + ".jpg";
        const int limit = i % 2 ? 16 : 64;
        TexturePixels pixels;
        std::string reason;
        ASSERT_TRUE(decodePictureForTexture(path.c_str(), limit, &pixels, &reason)) << reason;
        ASSERT_EQ(pixels.texWidth, limit);
        for (int q = 0; q < 4; ++q) {  // bottom row first: the top quadrants lie at high y
            const int x = (q % 2 ? 3 : 1) * limit / 4, y = (q < 2 ? 3 : 1) * limit / 4;
            const uint8_t* texel = &pixels.rgba[(static_cast<size_t>(y) * limit + x) * 4];
            const int* c = colours[q];
            const int luma = (299 * c[0] + 587 * c[1] + 114 * c[2] + 500) / 1000;
            if (i == 0)
                EXPECT_LE(distance(texel, luma, luma, luma), 12) << "quadrant " << q;
            else
                EXPECT_LE(distance(texel, c[0], c[1], c[2]), 16) << "quadrant " << q;
            EXPECT_EQ(texel[3], 255);
        }
        // The same bytes from memory give the same pixels.
        TexturePixels fromBytes;
        const std::vector<uint8_t> bytes = readBytes(path);
        ASSERT_TRUE(decodePictureBytes(bytes.data(), bytes.size(), limit, &fromBytes, &reason)) << reason;
        EXPECT_EQ(fromBytes.rgba, pixels.rgba);
    }
}

// Every failure: result 0, the caller's variable as it was, one line on
// stderr naming the file, no GL error, and the loader still works after.
TEST_F(TextureLoader, FailuresLeaveTheVariableAloneAndSayWhyInOneLine) {
    const std::string good = dir.file("good.jpg");
    ASSERT_TRUE(writeJpeg(good, quadrants(64, 48)));
    const std::vector<uint8_t> jpeg = readBytes(good);
    const size_t sof = findFrameHeader(jpeg);
    ASSERT_GT(sof, 0u);

    writeBytes(dir.file("empty.jpg"), {});
    writeBytes(dir.file("text.jpg"), {'h', 'e', 'l', 'l', 'o', '\n'});
    writeBytes(dir.file("truncated.jpg"), std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
    writeBytes(dir.file("headeronly.jpg"), std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + sof + 4));
    // Damage inside the compressed data: an early end marker, and noise.
    const size_t data = findScanData(jpeg);
    ASSERT_GT(data, 0u);
    std::vector<uint8_t> earlyEnd = jpeg;
    earlyEnd[data + 2] = 0xFF, earlyEnd[data + 3] = 0xD9;
    writeBytes(dir.file("earlyend.jpg"), earlyEnd);
    std::vector<uint8_t> noise = jpeg;
    uint32_t seed = 7;
    for (size_t i = data; i < noise.size() - 2; ++i) noise[i] = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    writeBytes(dir.file("noise.jpg"), noise);
    std::vector<uint8_t> zeroWide = jpeg;
    zeroWide[sof + 7] = zeroWide[sof + 8] = 0;
    writeBytes(dir.file("zerowide.jpg"), zeroWide);
    std::vector<uint8_t> zeroHigh = jpeg;
    zeroHigh[sof + 5] = zeroHigh[sof + 6] = 0;
    writeBytes(dir.file("zerohigh.jpg"), zeroHigh);
    std::vector<uint8_t> huge = jpeg;  // claims 60000 x 60000
    huge[sof + 5] = huge[sof + 7] = 0xEA;
    huge[sof + 6] = huge[sof + 8] = 0x60;
    writeBytes(dir.file("huge.jpg"), huge);
    std::vector<uint8_t> wideStrip = jpeg;  // 16000 x 6000: each side allowed, 275 MB decoded is not
    wideStrip[sof + 5] = 0x17, wideStrip[sof + 6] = 0x70;
    wideStrip[sof + 7] = 0x3E, wideStrip[sof + 8] = 0x80;
    writeBytes(dir.file("widestrip.jpg"), wideStrip);
    ASSERT_EQ(mkdir(dir.file("folder.jpg").c_str(), 0755), 0);

    const std::string longRelative = "textures/" + std::string(250, 'a') + ".jpg";
    const std::string cases[] = {
        dir.file("missing.jpg"),   dir.file("empty.jpg"),    dir.file("text.jpg"),
        dir.file("truncated.jpg"), dir.file("headeronly.jpg"), dir.file("earlyend.jpg"), dir.file("noise.jpg"),
        dir.file("zerowide.jpg"),  dir.file("zerohigh.jpg"), dir.file("huge.jpg"),
        dir.file("widestrip.jpg"), dir.file("folder.jpg"),   "http://example.invalid/pic.jpg",
        dir.file("http://x.jpg"),  longRelative,
    };
    for (const std::string& path : cases) {
        for (auto load : {loadTexture, loadTextureNearest}) {
            SCOPED_TRACE(path);
            GLuint id = 4242;
            ::testing::internal::CaptureStderr();
            const int result = load(path.c_str(), &id);
            const std::string err = ::testing::internal::GetCapturedStderr();
            EXPECT_EQ(result, 0);
            EXPECT_EQ(id, 4242u);
            EXPECT_NE(err.find(path), std::string::npos) << err;
            ASSERT_FALSE(err.empty());
            EXPECT_EQ(err.find('\n'), err.size() - 1) << "exactly one line: " << err;
            EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        }
    }
    GLuint later = 0;
    EXPECT_EQ(loadTexture(good.c_str(), &later), 1);
    EXPECT_NE(later, 0u);
    glDeleteTextures(1, &later);
}

TEST_F(TextureLoader, FullPathsUpTo259CharactersLoadAndLongerAreRefused) {
    // The working directory plus '/' plus the relative name makes the full
    // path; 259 characters fit, 260 do not.
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    const size_t prefix = dir.path().size() + 1;
    const std::string fits(259 - prefix, 'f');
    const std::string tooLong(260 - prefix, 'g');
    ASSERT_TRUE(writeJpeg(dir.file(fits), quadrants(8, 8)));
    ASSERT_TRUE(writeJpeg(dir.file(tooLong), quadrants(8, 8)));
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    GLuint fitsId = 0, tooLongId = 0, absoluteId = 0;
    const int fitsResult = loadTexture(fits.c_str(), &fitsId);
    ::testing::internal::CaptureStderr();
    const int tooLongResult = loadTexture(tooLong.c_str(), &tooLongId);
    const int absoluteResult = loadTexture(dir.file(tooLong).c_str(), &absoluteId);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(fitsResult, 1);
    EXPECT_EQ(tooLongResult, 0);
    EXPECT_EQ(absoluteResult, 0);
    EXPECT_EQ(tooLongId, 0u);
    EXPECT_EQ(absoluteId, 0u);
    EXPECT_NE(err.find("260 characters"), std::string::npos) << err;
    glDeleteTextures(1, &fitsId);
}

}  // namespace
