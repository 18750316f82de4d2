#include "engine/jobs/outputnames.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>

namespace {

std::mutex namesMutex;
std::condition_variable namesFreed;
std::set<std::string> namesInUse;

// One spelling per file: "out/./a.mp3" and "out/a.mp3" are the same output.
std::string Key(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
    return (ec ? std::filesystem::path(name) : absolute).lexically_normal().string();
}

}  // namespace

OutputNameClaim::OutputNameClaim(const std::string& name, const std::function<bool()>& giveUp) {
    if (name.empty()) {
        claimed_ = true;
        return;
    }
    const std::string key = Key(name);
    std::unique_lock<std::mutex> lock(namesMutex);
    // The wait is as long as the other job, which its own limits bound; a stop ends it early.
    while (namesInUse.count(key)) {
        waited_ = true;
        if (giveUp && giveUp()) return;
        namesFreed.wait_for(lock, std::chrono::milliseconds(100));
    }
    namesInUse.insert(key);
    key_ = key;
    claimed_ = true;
}

OutputNameClaim::~OutputNameClaim() {
    if (key_.empty()) return;
    {
        std::lock_guard<std::mutex> lock(namesMutex);
        namesInUse.erase(key_);
    }
    namesFreed.notify_all();
}
