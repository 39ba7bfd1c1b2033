// refcheck.cpp -- tessera-refcheck: stills of the demo held against the
// reference stills kept with the sources.
//
// The offline renderer writes a still at each listed moment of the schedule
// (at-MS.png); this tool compares each with tests/reference/at-MS.png, or,
// asked to approve, makes the fresh stills the new references.
//
// A still matches its reference when few pixels differ by much and the
// picture as a whole differs by little: rounding in the rasteriser moves a
// few edge pixels by a few levels, while a wrong camera, colour, texture or
// leftover GL state moves large areas by many. The figures are checked by
// breaking the frame code on purpose (see the README).
//
//   tessera-refcheck compare MOMENTS REFERENCE_DIR STILLS_DIR REPORT_DIR
//   tessera-refcheck approve MOMENTS REFERENCE_DIR STILLS_DIR SHEET.png
//
// MOMENTS lists positions in ms, one a line; '#' starts a comment.
// compare: exit 0 when every moment matches; otherwise writes
//   REPORT_DIR/at-MS.png (expected | actual | difference) for each moment
//   that does not, names them with their figures and exits 1.
// approve: writes each still that differs from its reference in any pixel
//   into REFERENCE_DIR, removes references of moments no longer listed, and
//   writes SHEET.png (old | new | difference) of what changed, to be looked
//   at before the change is committed.
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "canvas.h"
#include "lettering.h"
#include "state/schedule.h"

namespace fs = std::filesystem;

namespace {

// A pixel "differs" when a channel is off by more than this many levels; a
// still fails when more than kMaxDifferingShare of its pixels differ, or
// when the mean difference over all channels exceeds kMaxMeanLevels.
constexpr int kLevelThreshold = 24;
constexpr double kMaxDifferingShare = 0.005;
constexpr double kMaxMeanLevels = 2.0;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // top row first
};

struct Difference {
    double differingShare = 0;  // of the pixels, 0..1
    double meanLevels = 0;      // mean |a - b| over every channel of every pixel
    bool matches() const { return differingShare <= kMaxDifferingShare && meanLevels <= kMaxMeanLevels; }
};

// Reads a PNG as 8-bit RGB; false with a message when it cannot.
bool readPng(const fs::path& path, Picture* picture, std::string* reason) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        *reason = image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    picture->width = int(image.width);
    picture->height = int(image.height);
    picture->rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr)) {
        *reason = image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

bool writePng(const fs::path& path, const Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = picture.width;
    image.height = picture.height;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, picture.rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "tessera-refcheck: cannot write %s: %s\n", path.c_str(), image.message);
        return false;
    }
    return true;
}

// The largest channel difference of pixel i.
int pixelDifference(const Picture& a, const Picture& b, size_t i) {
    int most = 0;
    for (int c = 0; c < 3; ++c) most = std::max(most, std::abs(int(a.rgb[3 * i + c]) - int(b.rgb[3 * i + c])));
    return most;
}

Difference measure(const Picture& expected, const Picture& actual) {
    const size_t pixels = size_t(expected.width) * expected.height;
    size_t differing = 0;
    double total = 0;
    for (size_t i = 0; i < pixels; ++i) {
        if (pixelDifference(expected, actual, i) > kLevelThreshold) ++differing;
        for (int c = 0; c < 3; ++c) total += std::abs(int(expected.rgb[3 * i + c]) - int(actual.rgb[3 * i + c]));
    }
    return {double(differing) / double(pixels), total / (3.0 * double(pixels))};
}

// The difference as a picture: grey for small differences (four times
// brighter than they are, so rounding shows at all), red where a pixel
// differs by more than the threshold.
Picture differencePicture(const Picture& a, const Picture& b) {
    Picture out{a.width, a.height, std::vector<uint8_t>(a.rgb.size())};
    for (size_t i = 0; i < size_t(a.width) * a.height; ++i) {
        const int d = pixelDifference(a, b, i);
        const uint8_t grey = uint8_t(std::min(255, 4 * d));
        const bool over = d > kLevelThreshold;
        out.rgb[3 * i] = over ? 255 : grey;
        out.rgb[3 * i + 1] = over ? 40 : grey;
        out.rgb[3 * i + 2] = over ? 40 : grey;
    }
    return out;
}

std::string stillName(int ms) {
    char name[32];
    std::snprintf(name, sizeof name, "at-%06d.png", ms);
    return name;
}

std::string clockText(int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%04.1f", ms / 60000, ms % 60000 / 1000.0);
    return text;
}

