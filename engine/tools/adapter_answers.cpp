#include "engine/tools/adapter_answers.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "engine/tools/process.h"
#include "platform/cmdline.h"
#include "tools/player-adapters/identify_answers.h"

namespace {

// Whether the file holds the adapter's mark; read once per version of the file.
bool HoldsAdapterMark(const std::string& path) {
    struct Seen {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        timespec changed{};
        bool mark = false;
    };
    static std::mutex seenMutex;
    static Seen seen;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return false;
    std::lock_guard<std::mutex> lock(seenMutex);
    if (seen.device == st.st_dev && seen.inode == st.st_ino && seen.size == st.st_size &&
        seen.changed.tv_sec == st.st_mtim.tv_sec && seen.changed.tv_nsec == st.st_mtim.tv_nsec)
        return seen.mark;
    bool mark = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const size_t size = static_cast<size_t>(st.st_size);
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (map != MAP_FAILED) {
            mark = memmem(map, size, kPlayerAdapterMark, sizeof kPlayerAdapterMark) != nullptr;
            munmap(map, size);
        }
    }
    seen = Seen{st.st_dev, st.st_ino, st.st_size, st.st_mtim, mark};
    return mark;
}

}  // namespace

bool AnswerIdentifyInProgram(const std::string& commandLine, std::string* output) {
    if (!output) return false;
    std::vector<std::string> words = platform::SplitArgs(commandLine);
    if (words.empty() || words[0] != "mplayer") return false;
    const std::string place = FirstToolPlace(words[0]);
    if (place.empty() || !HoldsAdapterMark(place)) return false;
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const Request request = ParseRequest(static_cast<int>(words.size()), argv.data());
    return WaveIdentifyText(request, output) || FlacIdentifyText(request, output);
}
