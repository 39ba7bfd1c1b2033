// picture_list.h -- the fifteen pictures the demo loads, as the painter makes them.
//
// One table shared by the painter, the contact sheet and the tests, so the
// three agree on names, sizes and how each picture is shown on screen.
#pragma once

#include <array>

// How the demo puts a picture on screen, which decides how it must be painted.
enum class PictureUse {
    TitleCard,   // added onto the frame as a card; black wherever nothing shows
    Overlay,     // full-screen additive layer; black wherever nothing shows
    SphereMap,   // wrapped over a mesh through sphere-map coordinates
    Chessboard,  // black-and-white frame at nearest filtering, full strength
};

// A rectangle in picture pixels, x0/y0 inclusive, x1/y1 exclusive, top row 0.
struct PixelRect {
    int x0, y0, x1, y1;
};

struct PictureInfo {
    const char* name;  // file name under textures/
    int width;
    int height;
    PictureUse use;
};

// Sizes are chosen for the screen size each picture ends up at. The two title
// cards are small on purpose: the card covers only the middle ~38% of the
// 640 x 480 screen and the texture is sampled without mipmaps, so 360 x 270
// (rounded by the loader to 256 x 256) is drawn almost 1:1 and thin strokes
// do not break up. The face layers are full screen at 640 x 480. Chessboards
// stay small powers of two so the loader copies them without resampling and
// the blocks stay sharp under nearest filtering.
inline constexpr std::array<PictureInfo, 15> kPictures = {{
    {"intro", 360, 270, PictureUse::TitleCard},
    {"who", 360, 270, PictureUse::TitleCard},
    {"oruvaface", 640, 480, PictureUse::Overlay},
    {"oruvaface_anti", 640, 480, PictureUse::Overlay},
    {"viso", 512, 512, PictureUse::Overlay},
    {"radial3", 512, 512, PictureUse::Overlay},
    {"ecli2_g", 512, 512, PictureUse::Overlay},
    {"ecli2_r", 512, 512, PictureUse::SphereMap},
    {"ecli2_b", 512, 512, PictureUse::SphereMap},
    {"veloppo", 512, 512, PictureUse::SphereMap},
    {"veloppo3", 512, 512, PictureUse::SphereMap},
    {"scacchi", 128, 128, PictureUse::Chessboard},
    {"scacchi2", 128, 128, PictureUse::Chessboard},
    {"scacchi3", 128, 128, PictureUse::Chessboard},
    {"scacchi4", 128, 128, PictureUse::Chessboard},
}};

// Where the lettering of the title cards lies. The painter refuses to write a
// card whose text strays outside these boxes; the tests look for ink in them.
inline constexpr PixelRect kIntroTitleBox = {30, 70, 330, 160};
inline constexpr PixelRect kIntroSubtitleBox = {30, 180, 330, 215};
inline constexpr PixelRect kWhoCreditsBox = {30, 40, 330, 230};

// Width of the margin on every side of a title card that carries no ink. The
// card's quad shows only the left 99% of the picture, so the right margin in
// particular must hold nothing that matters.
inline constexpr int kTitleMargin = 20;

// JPEG quality of every picture; chessboards go at the top of the scale so
// their hard edges keep no ringing worth seeing.
inline constexpr int kJpegQuality = 95;
inline constexpr int kChessboardJpegQuality = 100;
