// The answers the adapter gives without the FFmpeg libraries, for the inputs a batch meets most:
// the identify run on a plain PCM WAVE file (read from its chunks) or a native FLAC file (read from
// its metadata blocks, its comments listed as the FFmpeg reader lists them), and the decode of a
// native FLAC file (through libFLAC, sample for sample what the FFmpeg decoder gives a valid file). Each takes
// only what the library answers (native_answers.h) would take the same way and prints or writes
// what they would; anything else, or a file with more in it than these readers know (a picture, an
// ID3 chunk, a burst of compressed audio in the PCM), returns kAskThePlayer for them to decide.
#pragma once

int AnswerWaveIdentify(int argc, char** argv);
int AnswerFlacIdentify(int argc, char** argv);
int AnswerFlacDecode(int argc, char** argv);
