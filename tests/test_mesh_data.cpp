// Checks the ten compiled-in meshes against the properties the scenes rely
// on, computed from the data itself: counts, exact half-extents, closedness,
// winding, genus (Euler characteristic), neighbour counts, normals, distances,
// and the face fix-up that turns the stored form into plain indices.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "render/mesh.h"

namespace {

// Captured before main runs (the compiled-in data is constant-initialised,
// so it is already in place): whether every face still has its closing
// corner complemented and only that one.
bool storedFormOf(const Mesh& mesh) {
    for (int f = 0; f < mesh.faceCount; ++f) {
        const int32_t* c = mesh.faces[f].corner;
        if (c[0] < 0 || c[1] < 0 || c[2] < 0 || c[3] >= 0) return false;
    }
    return true;
}
const std::map<std::string, bool> storedFormAtStart = {
    {"meshA", storedFormOf(meshA)}, {"meshB", storedFormOf(meshB)}, {"meshC", storedFormOf(meshC)},
    {"meshD", storedFormOf(meshD)}, {"meshE", storedFormOf(meshE)}, {"meshF", storedFormOf(meshF)},
    {"meshG", storedFormOf(meshG)}, {"meshH", storedFormOf(meshH)}, {"meshI", storedFormOf(meshI)},
    {"meshJ", storedFormOf(meshJ)}};

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

const std::vector<Expected>& table() {
    static const std::vector<Expected> rows = {
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
    return rows;
}

struct V {
    double x, y, z;
};
V operator+(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
double dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V cross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double len(V a) { return std::sqrt(dot(a, a)); }
V position(const Mesh& m, int k) { return {m.vertices[3 * k], m.vertices[3 * k + 1], m.vertices[3 * k + 2]}; }
V normal(const Mesh& m, int k) { return {m.normals[3 * k], m.normals[3 * k + 1], m.normals[3 * k + 2]}; }

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

TEST_F(MeshData, StoredFormComplementsOnlyTheClosingCorner) {
    for (const auto& [name, ok] : storedFormAtStart) EXPECT_TRUE(ok) << name;
}

TEST_F(MeshData, CountsExtentsAndCentring) {
    for (const Expected& e : table()) {
        const Mesh& m = *e.mesh;
        SCOPED_TRACE(e.name);
        EXPECT_EQ(m.vertexCount, e.vertices);
        EXPECT_EQ(m.faceCount, e.faces);
        for (int axis = 0; axis < 3; ++axis) {
            double lo = 1e30, hi = -1e30;
            for (int k = 0; k < m.vertexCount; ++k) {
                lo = std::fmin(lo, m.vertices[3 * k + axis]);
                hi = std::fmax(hi, m.vertices[3 * k + axis]);
            }
            const double half = std::fmax(hi, -lo);
            EXPECT_EQ(std::lround(half * 100), std::lround(e.half[axis] * 100)) << "axis " << axis;
            EXPECT_NEAR(lo + hi, 0.0, 1e-5 * half) << "box not centred on axis " << axis;
        }
    }
}

TEST_F(MeshData, ClosedConsistentlyWoundAndOfTheRightGenus) {
    for (const Expected& e : table()) {
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
        // every edge in exactly two faces, once in each direction
        EXPECT_EQ(doubled, 0);
        EXPECT_EQ(unpaired, 0);
        EXPECT_EQ(edges, 2 * m.faceCount);
        for (int k = 0; k < m.vertexCount; ++k) EXPECT_TRUE(used[k]) << "vertex " << k << " in no face";
        EXPECT_EQ(m.vertexCount - edges + m.faceCount, 2 - 2 * e.genus);
    }
}

TEST_F(MeshData, NeighbourCounts) {
    for (const Expected& e : table()) {
        if (e.mesh == &meshG) continue;
        SCOPED_TRACE(e.name);
        std::map<int, int> histogram;
        for (const auto& nb : neighbours(*e.mesh)) ++histogram[int(nb.size())];
        std::map<int, int> expected = e.irregular;
        int regular = e.mesh->vertexCount;
        for (const auto& [valence, count] : expected) regular -= count;
        if (regular > 0) expected[4] += regular;
        EXPECT_EQ(histogram, expected);
    }
    // meshG is irregular throughout: three to nine neighbours, both ends present
    std::map<int, int> histogram;
    for (const auto& nb : neighbours(meshG)) ++histogram[int(nb.size())];
    EXPECT_EQ(histogram.begin()->first, 3);
    EXPECT_EQ(histogram.rbegin()->first, 9);
}

// Unit normals that point out of the surface on the side the faces are
// counter-clockwise from, and that agree with the surrounding faces (smooth
// surface normals, not flipped or scrambled ones).
TEST_F(MeshData, NormalsAreUnitOutwardAndSmooth) {
    for (const Expected& e : table()) {
        const Mesh& m = *e.mesh;
        SCOPED_TRACE(e.name);
        for (int k = 0; k < m.vertexCount; ++k) EXPECT_NEAR(len(normal(m, k)), 1.0, 1e-6) << "vertex " << k;
        double worstFace = 1, worstCorner = 1;
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
        }
        EXPECT_GT(worstFace, 0.5) << "a face is wound against its normals or bent away from them";
        EXPECT_GT(worstCorner, 0.15) << "a vertex normal disagrees with a face around it";
    }
    // the whole surface encloses positive volume: faces are wound outward
    for (const Expected& e : table()) {
        const Mesh& m = *e.mesh;
        double volume = 0;
        for (int f = 0; f < m.faceCount; ++f) {
            const int32_t* c = m.faces[f].corner;
            volume += dot(position(m, c[0]), cross(position(m, c[1]), position(m, c[2])));
            volume += dot(position(m, c[0]), cross(position(m, c[2]), position(m, c[3])));
        }
        EXPECT_GT(volume, 0) << e.name;
    }
}

TEST_F(MeshData, DistanceRanges) {
    for (const Expected& e : table()) {
        if (e.nearest < 0) continue;
        const Mesh& m = *e.mesh;
        double lo = 1e30, hi = 0;
        for (int k = 0; k < m.vertexCount; ++k) {
            lo = std::fmin(lo, len(position(m, k)));
            hi = std::fmax(hi, len(position(m, k)));
        }
        EXPECT_EQ(std::lround(lo * 10), std::lround(e.nearest * 10)) << e.name << " nearest " << lo;
        EXPECT_EQ(std::lround(hi * 10), std::lround(e.farthest * 10)) << e.name << " farthest " << hi;
    }
}

TEST_F(MeshData, CubeCornersAndDiagonalNormals) {
    const double third = 1 / std::sqrt(3.0);
    for (int k = 0; k < meshA.vertexCount; ++k) {
        const V p = position(meshA, k), n = normal(meshA, k);
        EXPECT_EQ(std::fabs(p.x), 1);
        EXPECT_EQ(std::fabs(p.y), 1);
        EXPECT_EQ(std::fabs(p.z), 1);
        EXPECT_NEAR(n.x, p.x * third, 1e-7);
        EXPECT_NEAR(n.y, p.y * third, 1e-7);
        EXPECT_NEAR(n.z, p.z * third, 1e-7);
    }
}

// meshC and meshD share one face array; each pole is closed by 16 quads that
// list the pole first and then three consecutive vertices of the nearest
// ring, the middle one of which has three neighbours.
TEST_F(MeshData, PoleFansAndSharedFaces) {
    EXPECT_EQ(meshC.faces, meshD.faces);
    EXPECT_EQ(meshC.faceCount, meshD.faceCount);
    EXPECT_EQ(meshC.vertexCount, meshD.vertexCount);
    for (const Mesh* m : {&meshC, &meshD}) {
        const auto nb = neighbours(*m);
        int poles = 0;
        for (int pole = 0; pole < m->vertexCount; ++pole) {
            if (nb[pole].size() != 16) continue;
            ++poles;
            std::set<int> middles, ends;
            int fans = 0;
            for (int f = 0; f < m->faceCount; ++f) {
                const int32_t* c = m->faces[f].corner;
                if (c[0] != pole && c[1] != pole && c[2] != pole && c[3] != pole) continue;
                ++fans;
                EXPECT_EQ(c[0], pole) << "the pole comes first in its fan quads";
                EXPECT_EQ(nb[c[2]].size(), 3u);
                EXPECT_TRUE(nb[c[1]].count(c[2]) && nb[c[2]].count(c[3]));
                middles.insert(c[2]);
                ends.insert(c[1]);
                ends.insert(c[3]);
            }
            EXPECT_EQ(fans, 16);
            EXPECT_EQ(middles.size(), 16u);
            EXPECT_EQ(ends, nb[pole]);
        }
        EXPECT_EQ(poles, 2);
    }
}

// The fix-up looks only at the sign: (0, 3, 2, -2) becomes (0, 3, 2, 1), -1
// becomes 0, plain indices stay, and a second run changes nothing.
TEST_F(MeshData, FixUpRestoresComplementedIndicesAndIsIdempotent) {
    MeshFace faces[] = {{{0, 3, 2, -2}}, {{-1, 1, 2, -4}}, {{5, 6, 7, 4}}};
    Mesh mesh{3, 8, nullptr, nullptr, faces};
    fixUpMeshFaces(mesh);
    const int32_t expected[3][4] = {{0, 3, 2, 1}, {0, 1, 2, 3}, {5, 6, 7, 4}};
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 4; ++i) EXPECT_EQ(faces[f].corner[i], expected[f][i]);
    fixUpMeshFaces(mesh);
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 4; ++i) EXPECT_EQ(faces[f].corner[i], expected[f][i]);
    Mesh empty{0, 0, nullptr, nullptr, nullptr};
    fixUpMeshFaces(empty);  // nothing to do, nothing touched

    // the compiled-in meshes: a second full run leaves them as they are
    std::vector<std::vector<int32_t>> before;
    for (const Expected& e : table())
        before.emplace_back(&e.mesh->faces[0].corner[0], &e.mesh->faces[0].corner[0] + 4 * e.mesh->faceCount);
    fixUpAllMeshes();
    for (size_t i = 0; i < table().size(); ++i) {
        const Mesh& m = *table()[i].mesh;
        EXPECT_EQ(std::vector<int32_t>(&m.faces[0].corner[0], &m.faces[0].corner[0] + 4 * m.faceCount), before[i])
            << table()[i].name;
    }
}

}  // namespace
