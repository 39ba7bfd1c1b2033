// shapes.h -- the ten meshes of the demo, built in double precision.
//
// Every shape is defined by a smooth function (a parametric surface, a radial
// function over the sphere or an implicit field), so that the per-vertex
// normals are the true surface normals rather than averages of faces. The
// connectivity is what the scenes rely on: the vertex and face counts, the
// genus and the irregular vertices are fixed, the look is ours.
#pragma once

#include <numeric>

#include "finish.h"

// ---------------------------------------------------------------------------
// Building blocks

// A regular nu x nv grid closed in both directions (a torus topologically):
// P(u, v) with u, v in [0, 1); normals from the parametric partials.
inline Build gridTorus(int nu, int nv, const std::function<V3(double, double)>& P) {
    Build b;
    const double h = 1e-6;
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            const double u = double(i) / nu, v = double(j) / nv;
            b.pos.push_back(P(u, v));
            const V3 du = (P(u + h, v) - P(u - h, v)) * (1 / (2 * h));
            const V3 dv = (P(u, v + h) - P(u, v - h)) * (1 / (2 * h));
            b.nrm.push_back(cross(du, dv));
        }
    auto index = [&](int i, int j) { return ((i + nu) % nu) * nv + (j + nv) % nv; };
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) b.faces.push_back({index(i, j), index(i + 1, j), index(i + 1, j + 1), index(i, j + 1)});
    return b;
}

// The outward field of a star-shaped surface |p| = r(p / |p|).
inline std::function<double(V3)> radialField(const std::function<double(V3)>& radius) {
    return [radius](V3 p) { return length(p) - radius(normalize(p)); };
}

// Places unit directions on a radial surface and gives them its normals.
inline void applyRadial(Build& b, const std::function<double(V3)>& radius) {
    const auto field = radialField(radius);
    b.nrm.clear();
    for (V3& p : b.pos) {
        const V3 d = normalize(p);
        p = d * radius(d);
        b.nrm.push_back(gradient(field, p, 1e-6 * length(p)));
    }
}

// A soft bump on the sphere: 1 in direction c, falling off with width w.
inline double bump(V3 d, V3 c, double w) { return std::exp((dot(d, normalize(c)) - 1) / w); }

// Latitude rings between two poles on the y axis: 63 rings of 32 vertices,
// 62 x 32 quads between rings, and each pole closed by 16 quads that take
// three consecutive ring vertices each, so the pole has 16 neighbours.
inline Build poleSphere(const std::function<double(V3)>& radius, bool polesOnZ = false) {
    constexpr int kRings = 63, kAround = 32;
    Build b;
    b.pos.push_back({0, 1, 0});
    for (int i = 0; i < kRings; ++i) {
        const double theta = M_PI * (i + 1) / (kRings + 1);
        for (int j = 0; j < kAround; ++j) {
            const double phi = 2 * M_PI * j / kAround;
            b.pos.push_back({std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)});
        }
    }
    b.pos.push_back({0, -1, 0});
    const int north = 0, south = 1 + kRings * kAround;
    auto ring = [&](int i, int j) { return 1 + i * kAround + (j % kAround); };
    for (int i = 0; i + 1 < kRings; ++i)
        for (int j = 0; j < kAround; ++j) b.faces.push_back({ring(i, j), ring(i, j + 1), ring(i + 1, j + 1), ring(i + 1, j)});
    for (int j = 0; j < kAround / 2; ++j) {
        b.faces.push_back({north, ring(0, 2 * j), ring(0, 2 * j + 1), ring(0, 2 * j + 2)});
        b.faces.push_back({south, ring(kRings - 1, 2 * j), ring(kRings - 1, 2 * j + 1), ring(kRings - 1, 2 * j + 2)});
    }
    if (polesOnZ)
        for (V3& p : b.pos) p = {p.x, -p.z, p.y};
    applyRadial(b, radius);
    return b;
}

// Places every vertex on the zero set of an implicit field (Newton steps
// from its layout position) and takes the field's gradient as its normal.
inline void applyImplicit(Build& b, const std::function<double(V3)>& field, double h) {
    b.nrm.clear();
    for (V3& p : b.pos) {
        p = projectOnto(field, p, h);
        b.nrm.push_back(gradient(field, p, h));
    }
}

// Splits every face of a triangle mesh into three quads (a point per face and
// per edge): original vertices keep their valence, edge points get four
// neighbours, face points three.
inline Build splitTriangles(const std::vector<V3>& pos, const std::vector<std::array<int, 3>>& tris) {
    Build b;
    Welder weld(1e-9);
    std::vector<int> original;
    for (const V3& p : pos) original.push_back(weld.add(p, b.pos));
    for (const auto& t : tris) {
        const int f = weld.add((pos[t[0]] + pos[t[1]] + pos[t[2]]) * (1.0 / 3), b.pos);
        int e[3];
        for (int i = 0; i < 3; ++i) e[i] = weld.add((pos[t[i]] + pos[t[(i + 1) % 3]]) * 0.5, b.pos);
        for (int i = 0; i < 3; ++i) b.faces.push_back({original[t[i]], e[i], f, e[(i + 2) % 3]});
    }
    return b;
}

