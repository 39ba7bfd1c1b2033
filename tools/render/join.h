// join.h -- pieces of a split render and their join into one file.
//
// `--part K/N` renders the K-th of N equal runs of frames of the range as a
// piece: video alone, beginning on a key frame (every GOP is closed), with
// a tag that says which frames of which render it holds. The join checks
// that the pieces make the whole range (same preset, size and rate, every
// part once, consecutive frames, none cut short), copies their packets in
// order, and encodes the sound once over the whole range: a single encoder
// run, so no seam carries a click from the codec's priming.
#pragma once

#include <string>
#include <vector>

#include "presets.h"

struct PieceInfo {
    int part = 0, parts = 0;  // K of N, from 1
    Preset preset = Preset::Default;
    int width = 0, height = 0, fps = 0;
    long first = 0, count = 0;           // the piece's frames of the run
    long rangeFirst = 0, rangeEnd = 0;   // the whole range's, end not included
};

// The frames of part K of N of [rangeFirst, rangeEnd): N equal runs, the
// remainder spread so that no two differ by more than one frame.
void pieceFrames(long rangeFirst, long rangeEnd, int part, int parts, long* first, long* count);

std::string pieceTag(const PieceInfo& piece);
bool parsePieceTag(const std::string& tag, PieceInfo* piece);

// tessera-render --join OUT PIECE...: the exit status (0 joined, 1 a piece
// that does not fit or an output that cannot be written, 2 a bad command
// line). Every refusal is one line on stderr; a failed join leaves no OUT.
int joinMain(int argc, char** argv);

// Joins pieces (absolute paths, in any order) into `out`, after the data
// directory has been entered. Returns false having said why.
bool joinPieces(const std::string& out, const std::vector<std::string>& pieces, long long* bytes);
