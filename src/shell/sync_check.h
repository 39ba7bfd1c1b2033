// sync_check.h -- the player's --sync-check screen: how far the picture and
// the sound lie apart on this machine's output, seen from outside.
//
// Not the demo: for 10 s of the music clock the screen is black, turns white
// for one frame and the speakers click at every whole second of that same
// clock, and then it ends by itself (status 0; Escape, a closed window and
// the end signals end it early as they end the demo). Filmed with a phone
// camera, the frames between a flash and its click show the offset left,
// which --audio-offset then takes away.
#pragma once

constexpr int kSyncCheckSeconds = 10;

// Opens the audio output and starts the clicks; the window must be open.
void startSyncCheck();
// The idle callback in place of the demo's: waits for the frame's slot,
// draws black or a flash, and ends the run after kSyncCheckSeconds.
void nextSyncCheckFrame();