// ---------------------------------------------------------------------------
// meshA: the unit cube, corner normals along the diagonals.
inline Build makeMeshA() {
    Build b;
    for (int i = 0; i < 8; ++i) {
        const V3 p{i & 1 ? 1.0 : -1.0, i & 2 ? 1.0 : -1.0, i & 4 ? 1.0 : -1.0};
        b.pos.push_back(p);
        b.nrm.push_back(p);
    }
    b.faces = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    finishMesh(b, {1, 1, 1}, "meshA");
    return b;
}

// meshB: a flat ring with a rounded-square section that rises and falls
// three times round its circle, like a crown lying on the floor.
inline Build makeMeshB() {
    Build b = gridTorus(32, 16, [](double u, double v) {
        const double a = 2 * M_PI * u, t = 2 * M_PI * v;
        // polar superellipse of exponent 4: a square with round corners
        const double c = std::cos(t), s = std::sin(t);
        const double rho = std::pow(std::pow(c, 4) + std::pow(s, 4), -0.25);
        const double radial = 14.0 + 3.2 * rho * c;
        const double height = 1.7 * rho * s + 2.4 * std::sin(3 * a);
        return V3{radial * std::cos(a), height, radial * std::sin(a)};
    });
    finishMesh(b, {18.51, 6.36, 19.41}, "meshB");
    return b;
}

// meshC: a pebble of five soft lobes of different sizes. The body is kept
// small and the lobes narrow, so that the lobes alone reach out to the
// half-extents: the window scene looks at it from 20 units away while it
// tumbles, and a round body of that size would swallow the eye. The lobes
// point only where that eye never comes (see awayFromWindowEye below).
inline double awayFromWindowEye(V3 d);
inline double meshCRadius(V3 d) {
    const double lobes = 0.55 * bump(d, {0.1, 0.93, -0.35}, 0.11) + 0.5 * bump(d, {-0.9, -0.35, -0.25}, 0.1) +
                         0.6 * bump(d, {0.5, -0.8, -0.33}, 0.1) + 0.48 * bump(d, {0.88, 0.3, -0.37}, 0.1) +
                         0.6 * bump(d, {-0.36, -0.33, 0.87}, 0.09);
    return 0.4 + lobes * awayFromWindowEye(d);
}

// How deep direction d lies in the part of the sphere that the window
// scene's eye never visits. That eye sits 20 units from the mesh's centre
// (16.7 from the enlarged copy's) and tumbles with it by at most a quarter
// turn about an axis with no negative component, which keeps it, in the
// mesh's own frame, at z >= 0 and never where x and y are both negative.
// 0 within about 9 degrees of where the eye can come, 1 beyond about 23.
inline double windowEyeDepth(double v) {
    const double t = std::fmin(1.0, std::fmax(0.0, (v - 0.05) / 0.55));
    return t * t * (3 - 2 * t);
}
inline double behindWindowEye(V3 d) { return windowEyeDepth(-d.z); }
inline double awayFromWindowEye(V3 d) {
    const double behind = behindWindowEye(d), offside = windowEyeDepth(-d.x) * windowEyeDepth(-d.y);
    return behind + offside - behind * offside;  // a smooth "either"
}

// meshD: a ball girdled behind by three ribs, like hoops round the z axis,
// and a horn in front. The window scene's eye never comes behind it (z < 0):
// there the ribs reach the x, y and -z half-extents; in front the ball is
// small and smooth, and only the horn, in the quarter where x and y are both
// negative, reaches out to +z. Its rings run round the z axis (its poles
// are there, the same quads as meshC's turned), so that each rib follows one
// of the 63 rings rather than cutting across the 32 steps round them.
inline double meshDRadius(V3 d) {
    const double latitude = std::asin(std::fmax(-1.0, std::fmin(1.0, d.z)));
    const double width = 8 * M_PI / 180;
    double ribs = 0;
    for (double degrees : {-22.0, -48.0, -74.0}) {
        const double t = (latitude - degrees * M_PI / 180) / width;
        ribs += 0.5 * std::exp(-t * t);
    }
    const double horn = 0.82 * bump(d, {-0.5, -0.5, 0.71}, 0.1);
    return 0.4 + ribs + horn * awayFromWindowEye(d);
}

inline Build makeMeshC() {
    Build b = poleSphere(meshCRadius);
    finishMesh(b, {23.08, 25.46, 22.04}, "meshC");
    return b;
}

inline Build makeMeshD() {
    Build b = poleSphere(meshDRadius, true);
    finishMesh(b, {23.73, 20.18, 24.54}, "meshD");
    return b;
}

