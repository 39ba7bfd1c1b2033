// mesh.cpp -- face fix-up, the mesh drawing operations and the halftone.
//
// The mesh data itself is generated at build time (tools/meshgen) into a
// separate translation unit; this file only works on it.
#include "render/mesh.h"

#include <GL/gl.h>

#include <cmath>

#include "state/demo_state.h"

int32_t meshGShadeLevels[kMeshGVertexCount] = {};
int32_t meshHShadeLevels[kMeshHVertexCount] = {};
float meshIDisplacement[kMeshIVertexCount] = {};
uint8_t halftonePatterns[kHalftoneLevels][kStippleBytes] = {};
MeshDrawWatcher meshDrawWatcher = nullptr;

// The stored data marks the closing corner of each quad by complementing it.
// Undo that: any negative int becomes ~int. Sign-only, so idempotent, and a
// shared face array may safely be fixed up once per mesh that uses it.
void fixUpMeshFaces(Mesh& mesh) {
    for (int32_t f = 0; f < mesh.faceCount; ++f) {
        for (int32_t& index : mesh.faces[f].corner) {
            if (index < 0) index = ~index;
        }
    }
}

// All ten meshes. The fix-up looks only at each index's sign, so the order
// changes nothing; it follows the list start-up documents.
void fixUpAllMeshes() {
    Mesh* const order[] = {&meshB, &meshC, &meshD, &meshE, &meshF, &meshG, &meshH, &meshI, &meshA, &meshJ};
    for (Mesh* mesh : order) fixUpMeshFaces(*mesh);
}

// Lit, shaded drawing: the caller owns every piece of state, we only send
// each corner's normal and position.
void drawMesh(const float* vertices, const float* normals, const MeshFace* faces, int32_t faceCount) {
    if (meshDrawWatcher) meshDrawWatcher(vertices, faces, faceCount, nullptr, nullptr);
    glBegin(GL_QUADS);
    for (int32_t f = 0; f < faceCount; ++f) {
        for (int32_t k : faces[f].corner) {
            glNormal3f(normals[3 * k], normals[3 * k + 1], normals[3 * k + 2]);
            glVertex3f(vertices[3 * k], vertices[3 * k + 1], vertices[3 * k + 2]);
        }
    }
    glEnd();
}

// Used for stencil masks and flat shapes that must not be hidden by what is
// already in the depth buffer. Always leaves the depth test enabled, because
// every scene that calls it expects depth testing afterwards.
void drawMeshPositionsNoDepth(const float* vertices, const MeshFace* faces, int32_t faceCount) {
    if (meshDrawWatcher) meshDrawWatcher(vertices, faces, faceCount, nullptr, nullptr);
    glDisable(GL_DEPTH_TEST);
    glBegin(GL_QUADS);
    for (int32_t f = 0; f < faceCount; ++f) {
        for (int32_t k : faces[f].corner) glVertex3f(vertices[3 * k], vertices[3 * k + 1], vertices[3 * k + 2]);
    }
    glEnd();
    glEnable(GL_DEPTH_TEST);
}

// The breathing mesh: each corner moves along its own normal by its own
// amount, so the surface swells and shrinks without changing its shading.
void drawMeshDisplaced(const float* vertices, const float* normals, const MeshFace* faces, int32_t faceCount,
                       const float* displacement) {
    if (meshDrawWatcher) meshDrawWatcher(vertices, faces, faceCount, normals, displacement);
    glBegin(GL_QUADS);
    for (int32_t f = 0; f < faceCount; ++f) {
        for (int32_t k : faces[f].corner) {
            const float* n = normals + 3 * k;
            const float* v = vertices + 3 * k;
            const float d = displacement[k];
            glNormal3f(n[0], n[1], n[2]);
            glVertex3f(n[0] * d + v[0], n[1] * d + v[1], n[2] * d + v[2]);
        }
    }
    glEnd();
}

// Twelve bands of n . l, one per halftone pass. Truncation and the modulo
// follow C's integer rules, so a normal exactly facing the light (d = 1)
// lands back in band 0; that quirk is part of the look. A zero light vector
// has no direction: every vertex then gets level 0 rather than a level made
// from NaN.
void computeShadeLevels(float lightX, float lightY, float lightZ, const float* normals, int32_t* levelsOut,
                        int32_t vertexCount) {
    const float length = std::sqrt(lightX * lightX + lightY * lightY + lightZ * lightZ);
    const float inverse = length > 0.0f ? 1.0f / length : 0.0f;
    const float lx = lightX * inverse, ly = lightY * inverse, lz = lightZ * inverse;
    for (int32_t k = 0; k < vertexCount; ++k) {
        const float* n = normals + 3 * k;
        const float d = n[0] * lx + n[1] * ly + n[2] * lz;
        // the product is exact in double, so the band edges fall exactly on n/12
        int32_t level = static_cast<int32_t>(static_cast<double>(d) * 12.0) % 12;
        if (level < 0) level = 0;
        if (level > 11) level = 11;
        levelsOut[k] = level;
    }
}

// One stippled pass per level, darkest first. The grey rises by a sixth per
// pass (and saturates from pass 6 on); the stipple pattern thins the coverage
// instead, which gives the crawling screen-space grain.
void drawMeshHalftone(const int32_t* levels, const MeshFace* faces, const float* vertices, int32_t faceCount) {
    if (meshDrawWatcher) meshDrawWatcher(vertices, faces, faceCount, nullptr, nullptr);
    glEnable(GL_POLYGON_STIPPLE);
    for (int32_t pass = 0; pass < kHalftoneLevels; ++pass) {
        glPolygonStipple(halftonePatterns[pass]);
        const float grey = static_cast<float>(pass) * 0.16666667f;
        glColor3f(grey, grey, grey);
        glBegin(GL_QUADS);
        for (int32_t f = 0; f < faceCount; ++f) {
            const int32_t* c = faces[f].corner;
            const int32_t average = (levels[c[0]] + levels[c[1]] + levels[c[2]] + levels[c[3]]) / 4;
            if (average != pass) continue;
            for (int32_t k : faces[f].corner) glVertex3f(vertices[3 * k], vertices[3 * k + 1], vertices[3 * k + 2]);
        }
        glEnd();
    }
    glDisable(GL_POLYGON_STIPPLE);
}

// Patterns 0..7 keep fewer and fewer low bits of a random byte (half of the
// bits set down to a sixteenth); 8 is solid; 9..11 are whole-byte noise made
// from r mod 2^(index-8) minus one, so -1 gives a full byte. One nextRandom()
// per byte, in order, because the shared generator's sequence is part of what
// every later effect sees.
void refreshHalftonePatterns() {
    for (int index = 0; index < kHalftoneLevels; ++index) {
        for (int byte = 0; byte < kStippleBytes; ++byte) {
            const int r = nextRandom();
            int value;
            if (index < 8) {
                value = (r & 255) % (1 << (8 - index));
            } else {
                value = r % (1 << (index - 8)) - 1;
            }
            halftonePatterns[index][byte] = static_cast<uint8_t>(value & 0xFF);
        }
    }
}
