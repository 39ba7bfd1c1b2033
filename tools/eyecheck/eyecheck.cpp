// eyecheck.cpp -- tessera-eyecheck: does any eye ever sit inside a mesh it sees?
//
// Runs the demo's start-up and frame code in the offscreen context with the
// stepped clock (60 frames per second unless told otherwise) over the whole
// schedule. At every mesh draw it takes the modelview matrix of that moment,
// which holds the scene's camera and the draw's own rotations, translations
// and scale, carries the mesh into eye space and asks two things of the eye
// (the origin there): whether it lies inside the closed surface, by the
// generalised winding number, and how near it comes to the surface, in the
// eye's units. An eye inside a mesh sees only the mesh's back faces: culled,
// the mesh vanishes; unculled and filled, they flood the screen.
//
// Nothing is rasterised (the frames only need their matrices), so the whole
// schedule takes a few minutes. Prints one row per scene and mesh; exits 1
// when any frame had the eye inside a mesh it drew (beyond what --allow
// lets through).
//
// Usage (in build/assets):
//   tessera-eyecheck [--fps N] [--from MS] [--to MS] [--allow MESH=N] [--eyes FILE]
// --allow lets one mesh hold the eye in up to N frames without failing.
// --eyes writes, for every draw, the mesh, the position drawn and the eye in
// the mesh's own model space: the path that a mesh's shape must keep clear.
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/music.h"
#include "offscreen_gl.h"
#include "render/mesh.h"
#include "state/demo_state.h"
#include "shell/frame.h"
#include "shell/startup.h"
#include "state/schedule.h"
#include "window_offscreen.h"

