// The texture loader, and every way a load can fail harmlessly.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "offscreen_gl.h"
#include "render/gl_errors.h"
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

// One integer of GL state, one parameter of the bound texture.
GLint integer(GLenum name) {
    GLint value = 0;
    return glGetIntegerv(name, &value), value;
}
GLint texParameter(GLenum name) {
    GLint value = 0;
    return glGetTexParameteriv(GL_TEXTURE_2D, name, &value), value;
}

// Sum of absolute channel differences between a texel and a colour.
int distance(const uint8_t* texel, int r, int g, int b) {
    return std::abs(texel[0] - r) + std::abs(texel[1] - g) + std::abs(texel[2] - b);
}

// The quadrants picture as texels, bottom row first: blue and white low,
// red and green high, every one opaque. Samples an eighth in from each corner.
void expectQuadrants(const uint8_t* rgba, int w, int h, int tolerance) {
    const int colours[4][3] = {{0, 0, 255}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}};
    for (int q = 0; q < 4; ++q) {
        const int x = q % 2 ? w - 1 - w / 8 : w / 8, y = q < 2 ? h / 8 : h - 1 - h / 8;
        const uint8_t* texel = &rgba[(static_cast<size_t>(y) * w + x) * 4];
        EXPECT_LE(distance(texel, colours[q][0], colours[q][1], colours[q][2]), tolerance) << "quadrant " << q;
        EXPECT_EQ(texel[3], 255) << "quadrant " << q;
    }
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

// Every load, under a caller's pixel-store state that would garble rows (and
// must be left as it was) and an error someone else left pending (which must
// not fail it): a power-of-two texture stored bottom row first, filtered as
// asked, repeating, without mipmaps or alpha, left bound.
TEST_F(TextureLoader, PicturesBecomePowerOfTwoTexturesStoredBottomRowFirst) {
    struct Case {
        int width, height, texWidth, texHeight;
        bool nearest;
    } cases[] = {{640, 480, 512, 512, false}, {800, 600, 1024, 512, false}, {64, 32, 64, 32, true},
                 {37, 29, 32, 32, false},     {3, 5, 4, 4, true},             {1, 1, 1, 1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const std::string path = dir.file("q.jpg");
        const Picture picture = c.width >= 2 && c.height >= 2 ? quadrants(c.width, c.height)
                                                                : makePicture(1, 1, [](int, int, uint8_t* p) {
                                                                      p[0] = 200, p[1] = 100, p[2] = 50;
                                                                  });
        ASSERT_TRUE(writeJpeg(path, picture));
        glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
        glPixelStorei(GL_PACK_ALIGNMENT, 2);
        glEnable(0x7FFF);
        GLuint id = 0;
        ASSERT_EQ((c.nearest ? loadTextureNearest : loadTexture)(path.c_str(), &id), 1);
        ASSERT_NE(id, 0u);
        EXPECT_EQ(static_cast<GLuint>(integer(GL_TEXTURE_BINDING_2D)), id) << "the new texture is left bound";
        EXPECT_EQ(integer(GL_UNPACK_ALIGNMENT), 8);
        EXPECT_EQ(integer(GL_UNPACK_ROW_LENGTH), 7);
        EXPECT_EQ(integer(GL_PACK_ALIGNMENT), 2);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        const GLint filter = c.nearest ? GL_NEAREST : GL_LINEAR;
        EXPECT_EQ(texParameter(GL_TEXTURE_MIN_FILTER), filter);
        EXPECT_EQ(texParameter(GL_TEXTURE_MAG_FILTER), filter);
        EXPECT_EQ(texParameter(GL_TEXTURE_WRAP_S), GL_REPEAT);
        EXPECT_EQ(texParameter(GL_TEXTURE_WRAP_T), GL_REPEAT);
        GLint level1Width = -1, alphaBits = -1;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1Width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alphaBits);
        EXPECT_EQ(level1Width, 0) << "no mipmap levels are built";
        EXPECT_EQ(alphaBits, 0) << "three-component texture: the alpha byte is not kept";
        int w = 0, h = 0;
        const std::vector<uint8_t> texels = readBoundTexture(&w, &h);
        EXPECT_EQ(w, c.texWidth);
        EXPECT_EQ(h, c.texHeight);
        if (c.width >= 8) expectQuadrants(texels.data(), w, h, 30);
        if (c.width == 1) {
            EXPECT_LE(distance(texels.data(), 200, 100, 50), 12);
        }
        glDeleteTextures(1, &id);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
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
        expectQuadrants(pixels.rgba.data(), c.texWidth, c.texHeight, 30);
    }
}