// meshE: a round tube that runs round a small loop and out into three long
// petals. The window scene's eye comes within 20 units of the centre (16.7
// of the enlarged copy's) from half of all directions, and a tube reaching
// the half-extents there would take it in: the petals lie where it never
// comes (see awayFromWindowEye), two behind (z < 0) towards +x and +y and
// one in front where x and y are both negative, which gives the other three
// half-extents; the loop between them stays well inside the eye's distance.
inline V3 meshECentre(double u) {
    static const V3 kPetal[3] = {{0.8, -0.2, -0.56}, {-0.2, 0.8, -0.56}, {-0.62, -0.62, 0.48}};
    static constexpr double kLength[3] = {1.0, 1.0, 1.29};
    constexpr double kLoop = 0.3, kHalf = 0.35;  // the loop's radius; a petal's half-width per length
    // Five points a petal: on the loop before it, half-way out on one side,
    // the tip, half-way back on the other side, on the loop after it.
    static const std::vector<V3> points = [&] {
        std::vector<V3> list;
        for (int k = 0; k < 3; ++k) {
            const V3 d = normalize(kPetal[k]), next = normalize(kPetal[(k + 1) % 3]),
                     previous = normalize(kPetal[(k + 2) % 3]);
            const V3 along = next - previous;
            const V3 a = normalize(along - d * dot(along, d)), n = normalize(cross(d, a));
            const double middle = (kLoop + kLength[k]) / 2;
            list.push_back(normalize(d * 0.7 + previous * 0.3) * kLoop);
            list.push_back(d * middle - n * (kHalf * kLength[k]));
            list.push_back(d * kLength[k]);
            list.push_back(d * middle + n * (kHalf * kLength[k]));
            list.push_back(normalize(d * 0.7 + next * 0.3) * kLoop);
        }
        return list;
    }();
    // a closed Catmull-Rom spline through them: C1, so the normals are smooth
    const int count = int(points.size());
    const double s = count * (u - std::floor(u));
    const int i = int(s);
    const double f = s - i;
    auto at = [&](int k) { return points[((k % count) + count) % count]; };
    const V3 p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
    return (p1 * 2 + (p2 - p0) * f + (p0 * 2 - p1 * 5 + p2 * 4 - p3) * (f * f) +
            (p1 * 3 - p0 - p2 * 3 + p3) * (f * f * f)) * 0.5;
}

// The tube's section turns with the curve without twisting: a frame carried
// along by reflections (rotation-minimising), with the small twist it has
// gathered on coming round spread evenly over the loop so that it closes.
inline Build makeMeshE() {
    constexpr int kSamples = 16384;
    const double tube = 0.07;
    std::vector<V3> tangent(kSamples + 1), normal(kSamples + 1);
    for (int i = 0; i <= kSamples; ++i) {
        const double u = double(i) / kSamples, h = 1e-7;
        tangent[i] = normalize(meshECentre(u + h) - meshECentre(u - h));
    }
    normal[0] = normalize(cross(tangent[0], cross(V3{0.3, 0.5, 0.8}, tangent[0])));
    for (int i = 0; i < kSamples; ++i) {
        const V3 step = meshECentre(double(i + 1) / kSamples) - meshECentre(double(i) / kSamples);
        const V3 r = normal[i] - step * (2 * dot(step, normal[i]) / dot(step, step));
        const V3 t = tangent[i] - step * (2 * dot(step, tangent[i]) / dot(step, step));
        const V3 mirror = tangent[i + 1] - t;
        normal[i + 1] = normalize(r - mirror * (2 * dot(mirror, r) / std::fmax(dot(mirror, mirror), 1e-300)));
    }
    const V3 binormal0 = cross(tangent[0], normal[0]);
    const double twist = std::atan2(dot(normal[kSamples], binormal0), dot(normal[kSamples], normal[0]));
    Build b = gridTorus(128, 64, [&](double u, double v) {
        const double s = (u - std::floor(u)) * kSamples;
        const int i = std::min(int(s), kSamples - 1);
        const double f = s - i;
        const V3 t = normalize(tangent[i] * (1 - f) + tangent[i + 1] * f);
        V3 n = normal[i] * (1 - f) + normal[i + 1] * f;
        n = normalize(n - t * dot(n, t));
        const V3 bin = cross(t, n);
        const double w = 2 * M_PI * v - twist * (u - std::floor(u));
        return meshECentre(u) + (n * std::cos(w) + bin * std::sin(w)) * tube;
    });
    finishMesh(b, {19.57, 24.77, 22.67}, "meshE");
    return b;
}

