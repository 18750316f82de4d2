#include "engine/devices/capture.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/xml.h"
#include "engine/encoders/wave_header.h"

namespace cap = platform::capture;

namespace {

class MachineBackend : public CaptureBackend {
public:
    std::vector<cap::Endpoint> List(bool audio) override { return audio ? cap::ListEndpoints() : std::vector<cap::Endpoint>{}; }
    std::unique_ptr<cap::Stream> Open(const std::string& id, const cap::Format& wanted) override {
        return cap::OpenStream(id, wanted, nullptr);
    }
};

std::mutex backendLock;
CaptureBackend* backendOverride = nullptr;

CaptureBackend& Backend() {
    static MachineBackend machine;
    std::lock_guard<std::mutex> lock(backendLock);
    return backendOverride ? *backendOverride : machine;
}

// The input path takes the device name after its last comma, so a name must not hold one.
std::string ListName(const std::string& description) {
    std::string name;
    for (size_t i = 0; i < description.size(); ++i) {
        if (description[i] != ',') name += description[i];
        else if (i + 1 < description.size() && description[i + 1] == ' ') name += " -";
        else name += ' ';
    }
    return name;
}

struct NamedDevice {
    std::string name;
    std::string id;
};

// Unique names in the order found: a repeated name gets " #1", " #2", ... until it is unique.
std::vector<NamedDevice> UniqueDevices(bool audio) {
    std::vector<NamedDevice> out;
    for (const cap::Endpoint& e : Backend().List(audio)) {
        const std::string base = ListName(e.description);
        std::string name = base;
        auto taken = [&](const std::string& n) {
            return std::any_of(out.begin(), out.end(), [&](const NamedDevice& d) { return d.name == n; });
        };
        for (int count = 1; taken(name); ++count) name = base + " #" + std::to_string(count);
        out.push_back({name, e.id});
    }
    return out;
}

std::vector<std::string> SortedNames(bool audio) {
    std::vector<std::string> names;
    for (const NamedDevice& d : UniqueDevices(audio)) names.push_back(d.name);
    std::sort(names.begin(), names.end());
    return names;
}

int64_t Now100ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count() / 100;
}

}  // namespace

void SetCaptureBackend(CaptureBackend* backend) {
    std::lock_guard<std::mutex> lock(backendLock);
    backendOverride = backend;
}

std::string FindCaptureDevice(const char* name, std::vector<std::string>* names, bool audio) {
    if (name) {
        for (const NamedDevice& d : UniqueDevices(audio))
            if (d.name == name) return d.id;
        return "";
    }
    if (names) *names = SortedNames(audio);
    return "";
}

std::string CaptureDeviceListXml(bool audio) {
    std::string text;
    for (const std::string& n : SortedNames(audio)) text += "<device>" + XmlEscape(n.c_str()) + "</device>";
    return text;
}

std::string CaptureDeviceListText(bool audio, const char* separator) {
    std::string text;
    for (const std::string& n : SortedNames(audio)) {
        if (!text.empty()) text += separator ? separator : "";
        text += n;
    }
    return text;
}

bool CaptureDevice::Open(const char* name, bool audio, int, int, int, const char* chroma) {
    Close();
    if (!audio) return false;
    std::vector<std::string> names;
    FindCaptureDevice(nullptr, &names, true);
    if (names.empty()) return false;
    const std::string wanted = name && *name ? name : names.front();
    const std::string id = FindCaptureDevice(wanted.c_str(), nullptr, true);
    if (id.empty()) return false;
    cap::Format format;
    format.isFloat = chroma && strlen(chroma) >= 4 && memcmp(chroma, "fl32", 4) == 0;
    format.bits = format.isFloat ? 32 : 16;
    std::unique_ptr<cap::Stream> stream = Backend().Open(id, format);
    if (!stream) return false;
    std::lock_guard<std::mutex> lock(lock_);
    stream_ = std::move(stream);
    format_ = stream_->GetFormat();
    queue_.clear();
    stopped_ = failed_ = false;
    error_.clear();
    kind_ = 1;
    state_ = 1;
    return true;
}

bool CaptureDevice::Start() {
    std::lock_guard<std::mutex> lock(lock_);
    if (state_ != 1) return false;
    if (thread_.joinable()) return true;
    running_ = true;
    thread_ = std::thread(&CaptureDevice::CaptureLoop, this);
    return true;
}

void CaptureDevice::Stop() {
    std::lock_guard<std::mutex> lock(lock_);
    stopped_ = true;
    sampleArrived_.notify_all();
}

bool CaptureDevice::Close() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (state_ != 1) return false;
        running_ = false;
        stopped_ = true;
        sampleArrived_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(lock_);
    stream_.reset();
    queue_.clear();
    state_ = 0;
    return true;
}

void CaptureDevice::CaptureLoop() {
    const size_t frameBytes = format_.channels * format_.bits / 8;
    const size_t periodBytes = std::max<size_t>(frameBytes, format_.rate / 10 * frameBytes);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (!running_) return;
        }
        std::vector<uint8_t> data(periodBytes);
        const cap::ReadResult r = stream_->Read(data.data(), data.size(), 200);
        if (r == cap::ReadResult::kTimeout) continue;
        if (r == cap::ReadResult::kFailed) {
            std::lock_guard<std::mutex> lock(lock_);
            failed_ = true;
            error_ = "The capture device stopped delivering audio.";
            sampleArrived_.notify_all();
            return;
        }
        Receive(std::move(data));
    }
}

void CaptureDevice::Receive(std::vector<uint8_t> data) {
    std::lock_guard<std::mutex> lock(lock_);
    queue_.push_back({std::move(data), 0, Now100ns()});
    if (queue_.size() > kQueueLimit) queue_.pop_front();
    sampleArrived_.notify_all();
}

int CaptureDevice::ReadSample(void* buffer, int size, int64_t* timeMs) {
    std::unique_lock<std::mutex> lock(lock_);
    if (state_ != 1 || size <= 0) return -1;
    sampleArrived_.wait_for(lock, std::chrono::milliseconds(kReadWaitMs),
                            [this] { return stopped_ || failed_ || !queue_.empty(); });
    if (stopped_) return -1;
    if (queue_.empty()) return failed_ ? -1 : 0;
    Sample& s = queue_.front();
    const size_t n = std::min(s.data.size() - s.offset, static_cast<size_t>(size));
    memcpy(buffer, s.data.data() + s.offset, n);
    if (timeMs) *timeMs = s.time100ns / 10 / 1000;
    s.offset += n;
    if (s.offset >= s.data.size()) queue_.pop_front();
    return static_cast<int>(n);
}

bool CaptureDevice::GetConfig(CaptureConfig* out) {
    std::lock_guard<std::mutex> lock(lock_);
    if (state_ != 1 || !out) return false;
    *out = CaptureConfig{};
    out->kind = static_cast<uint32_t>(kind_);
    WaveHeader h;
    InitWaveHeader(&h, format_.rate, format_.channels, format_.bits, 0);
    h.riffSize = 0;
    memcpy(out->wave, &h, sizeof h);
    return true;
}

bool CaptureDevice::Failed() {
    std::lock_guard<std::mutex> lock(lock_);
    return failed_;
}

std::string CaptureDevice::Error() {
    std::lock_guard<std::mutex> lock(lock_);
    return error_;
}
