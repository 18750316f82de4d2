// A stand-in for the AAC+ encoder plug-in, built by the tests: it records the calls it gets in
// the file named by SQ_STANDIN_LOG and "encodes" by copying its input, holding back the last
// 16 bytes until it is told the input has ended.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/encoders/library_abi.h"

namespace {

void Record(const std::string& line) {
    if (const char* path = std::getenv("SQ_STANDIN_LOG")) std::ofstream(path, std::ios::app) << line << "\n";
}

class CopyCoder : public AudioCoder {
public:
    ~CopyCoder() override { Record("destroyed"); }
    int Encode(int, void* in, int inAvail, int* inUsed, void* out, int outAvail) override {
        *inUsed = 0;
        if (inAvail == 0) {
            if (!finishing || held.empty()) return 0;
            const int n = static_cast<int>(std::min<size_t>(held.size(), static_cast<size_t>(outAvail)));
            std::memcpy(out, held.data(), static_cast<size_t>(n));
            held.erase(0, static_cast<size_t>(n));
            return n;
        }
        const int take = std::min(inAvail, 1000);
        held.append(static_cast<const char*>(in), static_cast<size_t>(take));
        *inUsed = take;
        if (held.size() <= 16) return 0;
        const int give = static_cast<int>(std::min<size_t>(held.size() - 16, static_cast<size_t>(outAvail)));
        std::memcpy(out, held.data(), static_cast<size_t>(give));
        held.erase(0, static_cast<size_t>(give));
        return give;
    }
    std::string held;
    bool finishing = false;
};

}  // namespace

extern "C" AudioCoder* CreateAudio3(int channels, int rate, int bits, uint32_t sourceType, uint32_t* outputType,
                                    const char* configFile) {
    std::ifstream config(configFile);
    std::stringstream text;
    text << config.rdbuf();
    char type[5] = {};
    std::memcpy(type, outputType, 4);
    char source[5] = {};
    std::memcpy(source, &sourceType, 4);
    Record("create " + std::to_string(channels) + " " + std::to_string(rate) + " " + std::to_string(bits) + " " +
           source + " " + type + " " + configFile);
    Record(text.str());
    if (std::getenv("SQ_STANDIN_REFUSE")) return nullptr;
    return new CopyCoder;
}

extern "C" int GetAudioTypes3(int, char*) { return 0; }

extern "C" void PrepareToFinish(const char*, AudioCoder* coder) {
    Record("prepare");
    static_cast<CopyCoder*>(coder)->finishing = true;
}

extern "C" void FinishAudio3(const char* fileName, AudioCoder*) { Record(std::string("finish ") + fileName); }