// meshF: a tube along the seam of a ball (a closed curve on a sphere that
// swings through all three axes), with a rounded three-lobed section that
// turns twice round as it goes.
inline Build makeMeshF() {
    const double a = 0.72, c = 2 * std::sqrt(a * (1 - a));
    Build b = gridTorus(64, 32, [&](double u, double v) {
        const double t = 2 * M_PI * u, w = 2 * M_PI * v;
        const V3 k{a * std::cos(t) + (1 - a) * std::cos(3 * t), a * std::sin(t) - (1 - a) * std::sin(3 * t),
                   c * std::sin(2 * t)};
        const V3 dk{-a * std::sin(t) - 3 * (1 - a) * std::sin(3 * t), a * std::cos(t) - 3 * (1 - a) * std::cos(3 * t),
                    2 * c * std::cos(2 * t)};
        const V3 n = normalize(k);  // the sphere's normal: perpendicular to the seam
        const V3 bin = normalize(cross(normalize(dk), n));
        const double section = 0.24 * (1 + 0.2 * std::cos(3 * w + 2 * t));
        return k + (n * std::cos(w) + bin * std::sin(w)) * section;
    });
    alignToExtents(b, {15.37, 15.72, 14.64});
    finishMesh(b, {15.37, 15.72, 14.64}, "meshF");
    return b;
}

// ---------------------------------------------------------------------------
// meshG: a blob over an irregular triangulation: the icosahedron with each
// edge cut in three (92 points, 180 triangles), three edges collapsed (89
// points, 174 triangles, valences 4 to 9), relaxed on the sphere, then split
// into 522 quads.

