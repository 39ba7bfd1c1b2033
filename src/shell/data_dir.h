// data_dir.h -- finds the folder that holds the demo's data (music/ and
// textures/) and makes it the working directory, so that every file the
// program opens keeps its short relative path wherever it was started from.
#pragma once

#include <string>
#include <vector>

// The places looked at, best first: the working directory, $TESSERA_DATA_DIR
// when set, the build tree's data (fromExe, relative to the executable's
// folder, when that folder lies in a build tree: buildRoot relative to it
// holds CMakeCache.txt) and the installed data (installedFromExe relative to
// the executable's folder). Each entry is an absolute, normalised path; the
// unset variable is listed as "$TESSERA_DATA_DIR (not set)".
std::vector<std::string> dataDirCandidates(const char* buildRoot, const char* fromExe, const char* installedFromExe);

// Whether a folder holds the data: music/mix.mp3 and a textures/ folder.
// *denied (when given) tells whether a permission kept it from looking.
bool holdsDemoData(const std::string& dir, bool* denied = nullptr);

// Changes to the first candidate that holds the data. When none does, says
// so in one line on stderr naming every place looked at, each quoted, with
// "(permission denied)" after one it may not look into; returns false.
bool enterDataDir(const char* program, const char* buildRoot, const char* fromExe, const char* installedFromExe);
