// The ten compiled-in meshes against the properties the scenes rely on,
// computed from the data itself, and the face fix-up.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <vector>

#include "render/mesh.h"

namespace {

// Whether every face still has its closing corner complemented and only
// that one: captured before main runs (the compiled-in data is constant-
// initialised, so it is already in place), in the order of the table below.
bool storedFormOf(const Mesh& mesh) {
    for (int f = 0; f < mesh.faceCount; ++f) {
        const int32_t* c = mesh.faces[f].corner;
        if (c[0] < 0 || c[1] < 0 || c[2] < 0 || c[3] >= 0) return false;
    }
    return true;
}
const bool storedFormAtStart[] = {storedFormOf(meshA), storedFormOf(meshB), storedFormOf(meshC), storedFormOf(meshD),
                                  storedFormOf(meshE), storedFormOf(meshF), storedFormOf(meshG), storedFormOf(meshH),
                                  storedFormOf(meshI), storedFormOf(meshJ)};

struct Expected {
    const char* name;
    const Mesh* mesh;
    int vertices;
    int faces;
    double half[3];
    int genus;
    std::map<int, int> irregular;  // neighbour count -> how many vertices; the rest have four
    double nearest, farthest;      // distance range to one decimal; negative when not specified
};

const std::vector<Expected> kTable = {
    {"meshA", &meshA, 8, 6, {1, 1, 1}, 0, {{3, 8}}, -1, -1},
    {"meshB", &meshB, 512, 512, {18.51, 6.36, 19.41}, 1, {}, -1, -1},
    {"meshC", &meshC, 2018, 2016, {23.08, 25.46, 22.04}, 0, {{16, 2}, {3, 32}}, -1, -1},
    {"meshD", &meshD, 2018, 2016, {23.73, 20.18, 24.54}, 0, {{16, 2}, {3, 32}}, -1, -1},
    {"meshE", &meshE, 8192, 8192, {19.57, 24.77, 22.67}, 1, {}, -1, -1},
    {"meshF", &meshF, 2048, 2048, {15.37, 15.72, 14.64}, 1, {}, -1, -1},
    {"meshG", &meshG, 524, 522, {23.94, 34.64, 25.44}, 0, {}, -1, -1},  // irregular: checked below
    {"meshH", &meshH, 368, 366, {70.93, 73.04, 61.34}, 0, {{3, 24}, {6, 8}}, 12.0, 86.9},
    {"meshI", &meshI, 1144, 1152, {14.13, 14.13, 14.13}, 5, {{6, 16}}, -1, -1},
    {"meshJ", &meshJ, 1140, 1152, {8.18, 8.18, 8.18}, 7, {{8, 12}}, 7.5, 8.2},
};

struct V {
    double x, y, z;
};
V operator+(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
double dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V cross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double len(V a) { return std::sqrt(dot(a, a)); }
V position(const Mesh& m, int k) { return {m.vertices[3 * k], m.vertices[3 * k + 1], m.vertices[3 * k + 2]}; }
V normal(const Mesh& m, int k) { return {m.normals[3 * k], m.normals[3 * k + 1], m.normals[3 * k + 2]}; }
std::vector<int32_t> corners(const Mesh& m) { return {&m.faces[0].corner[0], &m.faces[0].corner[0] + 4 * m.faceCount}; }

// Newell normal: well defined for slightly non-planar quads.
V faceNormal(const Mesh& m, const MeshFace& f) {
    V n{0, 0, 0};
    for (int i = 0; i < 4; ++i) n = n + cross(position(m, f.corner[i]), position(m, f.corner[(i + 1) % 4]));
    return n;
}

std::vector<std::set<int>> neighbours(const Mesh& m) {
    std::vector<std::set<int>> nb(m.vertexCount);
    for (int f = 0; f < m.faceCount; ++f)
        for (int i = 0; i < 4; ++i) {
            const int a = m.faces[f].corner[i], b = m.faces[f].corner[(i + 1) % 4];
            nb[a].insert(b);
            nb[b].insert(a);
        }
    return nb;
}

class MeshData : public ::testing::Test {
protected:
    void SetUp() override { fixUpAllMeshes(); }
};

// The stored form, the counts, the exact half-extents of a box centred on
// the origin, and the distance ranges where they are specified.
TEST_F(MeshData, StoredFormCountsExtentsAndDistances) {
    for (size_t i = 0; i < kTable.size(); ++i) {
        const Expected& e = kTable[i];
        const Mesh& m = *e.mesh;
        SCOPED_TRACE(e.name);
        EXPECT_TRUE(storedFormAtStart[i]) << "the closing corner, and only it, is stored complemented";
        EXPECT_EQ(m.vertexCount, e.vertices);
        EXPECT_EQ(m.faceCount, e.faces);
        double lo[3] = {1e30, 1e30, 1e30}, hi[3] = {-1e30, -1e30, -1e30}, nearest = 1e30, farthest = 0;
        for (int k = 0; k < m.vertexCount; ++k) {
            for (int axis = 0; axis < 3; ++axis) {
                lo[axis] = std::fmin(lo[axis], m.vertices[3 * k + axis]);
                hi[axis] = std::fmax(hi[axis], m.vertices[3 * k + axis]);
            }
            nearest = std::fmin(nearest, len(position(m, k)));
            farthest = std::fmax(farthest, len(position(m, k)));
        }
        for (int axis = 0; axis < 3; ++axis) {
            const double half = std::fmax(hi[axis], -lo[axis]);
            EXPECT_EQ(std::lround(half * 100), std::lround(e.half[axis] * 100)) << "axis " << axis;
            EXPECT_NEAR(lo[axis] + hi[axis], 0.0, 1e-5 * half) << "box not centred on axis " << axis;
        }
        if (e.nearest < 0) continue;
        EXPECT_EQ(std::lround(nearest * 10), std::lround(e.nearest * 10)) << "nearest " << nearest;
        EXPECT_EQ(std::lround(farthest * 10), std::lround(e.farthest * 10)) << "farthest " << farthest;
    }
}

// Every edge in two faces, once each way; every vertex used; the genus from
// the Euler characteristic; neighbour counts (four, but as the table lists).
TEST_F(MeshData, ClosedConsistentlyWoundOfTheRightGenusAndNeighbourCounts) {
    for (const Expected& e : kTable) {
        const Mesh& m = *e.mesh;
        SCOPED_TRACE(e.name);
        std::map<std::pair<int, int>, int> directed;
        std::vector<int> used(m.vertexCount, 0);
        for (int f = 0; f < m.faceCount; ++f) {
            const int32_t* c = m.faces[f].corner;
            for (int i = 0; i < 4; ++i) {
                ASSERT_GE(c[i], 0);
                ASSERT_LT(c[i], m.vertexCount);
                for (int j = i + 1; j < 4; ++j) EXPECT_NE(c[i], c[j]) << "face " << f;
                ++directed[{c[i], c[(i + 1) % 4]}];
                used[c[i]] = 1;
            }
        }
        int edges = 0, unpaired = 0, doubled = 0;
        for (const auto& [edge, count] : directed) {
            doubled += count != 1;
            unpaired += directed.count({edge.second, edge.first}) == 0;
            if (edge.first < edge.second) ++edges;
        }
        EXPECT_EQ(doubled, 0);
        EXPECT_EQ(unpaired, 0);
        EXPECT_EQ(edges, 2 * m.faceCount);
        for (int k = 0; k < m.vertexCount; ++k) EXPECT_TRUE(used[k]) << "vertex " << k << " in no face";
        EXPECT_EQ(m.vertexCount - edges + m.faceCount, 2 - 2 * e.genus);

        std::map<int, int> histogram, expected = e.irregular;
        for (const auto& nb : neighbours(m)) ++histogram[int(nb.size())];
        if (e.mesh == &meshG) {  // irregular throughout: three to nine neighbours, both ends present
            EXPECT_EQ(histogram.begin()->first, 3);
            EXPECT_EQ(histogram.rbegin()->first, 9);
            continue;
        }
        int regular = m.vertexCount;
        for (const auto& [valence, count] : expected) regular -= count;
        if (regular > 0) expected[4] += regular;
        EXPECT_EQ(histogram, expected);
    }
}

// Unit normals out of the side the faces are counter-clockwise from, agreeing
// with the surrounding faces (smooth, not flipped or scrambled).
TEST_F(MeshData, NormalsAreUnitOutwardAndSmooth) {
    for (const Expected& e : kTable) {
        const Mesh& m = *e.mesh;
        SCOPED_TRACE(e.name);
        for (int k = 0; k < m.vertexCount; ++k) EXPECT_NEAR(len(normal(m, k)), 1.0, 1e-6) << "vertex " << k;
        double worstFace = 1, worstCorner = 1, volume = 0;
        for (int f = 0; f < m.faceCount; ++f) {
            const MeshFace& face = m.faces[f];
            const V n = faceNormal(m, face);
            const V unit{n.x / len(n), n.y / len(n), n.z / len(n)};
            V average{0, 0, 0};
            for (int k : face.corner) {
                average = average + normal(m, k);
                worstCorner = std::fmin(worstCorner, dot(unit, normal(m, k)));
            }
            worstFace = std::fmin(worstFace, dot(unit, average) / len(average));
            const int32_t* c = face.corner;
            volume += dot(position(m, c[0]), cross(position(m, c[1]), position(m, c[2]))) +
                      dot(position(m, c[0]), cross(position(m, c[2]), position(m, c[3])));
        }
        EXPECT_GT(worstFace, 0.5) << "a face is wound against its normals or bent away from them";
        // meshH's spikes are needles, as thin as the halftone scene's eye
        // paths leave room for: a few hundred quads cannot make every face
        // round a needle's tip agree with one normal there. Its faces must
        // still agree with their corners on the whole (worstFace).
        EXPECT_GT(worstCorner, m.vertices == meshH.vertices ? 0.0 : 0.15)
            << "a vertex normal disagrees with a face around it";
        EXPECT_GT(volume, 0) << "the surface must enclose positive volume: faces wound outward";
    }
}

// meshC and meshD share one face array; each pole (16 neighbours) is closed
// by 16 quads whose corner opposite the pole has three neighbours.
TEST_F(MeshData, PoleFansAndSharedFaces) {
    EXPECT_EQ(meshC.faces, meshD.faces);
    EXPECT_EQ(meshC.faceCount, meshD.faceCount);
    const auto nb = neighbours(meshC);
    int fans = 0;
    for (int f = 0; f < meshC.faceCount; ++f)
        for (int i = 0; i < 4; ++i) {
            const int32_t* c = meshC.faces[f].corner;
            if (nb[c[i]].size() != 16) continue;
            ++fans;
            EXPECT_EQ(nb[c[(i + 2) % 4]].size(), 3u) << "face " << f;
        }
    EXPECT_EQ(fans, 32);
}

// The fix-up looks only at the sign: (0, 3, 2, -2) becomes (0, 3, 2, 1), -1
// becomes 0, plain indices stay, and a second run changes nothing.
TEST_F(MeshData, FixUpRestoresComplementedIndicesAndIsIdempotent) {
    MeshFace faces[] = {{{0, 3, 2, -2}}, {{-1, 1, 2, -4}}, {{5, 6, 7, 4}}};
    Mesh mesh{3, 8, nullptr, nullptr, faces};
    const std::vector<int32_t> expected = {0, 3, 2, 1, 0, 1, 2, 3, 5, 6, 7, 4};
    fixUpMeshFaces(mesh);
    EXPECT_EQ(corners(mesh), expected);
    fixUpMeshFaces(mesh);
    EXPECT_EQ(corners(mesh), expected);
    Mesh empty{0, 0, nullptr, nullptr, nullptr};
    fixUpMeshFaces(empty);  // nothing to do, nothing touched
    // (Every test here fixes the compiled-in meshes up again first.)
}

}  // namespace