// The moments file: one position in ms a line, '#' to the end of a line a
// comment. Duplicates and anything but whole numbers are refused.
bool readMoments(const fs::path& path, std::vector<int>* moments) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "tessera-refcheck: cannot read %s\n", path.c_str());
        return false;
    }
    std::set<int> seen;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string word;
        if (!(words >> word)) continue;
        char* end = nullptr;
        const long ms = std::strtol(word.c_str(), &end, 10);
        if (*end || ms < 0 || ms >= schedule::kEndMs || !seen.insert(int(ms)).second || (words >> word)) {
            std::fprintf(stderr, "tessera-refcheck: %s line %d: expected one new position from 0 to %d ms\n",
                         path.c_str(), number, schedule::kEndMs - 1);
            return false;
        }
        moments->push_back(int(ms));
    }
    if (moments->empty()) std::fprintf(stderr, "tessera-refcheck: %s lists no moments\n", path.c_str());
    return !moments->empty();
}

// Side-by-side rows of (label, pictures...) on a dark ground, each picture
// captioned, written as one PNG.
struct Row {
    std::string label;
    std::vector<const Picture*> pictures;
};

bool writeSheet(const fs::path& path, const std::vector<Row>& rows, const std::vector<std::string>& captions) {
    constexpr int kGap = 8, kLabelHeight = 24;
    int width = kGap, rowHeight = 0;
    for (const Picture* p : rows.front().pictures) {
        width += p->width + kGap;
        rowHeight = std::max(rowHeight, p->height);
    }
    Canvas sheet(width, kGap + int(rows.size()) * (kLabelHeight + rowHeight + kGap));
    for (Rgb& p : sheet.pixels) p = {0.11f, 0.115f, 0.13f};
    std::string reason;
    const bool lettered = openTypefaces(&reason);
    if (!lettered) std::fprintf(stderr, "tessera-refcheck: the sheet goes unlabelled: %s\n", reason.c_str());
    for (size_t r = 0; r < rows.size(); ++r) {
        const int top = kGap + int(r) * (kLabelHeight + rowHeight + kGap);
        int left = kGap;
        for (size_t k = 0; k < rows[r].pictures.size(); ++k) {
            const Picture& p = *rows[r].pictures[k];
            for (int y = 0; y < p.height; ++y)
                for (int x = 0; x < p.width; ++x) {
                    const uint8_t* c = &p.rgb[3 * (size_t(y) * p.width + x)];
                    sheet.at(left + x, top + kLabelHeight + y) = {c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f};
                }
            if (lettered) {
                TextBlock block = setLine(rows[r].label + "  " + captions[k], {Typeface::Sans, 12, 0.2f});
                stampText(sheet, block, left, top + 17 - int(block.baselineY + 0.5f), {0.9f, 0.91f, 0.93f});
            }
            left += p.width + kGap;
        }
    }
    Picture out{sheet.width, sheet.height, toRgb8(sheet)};
    return writePng(path, out);
}

struct Moment {
    int ms = 0;
    Picture expected, actual;
    bool haveExpected = false, haveActual = false;
    std::string problem;  // why the pair could not be compared
    Difference difference;
};

// Loads the reference and the fresh still of one moment.
Moment loadMoment(int ms, const fs::path& referenceDir, const fs::path& stillsDir) {
    Moment m;
    m.ms = ms;
    std::string reason;
    const fs::path reference = referenceDir / stillName(ms), still = stillsDir / stillName(ms);
    if (!fs::exists(still))
        m.problem = "no still was written";
    else if (!(m.haveActual = readPng(still, &m.actual, &reason)))
        m.problem = "the still cannot be read: " + reason;
    if (!fs::exists(reference)) {
        if (m.problem.empty()) m.problem = "no reference (new moment?)";
    } else if (!(m.haveExpected = readPng(reference, &m.expected, &reason))) {
        m.problem = "the reference cannot be read: " + reason;
    }
    if (m.problem.empty() && (m.expected.width != m.actual.width || m.expected.height != m.actual.height)) {
        char text[96];
        std::snprintf(text, sizeof text, "the still is %dx%d, the reference %dx%d", m.actual.width, m.actual.height,
                      m.expected.width, m.expected.height);
        m.problem = text;
    }
    if (m.problem.empty()) m.difference = measure(m.expected, m.actual);
    return m;
}

std::string figures(const Difference& d) {
    char text[160];
    std::snprintf(text, sizeof text, "%.2f%% of pixels off by more than %d levels (limit %.1f%%), mean %.2f levels (limit %.1f)",
                  100 * d.differingShare, kLevelThreshold, 100 * kMaxDifferingShare, d.meanLevels, kMaxMeanLevels);
    return text;
}

