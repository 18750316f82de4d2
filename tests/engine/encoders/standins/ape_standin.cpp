// A stand-in for the Monkey's Audio compression library, built by the tests: it records the calls
// in the file named by SQ_STANDIN_LOG, writes the data it is given to the output file and refuses
// data that begins with 'X'. Built with -DSTANDIN_NO_FINISH it lacks one entry point.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/encoders/library_abi.h"

namespace {

void Record(const std::string& line) {
    if (const char* path = std::getenv("SQ_STANDIN_LOG")) std::ofstream(path, std::ios::app) << line << "\n";
}

struct Compressor {
    std::ofstream out;
};

}  // namespace

extern "C" ApeCompressHandle c_APECompress_Create(int* error) {
    *error = 0;
    Record("create");
    return new Compressor;
}

extern "C" void c_APECompress_Destroy(ApeCompressHandle handle) {
    Record("destroy");
    delete static_cast<Compressor*>(handle);
}

extern "C" int c_APECompress_Start(ApeCompressHandle handle, const char* outputFile, const ApeWaveFormat* f,
                                   int maxAudioBytes, int level, const void* headerData, int headerBytes) {
    Record("start " + std::string(outputFile) + " " + std::to_string(f->formatTag) + " " + std::to_string(f->channels) +
           " " + std::to_string(f->samplesPerSec) + " " + std::to_string(f->avgBytesPerSec) + " " +
           std::to_string(f->blockAlign) + " " + std::to_string(f->bitsPerSample) + " " + std::to_string(maxAudioBytes) +
           " " + std::to_string(level) + " " + (headerData ? "header" : "none") + " " + std::to_string(headerBytes));
    auto* c = static_cast<Compressor*>(handle);
    c->out.open(outputFile, std::ios::binary);
    return c->out ? 0 : 1;
}

extern "C" int c_APECompress_AddData(ApeCompressHandle handle, unsigned char* data, int bytes) {
    if (bytes > 0 && data[0] == 'X') return 5;
    static_cast<Compressor*>(handle)->out.write(reinterpret_cast<const char*>(data), bytes);
    return 0;
}

#ifndef STANDIN_NO_FINISH
extern "C" int c_APECompress_Finish(ApeCompressHandle handle, unsigned char*, int, int) {
    Record("finish");
    static_cast<Compressor*>(handle)->out.close();
    return 0;
}
#endif
