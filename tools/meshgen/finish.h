// finish.h -- the steps every generated mesh goes through before it is
// written out: centring, scaling to its exact half-extents, normal transform,
// face orientation and a check that the surface is closed.
#pragma once

#include "geometry.h"

// Bounding-box half-extents and centre of a point set.
inline void boundingBox(const std::vector<V3>& pos, V3& centre, V3& half) {
    V3 lo = pos[0], hi = pos[0];
    for (const V3& p : pos)
        for (int a = 0; a < 3; ++a) {
            set(lo, a, std::fmin(get(lo, a), get(p, a)));
            set(hi, a, std::fmax(get(hi, a), get(p, a)));
        }
    centre = (lo + hi) * 0.5;
    half = (hi - lo) * 0.5;
}

// Newell normal of a quad: the sum of its edge cross products, so it is
// meaningful even for slightly non-planar quads.
inline V3 quadNormal(const Build& b, const Quad& q) {
    V3 n;
    for (int i = 0; i < 4; ++i) n = n + cross(b.pos[q[i]], b.pos[q[(i + 1) % 4]]);
    return n;
}

inline double signedVolume(const Build& b) {
    double v = 0;
    for (const Quad& q : b.faces) {
        v += dot(b.pos[q[0]], cross(b.pos[q[1]], b.pos[q[2]]));
        v += dot(b.pos[q[0]], cross(b.pos[q[2]], b.pos[q[3]]));
    }
    return v / 6;
}

// Reverses a quad but keeps its first corner first (pole fans rely on it).
inline Quad reversed(const Quad& q) { return {q[0], q[3], q[2], q[1]}; }

// Rotates positions and normals so that the shape's own proportions come as
// close as possible to the target half-extents: the later per-axis scaling
// then distorts the shape least. Searches two angles on a 5 degree grid.
inline void alignToExtents(Build& b, V3 target) {
    auto rotate = [](V3 p, double ax, double ay) {
        const V3 r1{p.x, p.y * std::cos(ax) - p.z * std::sin(ax), p.y * std::sin(ax) + p.z * std::cos(ax)};
        return V3{r1.x * std::cos(ay) + r1.z * std::sin(ay), r1.y, -r1.x * std::sin(ay) + r1.z * std::cos(ay)};
    };
    double bestScore = 1e30, bestX = 0, bestY = 0;
    std::vector<V3> rotated(b.pos.size());
    for (int i = 0; i < 36; ++i)
        for (int j = 0; j < 36; ++j) {
            const double ax = i * M_PI / 36, ay = j * M_PI / 36;
            for (size_t k = 0; k < b.pos.size(); ++k) rotated[k] = rotate(b.pos[k], ax, ay);
            V3 centre, half;
            boundingBox(rotated, centre, half);
            const double lx = std::log(target.x / half.x), ly = std::log(target.y / half.y),
                         lz = std::log(target.z / half.z);
            const double mean = (lx + ly + lz) / 3;
            const double score =
                std::fmax(std::fabs(lx - mean), std::fmax(std::fabs(ly - mean), std::fabs(lz - mean)));
            if (score < bestScore - 1e-12) bestScore = score, bestX = ax, bestY = ay;
        }
    for (V3& p : b.pos) p = rotate(p, bestX, bestY);
    for (V3& n : b.nrm) n = rotate(n, bestX, bestY);
}

// Centres the bounding box on the origin, scales each axis so that the
// largest absolute coordinate is exactly the target, carries the normals
// through the same map (inverse transpose of the scaling), makes them unit,
// orients every face counter-clockwise seen from outside and checks that the
// result is a closed, consistently oriented quad surface.
inline void finishMesh(Build& b, V3 target, const char* name) {
    V3 centre, half;
    boundingBox(b.pos, centre, half);
    const V3 scale{target.x / half.x, target.y / half.y, target.z / half.z};
    for (V3& p : b.pos) {
        p = p - centre;
        p = {p.x * scale.x, p.y * scale.y, p.z * scale.z};
    }
    for (V3& n : b.nrm) n = normalize(V3{n.x / scale.x, n.y / scale.y, n.z / scale.z});

    // Each face turns to agree with the normals of its corners...
    for (Quad& q : b.faces) {
        const V3 average = b.nrm[q[0]] + b.nrm[q[1]] + b.nrm[q[2]] + b.nrm[q[3]];
        if (dot(quadNormal(b, q), average) < 0) q = reversed(q);
    }
    // ...and if those normals pointed inwards, everything turns round.
    if (signedVolume(b) < 0) {
        for (Quad& q : b.faces) q = reversed(q);
        for (V3& n : b.nrm) n = n * -1.0;
    }

    std::map<std::pair<int, int>, int> directed;
    std::vector<int> used(b.pos.size(), 0);
    for (const Quad& q : b.faces) {
        for (int i = 0; i < 4; ++i) {
            if (q[i] < 0 || q[i] >= int(b.pos.size())) die(std::string(name) + ": index out of range");
            for (int j = i + 1; j < 4; ++j)
                if (q[i] == q[j]) die(std::string(name) + ": a face repeats a corner");
            ++directed[{q[i], q[(i + 1) % 4]}];
            used[q[i]] = 1;
        }
    }
    for (const auto& [edge, count] : directed) {
        if (count != 1) die(std::string(name) + ": an edge is used twice in one direction");
        if (!directed.count({edge.second, edge.first})) die(std::string(name) + ": the surface is not closed");
    }
    for (int u : used)
        if (!u) die(std::string(name) + ": a vertex belongs to no face");
}