int compare(const std::vector<int>& moments, const fs::path& referenceDir, const fs::path& stillsDir,
            const fs::path& reportDir) {
    int failed = 0;
    Difference worst;
    int worstMs = -1;
    for (int ms : moments) {
        Moment m = loadMoment(ms, referenceDir, stillsDir);
        if (m.problem.empty() && m.difference.matches()) {
            if (worstMs < 0 || m.difference.meanLevels > worst.meanLevels) worst = m.difference, worstMs = ms;
            continue;
        }
        ++failed;
        std::error_code error;
        fs::create_directories(reportDir, error);
        const fs::path report = reportDir / stillName(ms);
        if (m.problem.empty()) {
            const Picture diff = differencePicture(m.expected, m.actual);
            writeSheet(report, {{clockText(ms), {&m.expected, &m.actual, &diff}}},
                       {"expected", "drawn now", "difference"});
            std::printf("  %s (%d ms): %s\n      %s\n", clockText(ms).c_str(), ms, figures(m.difference).c_str(),
                        report.c_str());
        } else {
            std::printf("  %s (%d ms): %s\n", clockText(ms).c_str(), ms, m.problem.c_str());
        }
    }
    if (failed) {
        std::printf("tessera-refcheck: %d of %zu moments differ from their references\n", failed, moments.size());
        return 1;
    }
    std::printf("tessera-refcheck: all %zu moments match their references", moments.size());
    if (worstMs >= 0) std::printf(" (largest mean difference %.2f levels, at %d ms)", worst.meanLevels, worstMs);
    std::printf("\n");
    return 0;
}

int approve(const std::vector<int>& moments, const fs::path& referenceDir, const fs::path& stillsDir,
            const fs::path& sheetPath) {
    std::vector<Moment> changed;
    changed.reserve(moments.size());
    int written = 0;
    for (int ms : moments) {
        Moment m = loadMoment(ms, referenceDir, stillsDir);
        if (!m.haveActual) {
            std::fprintf(stderr, "tessera-refcheck: %d ms: %s; nothing was approved\n", ms, m.problem.c_str());
            return 1;
        }
        if (m.haveExpected && m.problem.empty() && m.expected.rgb == m.actual.rgb) continue;
        if (!writePng(referenceDir / stillName(ms), m.actual)) return 1;
        ++written;
        if (!m.haveExpected || m.expected.width != m.actual.width || m.expected.height != m.actual.height)
            m.expected = Picture{m.actual.width, m.actual.height, std::vector<uint8_t>(m.actual.rgb.size())};
        std::printf("  %s (%d ms): %s\n", clockText(ms).c_str(), ms,
                    m.haveExpected ? figures(measure(m.expected, m.actual)).c_str() : "new");
        changed.push_back(std::move(m));
    }
    // References of moments no longer listed go, so the folder holds exactly
    // the listed moments.
    int removed = 0;
    const std::set<int> listed(moments.begin(), moments.end());
    for (const auto& entry : fs::directory_iterator(referenceDir)) {
        const std::string name = entry.path().filename();
        int ms = -1;
        if (std::sscanf(name.c_str(), "at-%d.png", &ms) == 1 && name == stillName(ms) && !listed.count(ms)) {
            fs::remove(entry.path());
            std::printf("  %s: removed (no longer listed)\n", name.c_str());
            ++removed;
        }
    }
    if (changed.empty()) {
        std::printf("tessera-refcheck: every reference already matches the fresh stills pixel for pixel%s\n",
                    removed ? "; unlisted ones were removed" : "");
        return 0;
    }
    std::vector<Picture> diffs;
    diffs.reserve(changed.size());
    std::vector<Row> rows;
    for (const Moment& m : changed) {
        diffs.push_back(differencePicture(m.expected, m.actual));
        rows.push_back({clockText(m.ms), {&m.expected, &m.actual, &diffs.back()}});
    }
    if (!writeSheet(sheetPath, rows, {"old", "new", "difference"})) return 1;
    std::printf("tessera-refcheck: %d reference(s) rewritten, %d removed; look at every row of %s before committing\n",
                written, removed, sheetPath.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc != 6 || (mode != "compare" && mode != "approve")) {
        std::fprintf(stderr,
                     "usage: tessera-refcheck compare MOMENTS REFERENCE_DIR STILLS_DIR REPORT_DIR\n"
                     "       tessera-refcheck approve MOMENTS REFERENCE_DIR STILLS_DIR SHEET.png\n");
        return 2;
    }
    std::vector<int> moments;
    if (!readMoments(argv[2], &moments)) return 2;
    if (!fs::is_directory(argv[3])) {
        std::fprintf(stderr, "tessera-refcheck: %s is not a folder\n", argv[3]);
        return 2;
    }
    return mode == "compare" ? compare(moments, argv[3], argv[4], argv[5]) : approve(moments, argv[3], argv[4], argv[5]);
}
