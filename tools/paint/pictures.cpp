// pictures.cpp -- which painter makes which file, and the chessboard frames.
#include "pictures.h"

#include <cstring>

#include "painters.h"

// The four chessboard frames. The demo shows them in the order 3, 2, 1, 0, a
// few tenths of a second each; read in that order the board splits itself
// in two, from four big quadrants down to a 16 x 16 board, so the flicker
// speeds up as the music drives into the next scene. Every cell is a whole
// number of texels, so nearest filtering keeps each edge on a texel boundary
// and the board stays pure black and white on screen.
void paintChessboard(Canvas& canvas, int frame) {
    int cells = 16 >> frame;  // frame 3: 2 x 2, frame 0: 16 x 16
    int cellWidth = canvas.width / cells;
    int cellHeight = canvas.height / cells;
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            bool white = ((x / cellWidth) + (y / cellHeight)) % 2 == 0;
            canvas.at(x, y) = white ? Rgb{1, 1, 1} : Rgb{0, 0, 0};
        }
    }
}

bool paintPicture(const PictureInfo& info, Canvas* out, std::string* reason) {
    Canvas canvas(info.width, info.height);
    std::string name = info.name;
    bool ok = true;
    if (name == "intro") ok = paintIntroCard(canvas, reason);
    else if (name == "who") ok = paintClosingCard(canvas, reason);
    else if (name == "oruvaface") paintContourFace(canvas);
    else if (name == "oruvaface_anti") paintHollowFace(canvas);
    else if (name == "viso") paintMosaicFace(canvas);
    else if (name == "radial3") paintRadialBurst(canvas);
    else if (name == "ecli2_g") paintCorona(canvas);
    else if (name == "ecli2_r") paintRedEclipseMap(canvas);
    else if (name == "ecli2_b") paintBlueEclipseMap(canvas);
    else if (name == "veloppo") paintDuskMap(canvas);
    else if (name == "veloppo3") paintAuroraMap(canvas);
    else if (name == "scacchi") paintChessboard(canvas, 0);
    else if (name == "scacchi2") paintChessboard(canvas, 1);
    else if (name == "scacchi3") paintChessboard(canvas, 2);
    else if (name == "scacchi4") paintChessboard(canvas, 3);
    else {
        *reason = "no painter for " + name;
        return false;
    }
    if (!ok) return false;
    *out = std::move(canvas);
    return true;
}
