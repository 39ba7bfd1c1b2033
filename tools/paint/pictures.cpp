// pictures.cpp -- which painter makes which file, and the chessboard frames.
#include "pictures.h"

#include <algorithm>
#include <cmath>

#include "painters.h"

// The four chessboard frames: a chessboard tunnel, square rings of black and
// white cells running into the screen towards a black vanishing hole. The
// demo shows the frames in the order 3, 2, 1, 0; in each frame the viewer
// has flown half a cell further in than in the one before (the rings come
// out towards the screen's edge), and four frames make two
// cells, one whole period of the board, so the order 0, 3 (the board first
// appears on frame 0) continues the same motion. Every texel is pure black
// or pure white: nearest filtering turns each into a sharp block.
void paintChessboard(Canvas& canvas, int frame) {
    const float depthScale = 1.6f;    // cells per unit of depth 1 / r
    const float nearestHole = 0.3f;   // rings smaller than this are lost to the dark
    const int segmentsPerSide = 4;    // cells along each side of a ring
    float travel = 0.5f * float(3 - frame);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            float u = ((x + 0.5f) / canvas.width) * 2 - 1;
            float v = ((y + 0.5f) / canvas.height) * 2 - 1;
            float r = std::max(std::fabs(u), std::fabs(v));  // square rings
            bool white = false;
            if (r >= nearestHole) {
                int ring = int(std::floor(depthScale / r + travel));
                // Position along the ring's perimeter, 0..4 sides, from the
                // top-left corner clockwise; each side is split into cells.
                float side;
                if (v <= -r + 1e-6f) side = (u / r + 1) * 0.5f;
                else if (u >= r - 1e-6f) side = 1 + (v / r + 1) * 0.5f;
                else if (v >= r - 1e-6f) side = 2 + (1 - u / r) * 0.5f;
                else side = 3 + (1 - v / r) * 0.5f;
                int segment = int(std::floor(side * segmentsPerSide));
                white = ((ring + segment) & 1) == 0;
            }
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
