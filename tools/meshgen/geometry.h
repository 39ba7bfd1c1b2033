// geometry.h -- small double-precision helpers for the mesh generator.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct V3 {
    double x = 0, y = 0, z = 0;
};

inline V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline V3 operator*(V3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline V3 operator*(double s, V3 a) { return a * s; }
inline double dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double length(V3 a) { return std::sqrt(dot(a, a)); }
inline V3 normalize(V3 a) { return a * (1.0 / length(a)); }
inline double get(V3 a, int axis) { return axis == 0 ? a.x : axis == 1 ? a.y : a.z; }
inline void set(V3& a, int axis, double v) { (axis == 0 ? a.x : axis == 1 ? a.y : a.z) = v; }

using Quad = std::array<int, 4>;

// A mesh under construction: positions, per-vertex normals (any length until
// finishMesh), quads.
struct Build {
    std::vector<V3> pos;
    std::vector<V3> nrm;
    std::vector<Quad> faces;
};

// Stops the generator with one clear line; the build then fails.
[[noreturn]] inline void die(const std::string& what) {
    std::fprintf(stderr, "meshgen: %s\n", what.c_str());
    std::exit(1);
}

// Merges points that coincide (within a tolerance), so that patches built
// separately share their border vertices.
class Welder {
public:
    explicit Welder(double tolerance) : tol_(tolerance) {}

    int add(V3 p, std::vector<V3>& pos) {
        const long long cx = cell(p.x), cy = cell(p.y), cz = cell(p.z);
        for (long long dx = -1; dx <= 1; ++dx)
            for (long long dy = -1; dy <= 1; ++dy)
                for (long long dz = -1; dz <= 1; ++dz) {
                    auto it = cells_.find({cx + dx, cy + dy, cz + dz});
                    if (it == cells_.end()) continue;
                    for (int index : it->second)
                        if (length(pos[index] - p) < tol_) return index;
                }
        pos.push_back(p);
        const int index = int(pos.size()) - 1;
        cells_[{cx, cy, cz}].push_back(index);
        return index;
    }

private:
    long long cell(double v) const { return (long long)std::floor(v / (tol_ * 4)); }
    double tol_;
    std::map<std::array<long long, 3>, std::vector<int>> cells_;
};

// Gradient of a scalar field by central differences.
inline V3 gradient(const std::function<double(V3)>& f, V3 p, double h) {
    return {(f(p + V3{h, 0, 0}) - f(p - V3{h, 0, 0})) / (2 * h),
            (f(p + V3{0, h, 0}) - f(p - V3{0, h, 0})) / (2 * h),
            (f(p + V3{0, 0, h}) - f(p - V3{0, 0, h})) / (2 * h)};
}

// Moves p onto the zero set of f by Newton steps along the gradient.
inline V3 projectOnto(const std::function<double(V3)>& f, V3 p, double h) {
    for (int i = 0; i < 100; ++i) {
        const double value = f(p);
        if (std::fabs(value) < 1e-13) break;
        const V3 g = gradient(f, p, h);
        p = p - g * (value / dot(g, g));
    }
    return p;
}

// Exponential smooth minimum and maximum: C-infinity blends of the plain
// ones, rounding every crease to a width of a few k.
inline double smoothMin(const std::vector<double>& values, double k) {
    double lowest = values[0];
    for (double v : values) lowest = std::fmin(lowest, v);
    double sum = 0;
    for (double v : values) sum += std::exp(-(v - lowest) / k);
    return lowest - k * std::log(sum);
}
inline double smoothMax(const std::vector<double>& values, double k) {
    std::vector<double> negated;
    for (double v : values) negated.push_back(-v);
    return -smoothMin(negated, k);
}
