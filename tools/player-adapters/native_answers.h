// The two requests the adapter answers through the FFmpeg libraries, instead of starting the
// player: the probe's identify run and a plain decode of a lossless local file into WAVE PCM.
// They live in a module of their own (libsqadapterav.so beside the adapters), which the adapter
// loads only for a request that its lighter answers (light_answers.h) leave open: the libraries
// take longer to load than such a request takes to answer.
// Each answers only what it fully understands and gives the same result the player would;
// anything else returns kAskThePlayer and the player runs as before.
#pragma once

// "-identify ... -vo null -ao null ... -frames N": the player's "ID_" lines for the file on
// stdout, without playing it. The exit code, or kAskThePlayer.
extern "C" int AnswerIdentify(int argc, char** argv);

// "-vo null -ao pcm:..." with at most a "format=" filter: the decoded samples behind the player's
// 44-byte WAVE header, into the named file or descriptor. The exit code, or kAskThePlayer.
extern "C" int AnswerDecode(int argc, char** argv);

// The module's file name, in the adapters' folder.
inline constexpr const char kAnswerModule[] = "libsqadapterav.so";
