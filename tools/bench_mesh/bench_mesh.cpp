// tessera-bench-mesh -- how long the mesh operations take on this machine.
//
// Prints microseconds per call of the start-up face fix-up (all ten meshes,
// on fresh copies of the stored form), of a second, idempotent fix-up pass,
// of the per-frame halftone pattern refresh and shade-level computation, and
// of drawing the largest mesh and the halftone in the offscreen context.
#include <GL/gl.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "offscreen_gl.h"
#include "render/mesh.h"

namespace {

using Clock = std::chrono::steady_clock;

double microsecondsSince(Clock::time_point start, int calls) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls;
}

Mesh* const kStartupOrder[] = {&meshB, &meshC, &meshD, &meshE, &meshF, &meshG, &meshH, &meshI, &meshA, &meshJ};

}  // namespace

int main() {
    // The compiled-in data is still in its stored form here: keep copies of
    // it so every timed fix-up works on complemented indices.
    constexpr int kCopies = 64;
    std::vector<std::vector<MeshFace>> stored;
    for (Mesh* m : kStartupOrder) stored.emplace_back(m->faces, m->faces + m->faceCount);
    std::vector<std::vector<std::vector<MeshFace>>> copies(kCopies, stored);

    auto start = Clock::now();
    for (auto& copy : copies)
        for (size_t i = 0; i < copy.size(); ++i) {
            Mesh m = *kStartupOrder[i];
            m.faces = copy[i].data();
            fixUpMeshFaces(m);
        }
    std::printf("face fix-up, all ten meshes, stored form: %8.1f us per start-up\n", microsecondsSince(start, kCopies));

    fixUpAllMeshes();
    start = Clock::now();
    for (int i = 0; i < kCopies; ++i) fixUpAllMeshes();
    std::printf("face fix-up, all ten meshes, second pass:  %8.1f us per call\n", microsecondsSince(start, kCopies));

    constexpr int kRefreshes = 20000;
    start = Clock::now();
    for (int i = 0; i < kRefreshes; ++i) refreshHalftonePatterns();
    std::printf("refreshHalftonePatterns:                   %8.2f us per call\n", microsecondsSince(start, kRefreshes));

    start = Clock::now();
    for (int i = 0; i < kRefreshes; ++i) {
        computeShadeLevels(1.0f, 0.5f + i * 1e-5f, 0.3f, meshG.normals, meshGShadeLevels, meshG.vertexCount);
        computeShadeLevels(1.0f, 0.5f + i * 1e-5f, 0.3f, meshH.normals, meshHShadeLevels, meshH.vertexCount);
    }
    std::printf("computeShadeLevels, meshG + meshH:         %8.2f us per frame\n", microsecondsSince(start, kRefreshes));

    std::string reason;
    if (!offscreenCreate(640, 480, &reason)) {
        std::fprintf(stderr, "tessera-bench-mesh: no offscreen OpenGL, drawing not measured: %s\n", reason.c_str());
        return 1;
    }
    glMatrixMode(GL_PROJECTION);
    glOrtho(-40, 40, -30, 30, -100, 100);
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    constexpr int kDraws = 50;
    glFinish();
    start = Clock::now();
    for (int i = 0; i < kDraws; ++i) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        drawMesh(meshE.vertices, meshE.normals, meshE.faces, meshE.faceCount);
        glFinish();
    }
    std::printf("clear + drawMesh(meshE, 8192 quads), llvmpipe: %8.0f us per call\n", microsecondsSince(start, kDraws));
    glDisable(GL_LIGHTING);
    start = Clock::now();
    for (int i = 0; i < kDraws; ++i) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        drawMeshHalftone(meshGShadeLevels, meshG.faces, meshG.vertices, meshG.faceCount);
        glFinish();
    }
    std::printf("clear + drawMeshHalftone(meshG), llvmpipe:     %8.0f us per call\n", microsecondsSince(start, kDraws));
    return 0;
}