// Every colour space and coding of JPEG (tools/testpictures writes them) gives
// the same upright quadrants, one a dark colour that needs the black ink;
// every other picture is reduced in the decoder (limit 16). The last two
// carry what libjpeg only warns about and other decoders open: a JFIF
// revision of 2.01, stray bytes before a marker.
TEST(TextureColourSpaces, EveryColourSpaceGivesTheSameUprightColours) {
    const int colours[4][3] = {{255, 0, 0}, {40, 160, 90}, {0, 0, 255}, {255, 255, 255}};  // TL TR BL BR
    const char* names[] = {"grey", "ycbcr", "rgb", "cmyk-adobe", "cmyk-plain", "ycck", "cmyk-progressive",
                           "ycck-restarts", "ycbcr-arithmetic", "jfif-201", "stray-bytes"};
    for (int i = 0; i < 11; ++i) {
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
    const size_t data = findScanData(jpeg);
    ASSERT_TRUE(sof > 0 && data > 0);
    // A copy of the good file with bytes set from the given offset on.
    const auto patched = [&](const char* name, size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> copy = jpeg;
        std::copy(bytes.begin(), bytes.end(), copy.begin() + static_cast<long>(at));
        writeBytes(dir.file(name), copy);
    };
    writeBytes(dir.file("empty.jpg"), {});
    writeBytes(dir.file("text.jpg"), {'h', 'e', 'l', 'l', 'o', '\n'});
    writeBytes(dir.file("truncated.jpg"), std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
    writeBytes(dir.file("headeronly.jpg"), std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + sof + 4));
    patched("earlyend.jpg", data + 2, {0xFF, 0xD9});  // an end marker inside the compressed data
    std::vector<uint8_t> noise(jpeg.size() - 2 - data);
    uint32_t seed = 7;
    for (uint8_t& byte : noise) byte = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    patched("noise.jpg", data, noise);
    patched("zerowide.jpg", sof + 7, {0, 0});
    patched("zerohigh.jpg", sof + 5, {0, 0});
    patched("huge.jpg", sof + 5, {0xEA, 0x60, 0xEA, 0x60});       // 60000 x 60000
    patched("widestrip.jpg", sof + 5, {0x17, 0x70, 0x3E, 0x80});  // 16000 x 6000: each side allowed, 275 MB not
    ASSERT_EQ(mkdir(dir.file("folder.jpg").c_str(), 0755), 0);

    std::vector<std::string> cases = {"http://example.invalid/pic.jpg", dir.file("http://x.jpg"),
                                      "textures/" + std::string(250, 'a') + ".jpg"};
    for (const char* name : {"missing", "empty", "text", "truncated", "headeronly", "earlyend", "noise", "zerowide",
                             "zerohigh", "huge", "widestrip", "folder"})
        cases.push_back(dir.file(name) + ".jpg");
    std::string said;
    for (const std::string& path : cases) {
        for (auto load : {loadTexture, loadTextureNearest}) {
            SCOPED_TRACE(path);
            GLuint id = 4242;
            ::testing::internal::CaptureStderr();
            const int result = load(path.c_str(), &id);
            const std::string err = ::testing::internal::GetCapturedStderr();
            said += err;
            EXPECT_EQ(result, 0);
            EXPECT_EQ(id, 4242u);
            if (load == loadTexture) {
                EXPECT_NE(err.find(path), std::string::npos) << err;
                EXPECT_EQ(err.find('\n'), err.size() - 1) << "exactly one line: " << err;
            } else {
                EXPECT_EQ(err, "") << "a picture that failed is said at its first load only";
            }
            EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        }
    }
    // The size refusals name the limit that was exceeded.
    EXPECT_NE(said.find("60000 x 60000 pixels, over the limit of 16384 pixels a side"), std::string::npos);
    EXPECT_NE(said.find("16000 x 6000 pixels, 366 MiB decoded, over the limit of 256 MiB"), std::string::npos);
    GLuint later = 0;
    EXPECT_EQ(loadTexture(good.c_str(), &later), 1);
    EXPECT_NE(later, 0u);
    glDeleteTextures(1, &later);
}

// An error someone else raised is reported by the next load, once, naming
// it, and counted for tessera-render --check; the load itself succeeds. A
// missing folder is said at the first load from it and not again.
TEST_F(TextureLoader, PendingGlErrorsAndAMissingFolderAreEachSaidOnce) {
    const std::string good = dir.file("good.jpg"), a = dir.file("gone/a.jpg"), b = dir.file("gone/b.jpg");
    ASSERT_TRUE(writeJpeg(good, quadrants(16, 16)));
    const std::string me = program_invocation_short_name;  // each program speaks with its own name
    const long before = glErrorsFound();
    glEnable(0x1234);
    GLuint id = 0, first = 7, second = 7, again = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(loadTexture(good.c_str(), &id), 1);
    EXPECT_EQ(loadTexture(good.c_str(), &again), 1);
    EXPECT_EQ(loadTexture(a.c_str(), &first) + loadTexture(b.c_str(), &second), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              me + ": OpenGL error GL_INVALID_ENUM (0x0500) pending before the load of " + good +
                  " (raised earlier, by start-up or a scene)\n" + me + ": cannot load picture " + a + ": its folder " +
                  dir.file("gone") + " is missing; no other picture from it is mentioned; its effect draws untextured\n");
    EXPECT_EQ(glErrorsFound(), before + 1);
    EXPECT_EQ(first + second, 14u);
    glDeleteTextures(1, &id);
    glDeleteTextures(1, &again);
}

TEST_F(TextureLoader, RelativePathsUpTo259FullCharactersLoadEachTimeAndLongerAreRefused) {
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
    GLuint fitsId = 0, againId = 0;
    const int fitsResult = loadTexture(fits.c_str(), &fitsId);
    const int againResult = loadTexture(fits.c_str(), &againId);  // the same file twice: two textures
    ::testing::internal::CaptureStderr();
    for (const std::string& path : {tooLong, dir.file(tooLong)}) {
        GLuint id = 4242;
        EXPECT_EQ(loadTexture(path.c_str(), &id), 0) << path;
        EXPECT_EQ(id, 4242u);
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(fitsResult, 1);
    EXPECT_EQ(againResult, 1);
    EXPECT_NE(fitsId, 0u);
    EXPECT_NE(againId, fitsId);
    EXPECT_NE(err.find("260 characters"), std::string::npos) << err;
    glDeleteTextures(1, &fitsId);
    glDeleteTextures(1, &againId);
}

}  // namespace