// The icosahedron divided three times along each edge, on the unit sphere.
inline void geodesicSphere(std::vector<V3>& pos, std::vector<std::array<int, 3>>& tris) {
    const double g = (1 + std::sqrt(5.0)) / 2;
    const V3 ico[12] = {{-1, g, 0}, {1, g, 0}, {-1, -g, 0}, {1, -g, 0}, {0, -1, g}, {0, 1, g},
                        {0, -1, -g}, {0, 1, -g}, {g, 0, -1}, {g, 0, 1}, {-g, 0, -1}, {-g, 0, 1}};
    const int faces[20][3] = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
                              {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
                              {3, 8, 9},  {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
    constexpr int n = 3;
    Welder weld(1e-9);
    for (const auto& f : faces) {
        const V3 a = normalize(ico[f[0]]), b = normalize(ico[f[1]]), c = normalize(ico[f[2]]);
        int id[n + 1][n + 1];
        for (int i = 0; i <= n; ++i)
            for (int j = 0; i + j <= n; ++j)
                id[i][j] = weld.add(normalize(a + (b - a) * (double(i) / n) + (c - a) * (double(j) / n)), pos);
        for (int i = 0; i < n; ++i)
            for (int j = 0; i + j < n; ++j) {
                tris.push_back({id[i][j], id[i + 1][j], id[i][j + 1]});
                if (i + j + 1 < n) tris.push_back({id[i + 1][j], id[i + 1][j + 1], id[i][j + 1]});
            }
    }
}

// Merges vertex `gone` into `keep`, dropping the two triangles of their edge.
inline void collapseEdge(std::vector<V3>& pos, std::vector<std::array<int, 3>>& tris, int keep, int gone) {
    pos[keep] = normalize(pos[keep] + pos[gone]);
    std::vector<std::array<int, 3>> kept;
    for (auto t : tris) {
        bool hasKeep = false, hasGone = false;
        for (int& k : t) {
            hasKeep |= k == keep;
            hasGone |= k == gone;
        }
        if (hasKeep && hasGone) continue;
        for (int& k : t)
            if (k == gone) k = keep;
        kept.push_back(t);
    }
    tris = kept;
    pos.erase(pos.begin() + gone);
    for (auto& t : tris)
        for (int& k : t)
            if (k > gone) --k;
}

inline std::vector<std::vector<int>> triangleNeighbours(size_t count, const std::vector<std::array<int, 3>>& tris) {
    std::vector<std::vector<int>> nb(count);
    for (const auto& t : tris)
        for (int i = 0; i < 3; ++i) {
            const int a = t[i], b = t[(i + 1) % 3];
            if (std::find(nb[a].begin(), nb[a].end(), b) == nb[a].end()) nb[a].push_back(b);
            if (std::find(nb[b].begin(), nb[b].end(), a) == nb[b].end()) nb[b].push_back(a);
        }
    return nb;
}

// A peanut with a bent waist and knuckles, pulled out into six arms along
// the axes (the two heads of the peanut are the arms along y) and hollowed
// towards four of the cube diagonals: the halftone scene's fixed cameras look
// from 17 to 35 units away along those diagonals, and must stay outside.
inline double meshGRadius(V3 d) {
    const double body = 0.32 + 0.68 * bump(d, {0.15, 1.0, 0.1}, 0.22) + 0.6 * bump(d, {-0.1, -1.0, 0.15}, 0.22) +
                        0.42 * bump(d, {1.0, 0.1, 0.1}, 0.12) + 0.4 * bump(d, {-1.0, 0.05, -0.1}, 0.12) +
                        0.45 * bump(d, {0.1, -0.1, 1.0}, 0.12) + 0.44 * bump(d, {-0.1, 0.1, -1.0}, 0.12) +
                        0.18 * bump(d, {-1, -1, -1}, 0.08) + 0.15 * bump(d, {1, 1, -1}, 0.08) +
                        0.15 * bump(d, {-1, 1, 1}, 0.08) + 0.12 * bump(d, {-1, -1, 1}, 0.08);
    double hollow = 0;
    for (V3 c : {V3{1, 1, 1}, V3{1, -1, 1}, V3{-1, 1, -1}, V3{1, -1, -1}}) hollow += bump(d, c, 0.2);
    return body * (1 - 0.55 * hollow);
}

inline Build makeMeshG() {
    std::vector<V3> pos;
    std::vector<std::array<int, 3>> tris;
    geodesicSphere(pos, tris);
    // Three collapses far apart, each of an edge between two six-neighbour
    // vertices (giving eight); one more merges a five-neighbour vertex into
    // the first result, which gives the single vertex with nine.
    auto collapseNear = [&](V3 from, V3 toward) {
        const auto nb = triangleNeighbours(pos.size(), tris);
        int keep = -1;
        for (size_t i = 0; i < pos.size(); ++i)
            if (nb[i].size() == 6 && (keep < 0 || dot(pos[i], normalize(from)) > dot(pos[keep], normalize(from))))
                keep = int(i);
        int gone = -1;
        for (int k : nb[keep])
            if (nb[k].size() == 6 && (gone < 0 || dot(pos[k], normalize(toward)) > dot(pos[gone], normalize(toward))))
                gone = k;
        if (gone < 0) die("meshG: no edge to collapse");
        collapseEdge(pos, tris, std::min(keep, gone), std::max(keep, gone));
        return std::min(keep, gone);
    };
    const int hub = collapseNear({0.3, 0.2, 1}, {0.6, 0.2, 1});
    {
        const auto nb = triangleNeighbours(pos.size(), tris);
        int partner = -1;
        for (int k : nb[hub])
            if (nb[k].size() == 5 && (partner < 0 || k < partner)) partner = k;
        if (nb[hub].size() != 8 || partner < 0) die("meshG: no five-neighbour vertex next to the merged one");
        collapseEdge(pos, tris, std::min(hub, partner), std::max(hub, partner));
    }
    collapseNear({-0.5, -0.3, -1}, {-0.5, -0.8, -1});
    if (pos.size() != 89 || tris.size() != 174) die("meshG: the triangulation has the wrong size");
    // Relax on the sphere so the collapsed spots do not crowd.
    const auto nb = triangleNeighbours(pos.size(), tris);
    for (int pass = 0; pass < 20; ++pass) {
        std::vector<V3> next = pos;
        for (size_t i = 0; i < pos.size(); ++i) {
            V3 sum;
            for (int k : nb[i]) sum = sum + pos[k];
            next[i] = normalize(pos[i] * 0.5 + normalize(sum) * 0.5);
        }
        pos = next;
    }
    Build b = splitTriangles(pos, tris);
    applyRadial(b, meshGRadius);
    finishMesh(b, {23.94, 34.64, 25.44}, "meshG");
    return b;
}

// ---------------------------------------------------------------------------
// meshH: a star. The tetrakis hexahedron (a pyramid on every face of a cube),
// split into 72 quads, refined chord by chord to 366 quads and pushed out to
// a radial function with needle-thin spikes at the 6 apexes and at one of
// the 8 cube corners. The spikes are near-cones (flat flanks, rounded tips)
// rather than bell shapes: with a few hundred quads, bell-shaped flanks left
// faces tilted against the true normals of their own corners.
//
// The halftone scene's eyes fly round the star at 17 to 62 units, closer
// than its spikes reach: the star is turned (turnStar) so that every spike
// stands where no eye comes, and the spikes are as thin as the quads allow.

inline Build meshHLayout() {
    std::vector<V3> pos;
    std::vector<std::array<int, 3>> tris;
    Welder weld(1e-9);
    for (int a = 0; a < 3; ++a)
        for (int s = -1; s <= 1; s += 2) {
            V3 apex;
            set(apex, a, 1.5 * s);
            const int b1 = (a + 1) % 3, b2 = (a + 2) % 3;
            const double square[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
            for (int k = 0; k < 4; ++k) {
                V3 p, q;
                set(p, a, s), set(p, b1, square[k][0]), set(p, b2, square[k][1]);
                set(q, a, s), set(q, b1, square[(k + 1) % 4][0]), set(q, b2, square[(k + 1) % 4][1]);
                tris.push_back({weld.add(apex, pos), weld.add(p, pos), weld.add(q, pos)});
            }
        }
    return splitTriangles(pos, tris);
}

// A chord is a loop of quads entered and left through opposite edges; all
// edges of one chord must be cut into the same number of pieces. Returns, per
// face, the chord of its edges 0-1/2-3 and of its edges 1-2/3-0.
inline std::vector<std::array<int, 2>> faceChords(const Build& b, int& chordCount) {
    std::map<std::pair<int, int>, int> edgeId;
    auto edge = [&](int p, int q) {
        const auto key = std::make_pair(std::min(p, q), std::max(p, q));
        auto it = edgeId.find(key);
        if (it != edgeId.end()) return it->second;
        const int id = int(edgeId.size());
        edgeId[key] = id;
        return id;
    };
    std::vector<std::array<int, 4>> faceEdges;
    for (const Quad& q : b.faces) faceEdges.push_back({edge(q[0], q[1]), edge(q[1], q[2]), edge(q[2], q[3]), edge(q[3], q[0])});
    std::vector<int> parent(edgeId.size());
    std::iota(parent.begin(), parent.end(), 0);
    std::function<int(int)> root = [&](int x) { return parent[x] == x ? x : parent[x] = root(parent[x]); };
    for (const auto& e : faceEdges) {
        parent[root(e[0])] = root(e[2]);
        parent[root(e[1])] = root(e[3]);
    }
    std::map<int, int> chordOf;
    for (size_t i = 0; i < parent.size(); ++i) chordOf.emplace(root(int(i)), int(chordOf.size()));
    chordCount = int(chordOf.size());
    std::vector<std::array<int, 2>> result;
    for (const auto& e : faceEdges) result.push_back({chordOf[root(e[0])], chordOf[root(e[1])]});
    return result;
}

// Cuts every quad into an m x n grid by its chords' counts; no new irregular
// vertices appear. Points are blended on the layout and welded.
inline Build refineByChords(const Build& base, const std::vector<std::array<int, 2>>& chords,
                            const std::vector<int>& cuts) {
    Build b;
    Welder weld(1e-9);
    for (size_t f = 0; f < base.faces.size(); ++f) {
        const Quad& q = base.faces[f];
        const int m = cuts[chords[f][0]], n = cuts[chords[f][1]];
        const V3 p0 = base.pos[q[0]], p1 = base.pos[q[1]], p2 = base.pos[q[2]], p3 = base.pos[q[3]];
        std::vector<int> id((m + 1) * (n + 1));
        for (int i = 0; i <= m; ++i)
            for (int j = 0; j <= n; ++j) {
                const double s = double(i) / m, t = double(j) / n;
                const V3 p = p0 * ((1 - s) * (1 - t)) + p1 * (s * (1 - t)) + p2 * (s * t) + p3 * ((1 - s) * t);
                id[i * (n + 1) + j] = weld.add(p, b.pos);
            }
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < n; ++j)
                b.faces.push_back({id[i * (n + 1) + j], id[(i + 1) * (n + 1) + j], id[(i + 1) * (n + 1) + j + 1],
                                   id[i * (n + 1) + j + 1]});
    }
    return b;
}

constexpr double kStarReach = 0.2, kStarSoft = 0.1, kStarTip = 0.1;

// A cone-like spike over the sphere: full height at direction c, falling
// almost linearly with the angle to nothing at a chord distance of `reach`
// (about that many radians). The tip is
// rounded over about kStarTip radians and the foot blends into the valley,
// so the surface stays smooth everywhere while its flanks stay nearly flat
// (flat flanks are what a few hundred quads can follow faithfully).
inline double spike(V3 d, V3 c, double reach) {
    const double chord = std::sqrt(std::fmax(0.0, 2 * (1 - dot(d, normalize(c)))) + kStarTip * kStarTip) - kStarTip;
    const double t = chord / reach;
    const double e = kStarSoft;
    return e * std::log1p(std::exp((1 - t) / e)) / (e * std::log1p(std::exp(1 / e)));
}

// How the star is turned: 30.6 degrees about this axis keeps every spike
// (the six apexes and cube corner (-1, -1, -1), the one long corner spike)
// at least 10 degrees, seen from the centre, from wherever the halftone
// scene's eyes come (as tessera-eyecheck --eyes maps them over the whole
// schedule), while each apex stays within 30 degrees of the axis whose
// half-extent it gives. Found by a search over all turns up to 32 degrees.
inline V3 turnStar(V3 p) {
    const V3 k = normalize(V3{0.2211, 0.9583, 0.1808});
    const double a = 0.5338;
    return p * std::cos(a) + cross(k, p) * std::sin(a) + k * (dot(k, p) * (1 - std::cos(a)));
}

struct StarShape {
    double base = 6.0;
    double corner = 80.0;             // the corner spike's height
    V3 reach{70.93, 73.04, 61.34};    // how far each apex's tip reaches along its own axis

    double operator()(V3 d) const {
        double r = base + corner * spike(d, turnStar(normalize(V3{-1, -1, -1})), kStarReach);
        // each apex spike just long enough to give its axis that reach, so the
        // box needs no centring that would push the body towards an eye
        for (int k = 0; k < 6; ++k) {
            V3 apex;
            set(apex, k / 2, k % 2 ? -1.0 : 1.0);
            apex = turnStar(apex);
            r += (get(reach, k / 2) / std::fabs(get(apex, k / 2)) - base) * spike(d, apex, kStarReach);
        }
        return r;
    }
};

inline Build makeMeshH() {
    const Build layout = meshHLayout();
    int chordCount = 0;
    const auto chords = faceChords(layout, chordCount);
    // The most even cut counts (twos and threes) that give exactly 366 quads.
    std::vector<int> cuts;
    for (int mask = 0; mask < (1 << chordCount) && cuts.empty(); ++mask) {
        std::vector<int> trial(chordCount);
        for (int c = 0; c < chordCount; ++c) trial[c] = mask >> c & 1 ? 3 : 2;
        long total = 0;
        for (const auto& fc : chords) total += trial[fc[0]] * trial[fc[1]];
        if (total == 366 && __builtin_popcount(mask) <= 4) cuts = trial;
    }
    if (cuts.empty()) die("meshH: no chord cuts give 366 quads");
    Build sphere = refineByChords(layout, chords, cuts);
    for (V3& p : sphere.pos) p = normalize(p);
    for (V3& p : sphere.pos) p = turnStar(p);

    // Tune the star so that, after the exact scaling to its half-extents,
    // its valleys sit at 12.0 and its longest spike tip at 86.9 from the
    // centre.
    const V3 target{70.93, 73.04, 61.34};
    StarShape star;
    star.reach = target;
    Build b;
    for (int round = 0; round < 60; ++round) {
        b = sphere;
        applyRadial(b, star);
        finishMesh(b, target, "meshH");
        double lo = 1e30, hi = 0;
        for (const V3& p : b.pos) lo = std::fmin(lo, length(p)), hi = std::fmax(hi, length(p));
        if (std::fabs(lo - 12.0) < 1e-3 && std::fabs(hi - 86.9) < 1e-3) break;
        star.base += 12.0 - lo;
        star.corner *= 86.9 / hi;
    }
    double lo = 1e30, hi = 0;
    for (const V3& p : b.pos) lo = std::fmin(lo, length(p)), hi = std::fmax(hi, length(p));
    if (std::fabs(lo - 12.0) > 0.01 || std::fabs(hi - 86.9) > 0.01) die("meshH: the star's distances did not settle");
    return b;
}

// ---------------------------------------------------------------------------
// meshI: round tubes along the twelve edges of a cube, blended at the
// corners. Laid out first as a square-section box frame (each beam four
// sides of 4 x 6 quads, which meet at every corner in two six-way vertices,
// one outside and one inside), then pulled onto the smooth tube field.

inline double segmentDistance(V3 p, V3 a, V3 b) {
    const V3 ab = b - a;
    const double t = std::fmin(1.0, std::fmax(0.0, dot(p - a, ab) / dot(ab, ab)));
    return length(p - (a + ab * t));
}

inline Build makeMeshI() {
    constexpr int kAcross = 4, kAlong = 6;
    const double outer = 1.0, inner = 0.56, centre = (outer + inner) / 2, half = (outer - inner) / 2;
    const double tube = half;
    Build b;
    Welder weld(1e-7);
    // Offsets across a side, spaced so that they land evenly round the tube.
    auto across = [&](int i) { return centre + half * std::tan(M_PI / 4 * (1 - 2.0 * i / kAcross)); };
    // The canonical beam runs along z at x, y > 0; its four sides, each with
    // its far-end height as a function of the across position.
    struct Side {
        int fixedAxis;
        double fixedValue;
        bool diagonalEnd;
    };
    const Side sides[4] = {{0, outer, true}, {1, outer, true}, {0, inner, false}, {1, inner, false}};
    for (int perm = 0; perm < 3; ++perm)
        for (int sx = -1; sx <= 1; sx += 2)
            for (int sy = -1; sy <= 1; sy += 2)
                for (const Side& side : sides) {
                    std::vector<int> id((kAcross + 1) * (kAlong + 1));
                    for (int i = 0; i <= kAcross; ++i)
                        for (int j = 0; j <= kAlong; ++j) {
                            V3 p;
                            set(p, side.fixedAxis, side.fixedValue);
                            const double a = across(i);
                            set(p, 1 - side.fixedAxis, a);
                            const double end = side.diagonalEnd ? a : inner;
                            p.z = end * (2.0 * j / kAlong - 1);
                            V3 q{p.x * sx, p.y * sy, p.z};
                            // cycle the axes so the beam runs along x, y or z
                            for (int k = 0; k < perm; ++k) q = {q.z, q.x, q.y};
                            id[i * (kAlong + 1) + j] = weld.add(q, b.pos);
                        }
                    for (int i = 0; i < kAcross; ++i)
                        for (int j = 0; j < kAlong; ++j)
                            b.faces.push_back({id[i * (kAlong + 1) + j], id[(i + 1) * (kAlong + 1) + j],
                                               id[(i + 1) * (kAlong + 1) + j + 1], id[i * (kAlong + 1) + j + 1]});
                }
    std::vector<std::pair<V3, V3>> edges;
    for (int axis = 0; axis < 3; ++axis)
        for (int s1 = -1; s1 <= 1; s1 += 2)
            for (int s2 = -1; s2 <= 1; s2 += 2) {
                V3 a, c;
                set(a, (axis + 1) % 3, s1 * centre), set(a, (axis + 2) % 3, s2 * centre), set(a, axis, -centre);
                c = a;
                set(c, axis, centre);
                edges.push_back({a, c});
            }
    const auto field = [edges, tube](V3 p) {
        std::vector<double> d;
        for (const auto& [a, c] : edges) d.push_back(segmentDistance(p, a, c));
        return smoothMin(d, 0.05) - tube;
    };
    applyImplicit(b, field, 1e-6);
    finishMesh(b, {14.13, 14.13, 14.13}, "meshI");
    return b;
}

// ---------------------------------------------------------------------------
// meshJ: a thick spherical shell (radii 7.5 and 8.18) pierced by eight round
// tunnels toward the cube corners, rims rounded. Each octant of each sphere
// is a ring of 18 x 3 quads between the octahedron's edges and the tunnel
// mouth, so the six axis points of each sphere have eight neighbours; each
// tunnel is 18 x 2 quads.

inline Build makeMeshJ() {
    constexpr int kSeg = 6, kAround = 3 * kSeg, kRadial = 3, kTunnel = 2;
    const double rOuter = 8.18, rInner = 7.5, rTunnel = 2.9;
    Build b;
    Welder weld(1e-6);
    auto slerp = [](V3 a, V3 c, double t) {
        const double angle = std::acos(std::fmax(-1.0, std::fmin(1.0, dot(a, c))));
        return normalize(a * std::sin((1 - t) * angle) + c * std::sin(t * angle));
    };
    for (int octant = 0; octant < 8; ++octant) {
        const double sx = octant & 1 ? 1 : -1, sy = octant & 2 ? 1 : -1, sz = octant & 4 ? 1 : -1;
        const V3 corners[3] = {{sx, 0, 0}, {0, sy, 0}, {0, 0, sz}};
        const V3 n = normalize(V3{sx, sy, sz});
        // the octant's border, a spherical triangle cut into 3 x kSeg arcs
        std::vector<V3> border;
        for (int e = 0; e < 3; ++e)
            for (int s = 0; s < kSeg; ++s) border.push_back(slerp(corners[e], corners[(e + 1) % 3], double(s) / kSeg));
        // rings of points: sphere border .. tunnel mouth .. tunnel .. other sphere
        auto point = [&](int i, double radius, double towardMouth) {
            const V3 d = border[i];
            const V3 t = normalize(d - n * dot(d, n));
            const double borderAngle = std::acos(dot(d, n));
            const double mouthAngle = std::asin(rTunnel / radius);
            const double angle = borderAngle + (mouthAngle - borderAngle) * towardMouth;
            return (n * std::cos(angle) + t * std::sin(angle)) * radius;
        };
        const int rows = 2 * kRadial + kTunnel;
        std::vector<int> id((rows + 1) * kAround);
        for (int r = 0; r <= rows; ++r)
            for (int i = 0; i < kAround; ++i) {
                V3 p;
                if (r <= kRadial) {
                    p = point(i, rOuter, double(r) / kRadial);
                } else if (r >= kRadial + kTunnel) {
                    p = point(i, rInner, double(rows - r) / kRadial);
                } else {
                    const double radius = rOuter + (rInner - rOuter) * double(r - kRadial) / kTunnel;
                    p = point(i, radius, 1.0);
                }
                id[r * kAround + i] = weld.add(p, b.pos);
            }
        for (int r = 0; r < rows; ++r)
            for (int i = 0; i < kAround; ++i)
                b.faces.push_back({id[r * kAround + i], id[r * kAround + (i + 1) % kAround],
                                   id[(r + 1) * kAround + (i + 1) % kAround], id[(r + 1) * kAround + i]});
    }
    const auto field = [=](V3 p) {
        const double radius = length(p);
        std::vector<double> parts{radius - rOuter, rInner - radius};
        for (int k = 0; k < 4; ++k) {
            const V3 axis = normalize(V3{k & 1 ? 1.0 : -1.0, k & 2 ? 1.0 : -1.0, 1.0});
            parts.push_back(rTunnel - length(p - axis * dot(p, axis)));
        }
        return smoothMax(parts, 0.07);
    };
    applyImplicit(b, field, 1e-6);
    finishMesh(b, {8.18, 8.18, 8.18}, "meshJ");
    return b;
}
