// meshsheet -- renders the ten compiled-in meshes, each from three sides,
// lit by one light, into a single PNG contact sheet for the documentation.
//
// Usage: tessera-meshsheet <sheet.png>
#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "offscreen_gl.h"
#include "render/mesh.h"

namespace {

constexpr int kCell = 160;
constexpr int kColumns = 6;  // two meshes per row, three views each
constexpr int kRows = 5;

// Largest distance of a vertex from the origin: sets the camera distance.
float boundingRadius(const Mesh& mesh) {
    float r = 0;
    for (int k = 0; k < mesh.vertexCount; ++k) {
        const float* v = mesh.vertices + 3 * k;
        r = std::fmax(r, std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
    }
    return r;
}

// One view of one mesh into the lower-left cell of the framebuffer.
void renderCell(const Mesh& mesh, int view) {
    glViewport(0, 0, kCell, kCell);
    glClearColor(0.08f, 0.09f, 0.11f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, 1.0, 1.0, 1000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const float radius = boundingRadius(mesh);
    const float distance = radius / std::sin(15.0f * 3.14159265f / 180.0f) * 1.05f;
    const GLfloat light[4] = {-0.5f, 0.7f, 0.6f, 0.0f};  // upper left, in eye space
    glLightfv(GL_LIGHT0, GL_POSITION, light);
    glTranslatef(0, 0, -distance);
    const float yaw[3] = {20, 140, 260}, pitch[3] = {25, -20, 70};
    glRotatef(pitch[view], 1, 0, 0);
    glRotatef(yaw[view], 0, 1, 0);

    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_CULL_FACE);
    glShadeModel(GL_SMOOTH);
    const GLfloat ambient[4] = {0.12f, 0.12f, 0.14f, 1}, diffuse[4] = {0.75f, 0.78f, 0.85f, 1},
                  specular[4] = {0.5f, 0.5f, 0.5f, 1};
    glMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT, GL_SHININESS, 40);
    drawMesh(mesh.vertices, mesh.normals, mesh.faces, mesh.faceCount);
    glFinish();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tessera-meshsheet <sheet.png>\n");
        return 2;
    }
    std::string reason;
    if (!offscreenCreate(640, 480, &reason)) {
        std::fprintf(stderr, "tessera-meshsheet: no offscreen OpenGL: %s\n", reason.c_str());
        return 1;
    }
    fixUpAllMeshes();
    const Mesh* meshes[10] = {&meshA, &meshB, &meshC, &meshD, &meshE, &meshF, &meshG, &meshH, &meshI, &meshJ};
    const int width = kColumns * kCell, height = kRows * kCell;
    std::vector<uint8_t> sheet(size_t(width) * height * 3);
    for (int m = 0; m < 10; ++m)
        for (int view = 0; view < 3; ++view) {
            renderCell(*meshes[m], view);
            const std::vector<uint8_t> frame = offscreenReadRgb();
            const int cellX = (m % 2) * 3 + view, cellY = m / 2;
            for (int y = 0; y < kCell; ++y) {
                // the cell is the bottom-left corner; the frame is top row first
                const uint8_t* src = frame.data() + (size_t(offscreenHeight() - kCell + y) * offscreenWidth()) * 3;
                uint8_t* dst = sheet.data() + (size_t(cellY * kCell + y) * width + cellX * kCell) * 3;
                std::copy(src, src + kCell * 3, dst);
            }
        }
    if (!writePngRgb(argv[1], width, height, sheet)) {
        std::fprintf(stderr, "tessera-meshsheet: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