namespace {

constexpr long kScheduleEndMs = schedule::kEndMs;

struct P3 {
    double x, y, z;
};
P3 operator-(P3 a, P3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
P3 operator+(P3 a, P3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
P3 operator*(P3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dot(P3 a, P3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
P3 cross(P3 a, P3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double norm(P3 a) { return std::sqrt(dot(a, a)); }

// The solid angle that triangle abc subtends at the origin, signed by its
// winding (Van Oosterom and Strackee).
double solidAngle(P3 a, P3 b, P3 c) {
    const double la = norm(a), lb = norm(b), lc = norm(c);
    const double numerator = dot(a, cross(b, c));
    const double denominator = la * lb * lc + dot(a, b) * lc + dot(a, c) * lb + dot(b, c) * la;
    return 2 * std::atan2(numerator, denominator);
}

// Distance from the origin to triangle abc: the closest point by the
// triangle's Voronoi regions (vertex, edge or face).
double distanceToTriangle(P3 a, P3 b, P3 c) {
    const P3 p{0, 0, 0};
    const P3 ab = b - a, ac = c - a, ap = p - a;
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) return norm(a);
    const P3 bp = p - b;
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return norm(b);
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return norm(a + ab * (d1 / (d1 - d3)));
    const P3 cp = p - c;
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return norm(c);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return norm(a + ac * (d2 / (d2 - d6)));
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0) return norm(b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6))));
    const double denominator = 1 / (va + vb + vc);
    return norm(a + ab * (vb * denominator) + ac * (vc * denominator));
}

// One row of the table: a mesh as one scene draws it.
struct Row {
    const char* scene;
    const char* mesh;
    const Mesh* data;
    double radius = 0;  // the farthest vertex from the model's origin
    long allowed = 0;  // --allow: frames inside that are not a failure
    long framesDrawn = 0, framesInside = 0;
    long lastDrawnFrame = -1, lastInsideFrame = -1;
    long firstInsideMs = -1, lastInsideMs = -1;
    double nearest = INFINITY;  // eye units
    long nearestMs = -1;
};

std::vector<Row> rows = {
    {"window", "meshC", &meshC}, {"window", "meshD", &meshD},      {"window", "meshE", &meshE},
    {"window", "meshF", &meshF}, {"halftone", "meshG", &meshG},    {"halftone", "meshH", &meshH},
    {"displaced", "meshI", &meshI}, {"cube volume", "meshA", &meshA}, {"floor", "meshB", &meshB},
    {"floor", "meshJ", &meshJ},
};

long currentFrame = 0;
std::array<float, 16> lastMatrix{};
const float* lastVertices = nullptr;
std::vector<P3> eyeSpace;  // the draw's corners, carried into eye space
FILE* eyesFile = nullptr;  // --eyes: the eye in each draw's model space

// Writes the eye's position in the draw's model space, -A^-1 t for the
// modelview x -> A x + t: the path a reshaped mesh has to keep clear of.
void writeModelSpaceEye(const char* mesh, const std::array<float, 16>& m) {
    const double a = m[0], b = m[4], c = m[8], d = m[1], e = m[5], f = m[9], g = m[2], h = m[6], i = m[10];
    const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    if (std::fabs(det) < 1e-12) return;  // a flattened draw encloses nothing
    const double tx = -m[12], ty = -m[13], tz = -m[14];
    const double x = ((e * i - f * h) * tx + (c * h - b * i) * ty + (b * f - c * e) * tz) / det;
    const double y = ((f * g - d * i) * tx + (a * i - c * g) * ty + (c * d - a * f) * tz) / det;
    const double z = ((d * h - e * g) * tx + (b * g - a * h) * ty + (a * e - b * d) * tz) / det;
    std::fprintf(eyesFile, "%s %ld %.5f %.5f %.5f\n", mesh, long(musicTimeMs), x, y, z);
}

Row* rowOf(const float* vertices) {
    for (Row& row : rows)
        if (row.data->vertices == vertices) return &row;
    return nullptr;
}

// Whether the eye (the origin of eye space) lies inside the closed surface
// that the draw makes under modelview matrix m; keeps the row's nearest
// approach up to date on the way.
bool eyeIsInside(Row& row, const std::array<float, 16>& m, const float* vertices, const MeshFace* faces,
                 int32_t faceCount, const float* normals, const float* displacement) {
    // Model space to eye space is x -> A x + t (column-major matrix).
    const P3 t{m[12], m[13], m[14]};
    const P3 columns[3] = {{m[0], m[1], m[2]}, {m[4], m[5], m[6]}, {m[8], m[9], m[10]}};
    double stretch = 0;  // an upper bound of how far A can lengthen a vector
    for (const P3& c : columns) stretch += dot(c, c);
    stretch = std::sqrt(stretch);
    double reach = row.radius;
    if (displacement) {
        double most = 0;
        for (int32_t k = 0; k < row.data->vertexCount; ++k) most = std::max(most, double(std::fabs(displacement[k])));
        reach += most;
    }
    // The whole mesh lies within reach * stretch of its origin: an eye
    // farther off than that plus the nearest approach so far is neither
    // inside nor nearer.
    if (norm(t) - reach * stretch > row.nearest) return false;

    const int32_t count = row.data->vertexCount;
    eyeSpace.resize(count);
    for (int32_t k = 0; k < count; ++k) {
        P3 v{vertices[3 * k], vertices[3 * k + 1], vertices[3 * k + 2]};
        if (displacement) {
            const float d = displacement[k];
            v = {normals[3 * k] * d + vertices[3 * k], normals[3 * k + 1] * d + vertices[3 * k + 1],
                 normals[3 * k + 2] * d + vertices[3 * k + 2]};
        }
        eyeSpace[k] = columns[0] * v.x + columns[1] * v.y + columns[2] * v.z + t;
    }
    double angle = 0, nearest = INFINITY;
    for (int32_t f = 0; f < faceCount; ++f) {
        const P3 a = eyeSpace[faces[f].corner[0]], b = eyeSpace[faces[f].corner[1]],
                 c = eyeSpace[faces[f].corner[2]], d = eyeSpace[faces[f].corner[3]];
        angle += solidAngle(a, b, c) + solidAngle(a, c, d);
        nearest = std::min({nearest, distanceToTriangle(a, b, c), distanceToTriangle(a, c, d)});
    }
    if (nearest < row.nearest) {
        row.nearest = nearest;
        row.nearestMs = long(musicTimeMs);
    }
    // The winding number is 1 inside an outward surface, 0 outside (-1
    // inside if a mirroring scale turned the surface inside out).
    return std::fabs(angle / (4 * M_PI)) > 0.5;
}

// The watcher every mesh draw calls: carries the drawn corners (displaced
// where the draw displaces them) into eye space and tests the eye against
// the closed surface they make.
void onMeshDraw(const float* vertices, const MeshFace* faces, int32_t faceCount, const float* normals,
                const float* displacement) {
    Row* row = rowOf(vertices);
    if (!row) {
        std::fprintf(stderr, "tessera-eyecheck: a draw of a mesh this check does not know\n");
        std::exit(2);
    }
    std::array<float, 16> m;
    glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
    if (row->lastDrawnFrame != currentFrame) {
        row->lastDrawnFrame = currentFrame;
        ++row->framesDrawn;
    }
    // The same mesh again under the same matrix (a lit pass and its glow)
    // is the same question; a displaced mesh changes shape every frame.
    static bool lastInside = false;
    if (displacement || vertices != lastVertices || m != lastMatrix) {
        lastVertices = vertices;
        lastMatrix = m;
        lastInside = eyeIsInside(*row, m, vertices, faces, faceCount, normals, displacement);
        if (eyesFile) writeModelSpaceEye(row->mesh, m);
    }
    if (lastInside && row->lastInsideFrame != currentFrame) {
        row->lastInsideFrame = currentFrame;
        ++row->framesInside;
        if (row->firstInsideMs < 0) row->firstInsideMs = long(musicTimeMs);
        row->lastInsideMs = long(musicTimeMs);
    }
}

long parseNumber(const char* text, const char* option) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 0) {
        std::fprintf(stderr, "tessera-eyecheck: %s needs a whole number >= 0, not \"%s\"\n", option, text);
        std::exit(2);
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    long fps = 60, from = 0, to = kScheduleEndMs - 1;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (i + 1 < argc && !std::strcmp(arg, "--fps")) fps = std::max(1L, parseNumber(argv[++i], arg));
        else if (i + 1 < argc && !std::strcmp(arg, "--from")) from = parseNumber(argv[++i], arg);
        else if (i + 1 < argc && !std::strcmp(arg, "--to")) to = std::min(parseNumber(argv[++i], arg), kScheduleEndMs - 1);
        else if (i + 1 < argc && !std::strcmp(arg, "--allow")) {
            const char* text = argv[++i];
            const char* equals = std::strchr(text, '=');
            Row* row = nullptr;
            for (Row& r : rows)
                if (equals && std::string(r.mesh) == std::string(text, equals)) row = &r;
            if (!row) {
                std::fprintf(stderr, "tessera-eyecheck: --allow needs MESH=FRAMES (meshA .. meshJ), not \"%s\"\n", text);
                return 2;
            }
            row->allowed = parseNumber(equals + 1, "--allow");
        } else if (i + 1 < argc && !std::strcmp(arg, "--eyes")) {
            if (!(eyesFile = std::fopen(argv[++i], "w"))) {
                std::fprintf(stderr, "tessera-eyecheck: cannot write %s\n", argv[i]);
                return 2;
            }
        } else {
            std::fprintf(stderr, "usage: tessera-eyecheck [--fps N] [--from MS] [--to MS] [--allow MESH=N] [--eyes FILE]  (in build/assets)\n");
            return 2;
        }
    }
    std::string reason;
    if (!musicFileIsPlayable(kMusicPath, &reason)) {
        std::fprintf(stderr, "tessera-eyecheck: cannot play \"%s\": %s\n", kMusicPath, reason.c_str());
        return 2;
    }
    if (!offscreenCreate(64, 48, &reason)) {
        std::fprintf(stderr, "tessera-eyecheck: no offscreen OpenGL: %s\n", reason.c_str());
        return 2;
    }
    pictureRect = fitPictureRect(64, 48);
    for (Row& row : rows)
        for (int32_t k = 0; k < row.data->vertexCount; ++k) {
            const float* v = row.data->vertices + 3 * k;
            row.radius = std::max(row.radius, std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]));
        }

    musicUseSteppedClock();
    runStartup();
    // Every pose comes from the matrices; no pixel is needed.
    glEnable(GL_RASTERIZER_DISCARD);
    // Effects carry state from the start, so every frame is drawn; the
    // frames before --from are not counted. The music's position drawn in a
    // frame is the clock of the update before it.
    for (long frame = 0; frame * 1000 / fps <= to; ++frame) {
        currentFrame = frame;
        meshDrawWatcher = long(musicTimeMs) >= from ? onMeshDraw : nullptr;
        musicSetSteppedTime(int(frame * 1000 / fps));
        runFrame();
        glFlush();
    }

    std::printf("%-12s %-6s %8s %8s %14s %12s  %s\n", "scene", "mesh", "frames", "inside", "nearest", "nearest at",
                "inside from .. to");
    long inside = 0, failing = 0;
    for (const Row& row : rows) {
        char span[64] = "-";
        if (row.framesInside)
            std::snprintf(span, sizeof span, "%.3f .. %.3f s", row.firstInsideMs / 1000.0, row.lastInsideMs / 1000.0);
        char nearest[32] = "-", at[32] = "-";
        if (row.nearestMs >= 0) {
            std::snprintf(nearest, sizeof nearest, "%.3f", row.nearest);
            std::snprintf(at, sizeof at, "%.3f s", row.nearestMs / 1000.0);
        }
        std::printf("%-12s %-6s %8ld %8ld %14s %12s  %s\n", row.scene, row.mesh, row.framesDrawn, row.framesInside,
                    nearest, at, span);
        inside += row.framesInside;
        if (row.framesInside > row.allowed) {
            std::printf("  %s holds the eye in %ld frame(s), more than the %ld allowed\n", row.mesh, row.framesInside,
                        row.allowed);
            ++failing;
        }
    }
    std::printf("%ld frame(s) with the eye inside a mesh it drew, at %ld fps\n", inside, fps);
    return failing ? 1 : 0;
}
