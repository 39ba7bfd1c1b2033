// pieces.cpp -- how a split render cuts its range, and the tag each piece
// carries: plain text, so that any tool that shows a container's tags
// shows it.
#include <cstdio>

#include "join.h"

void pieceFrames(long rangeFirst, long rangeEnd, int part, int parts, long* first, long* count) {
    const long frames = rangeEnd - rangeFirst;
    const long start = rangeFirst + frames * (part - 1) / parts;
    *first = start;
    *count = rangeFirst + frames * part / parts - start;
}

std::string pieceTag(const PieceInfo& p) {
    char text[200];
    std::snprintf(text, sizeof text, "part %d/%d preset %s size %dx%d fps %d frames %ld+%ld range %ld-%ld", p.part,
                  p.parts, presetName(p.preset), p.width, p.height, p.fps, p.first, p.count, p.rangeFirst,
                  p.rangeEnd);
    return text;
}

bool parsePieceTag(const std::string& tag, PieceInfo* p) {
    char preset[16] = {};
    int used = 0;
    if (std::sscanf(tag.c_str(), "part %d/%d preset %15s size %dx%d fps %d frames %ld+%ld range %ld-%ld%n", &p->part,
                    &p->parts, preset, &p->width, &p->height, &p->fps, &p->first, &p->count, &p->rangeFirst,
                    &p->rangeEnd, &used) != 10 ||
        size_t(used) != tag.size())
        return false;
    return presetByName(preset, &p->preset) && p->parts >= 1 && p->part >= 1 && p->part <= p->parts && p->fps >= 1 &&
           p->count >= 1 && p->rangeFirst >= 0 && p->rangeEnd > p->rangeFirst;
}
