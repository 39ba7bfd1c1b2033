// presets.h -- the encodings a video capture can be written with.
//
//   default  H.264 CRF 18 "veryfast", yuv420p, a two-second GOP, AAC-LC
//            192 kbit/s at the music's 44.1 kHz; MP4, Matroska or QuickTime.
//   web      what video sites ask for: H.264 High, yuv420p, a closed GOP of
//            half a second, two B-frames, CRF 18 capped at the site's
//            recommended bit rate for the size and rate, AAC-LC stereo 48 kHz
//            at 384 kbit/s; MP4 or QuickTime with the index at the front and
//            no edit list, or Matroska.
//   archive  lossless: FFV1 with the rendered RGB pixels bit for bit and the
//            sound as FLAC at the music's own rate, in Matroska only.
#pragma once

#include <string>

enum class Preset { Default, Web, Archive };

// False for a name that is none of the three.
bool presetByName(const std::string& name, Preset* preset);
const char* presetName(Preset preset);

// Empty when the preset's streams fit the container ("mp4", "matroska" or
// "mov", as mediaVideoContainer names it); otherwise why not, in words.
std::string presetContainerProblem(Preset preset, const char* container);

// The web preset's bit rate cap in bit/s for a picture of that size and
// rate: the rates video sites recommend for uploads, by the picture's
// height class, higher above 30 frames per second.
long webBitRateCap(int width, int height, int fps);
