// The two requests the adapter answers itself, through the FFmpeg libraries, instead of starting
// the player: the probe's identify run and a plain decode of a lossless local file into WAVE PCM.
// Each answers only what it fully understands and gives the same result the player would;
// anything else returns kAskThePlayer and the player runs as before.
#pragma once

inline constexpr int kAskThePlayer = -1;

// "-identify ... -vo null -ao null ... -frames N": the player's "ID_" lines for the file on
// stdout, without playing it. The exit code, or kAskThePlayer.
int AnswerIdentify(int argc, char** argv);

// "-vo null -ao pcm:..." with at most a "format=" filter: the decoded samples behind the player's
// 44-byte WAVE header, into the named file or descriptor. The exit code, or kAskThePlayer.
int AnswerDecode(int argc, char** argv);
