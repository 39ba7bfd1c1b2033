// mesh.h -- the ten compiled-in quad meshes and the ways the scenes draw them.
//
// Every mesh is a closed quad surface: a position and a unit normal per vertex
// and four corner indices per face, counter-clockwise seen from outside. The
// data is generated at build time and compiled in with the last corner of each
// face stored complemented (~i), which marks the corner that closes the quad;
// fixUpAllMeshes() turns those back into plain indices once at start-up,
// before anything is drawn.
//
// The drawing operations are immediate mode only and hold no state of their
// own apart from the halftone stipple patterns: matrices, lighting, colour,
// texturing and blending are whatever the calling scene has set up.
#pragma once

#include <cstdint>

// The four corners of one quad, in drawing order.
struct MeshFace {
    int32_t corner[4];
};

struct Mesh {
    int32_t faceCount;
    int32_t vertexCount;
    const float* vertices;  // vertexCount x (x, y, z)
    const float* normals;   // vertexCount x (x, y, z), unit length
    MeshFace* faces;        // faceCount quads; fixed up in place at start-up
};

extern Mesh meshA;  // the cube with corners at +-1
extern Mesh meshB;  // flat ring, floor scene
extern Mesh meshC;  // lobed ball, window scene
extern Mesh meshD;  // ribbed ball sharing meshC's faces, window scene
extern Mesh meshE;  // tube round a small loop out into three petals, window scene
extern Mesh meshF;  // tube along the seam of a ball, window scene
extern Mesh meshG;  // blob, halftone scene
extern Mesh meshH;  // seven-spiked star, halftone scene
extern Mesh meshI;  // tube frame of a cube, displaced scene
extern Mesh meshJ;  // shell pierced by eight tunnels, floor scene

// Vertex counts of the meshes that carry per-vertex state of their own.
constexpr int32_t kMeshGVertexCount = 524;
constexpr int32_t kMeshHVertexCount = 368;
constexpr int32_t kMeshIVertexCount = 1144;

// Per-vertex state that belongs to a mesh and persists across frames: the
// halftone shade levels (0..11) of meshG and meshH, and the displacement of
// meshI along its normals. All start zeroed.
extern int32_t meshGShadeLevels[kMeshGVertexCount];
extern int32_t meshHShadeLevels[kMeshHVertexCount];
extern float meshIDisplacement[kMeshIVertexCount];

// Twelve polygon-stipple patterns of 32 x 32 bits (128 bytes each), one per
// shade level; random bits, rewritten by refreshHalftonePatterns().
constexpr int kHalftoneLevels = 12;
constexpr int kStippleBytes = 128;
extern uint8_t halftonePatterns[kHalftoneLevels][kStippleBytes];

// Called, when set, at the start of every mesh draw (all four ways) with the
// corner positions and quads about to be sent and, for drawMeshDisplaced, the
// normals and the displacement that move them (else null). Lets a tool follow
// each draw's model space through the modelview matrix of the moment; the
// demo itself never sets it.
using MeshDrawWatcher = void (*)(const float* vertices, const MeshFace* faces, int32_t faceCount,
                                 const float* normals, const float* displacement);
extern MeshDrawWatcher meshDrawWatcher;

// Replaces every negative index of the mesh's face array by its complement.
// Looks only at the sign, so a second run changes nothing.
void fixUpMeshFaces(Mesh& mesh);

// Runs the face fix-up over all ten meshes (meshB .. meshI, then meshA and
// meshJ). Call once before the first mesh is drawn.
void fixUpAllMeshes();

// The ordinary way to draw a mesh: one GL_QUADS block, normal then position
// per corner.
void drawMesh(const float* vertices, const float* normals, const MeshFace* faces, int32_t faceCount);
inline void drawMesh(const Mesh& mesh) { drawMesh(mesh.vertices, mesh.normals, mesh.faces, mesh.faceCount); }

// Positions only, with the depth test off for the duration; the depth test is
// on afterwards whatever it was before.
void drawMeshPositionsNoDepth(const float* vertices, const MeshFace* faces, int32_t faceCount);

// Like drawMesh, with every corner pushed out along its normal by its entry of
// displacement.
void drawMeshDisplaced(const float* vertices, const float* normals, const MeshFace* faces, int32_t faceCount,
                       const float* displacement);

// One halftone shade level (0..11) per vertex from the angle between its
// normal and the light direction: d = n . l, level = trunc(12 d) mod 12,
// negative levels clamped to 0 (so d = 1 wraps to 0).
void computeShadeLevels(float lightX, float lightY, float lightZ, const float* normals, int32_t* levelsOut,
                        int32_t vertexCount);

// Twelve unlit stippled passes, one grey and pattern per level; each face is
// drawn in the pass of the average of its corners' levels.
void drawMeshHalftone(const int32_t* levels, const MeshFace* faces, const float* vertices, int32_t faceCount);

// Refills the twelve stipple patterns with bits from nextRandom(), one draw
// per byte, patterns in index order.
void refreshHalftonePatterns();
