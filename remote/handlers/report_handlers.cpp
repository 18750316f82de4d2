#include "remote/handlers/report_handlers.h"

#include <strings.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include "common/timeutil.h"
#include "common/xml.h"
#include "engine/context.h"
#include "engine/devices/capture.h"
#include "engine/encoders/encoder.h"
#include "engine/engine_api.h"
#include "engine/jobs/itemstate.h"
#include "engine/jobs/jobstats.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/cpath.h"
#include "engine/queue/inputtype.h"
#include "engine/queue/queue.h"
#include "engine/tools/media_info.h"
#include "platform/fs.h"
#include "platform/sysinfo.h"
#include "remote/handlers/control_handlers.h"
#include "remote/httpd/web_server.h"

namespace {

constexpr int kTextXml = 2;
constexpr int kJavaScript = 6;

uint32_t ReplyString(UrlRequest* r, const std::string& text, int contentType) {
    char* copy = static_cast<char*>(malloc(text.size() + 1));
    if (!copy) return 0;
    memcpy(copy, text.c_str(), text.size() + 1);
    return ReplyHeap(r, copy, static_cast<int>(text.size()), contentType);
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return std::string(buf, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1)));
}

bool Parsed(UrlRequest* r) {
    if (r->variableCount < 0) WebParseVars(r);
    return r->variableCount > 0;
}

const char* Var(UrlRequest* r, const char* name) {
    return r->variableCount > 0 ? WebGetVar(r->variables, name, nullptr) : nullptr;
}

std::string XmlDeclaration(const char* href) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (href) text += std::string("<?xml-stylesheet type=\"text/xsl\" href=\"") + href + "\"?>\n";
    return text;
}

// The document's indented text as a heap reply.
uint32_t ReplyDocument(UrlRequest* r, CXML& doc) {
    char* text = nullptr;
    const int len = doc.Dump(&text, "UTF-8");
    if (len <= 0 || !text) return 0;
    return ReplyString(r, std::string(text, static_cast<size_t>(len)), kTextXml);
}

// The streaming server's own port while it runs (its addresses are the ones that answer), else
// the one it is configured for.
int StreamingPort() {
    if (g_streamingServer.running.load() && g_streamingServer.port > 0) return g_streamingServer.port;
    return GetPrefStore().GetInt("overall.streaming.port");
}

void AddItemReport(CXML& doc, QueueItem* item, int position, int taskMode) {
    doc.addChild("item");
    doc.addTextChild("path", item->file ? item->file : "");
    doc.addTextChild("type", item->inputType && item->inputType->description ? item->inputType->description : "");
    doc.addTextChild("mimetype", item->inputType && item->inputType->mime ? item->inputType->mime : "");
    doc.addChild("size", static_cast<int>(item->size));
    char time[QX_TIMESTR_SIZE];
    Int2TimeStr(item->duration / 1000, time);
    doc.addTextChild("duration", time);
    doc.addChild("done", item->state.load() == kItemDone ? 1 : 0);

    PrefStore& prefs = GetPrefStore();
    const std::string ip = prefs.GetValueText("overall.streaming.ip");
    if (taskMode == 6 && !ip.empty()) {
        std::string ext = item->destFile ? CPath(item->destFile).GetExt() : "";
        if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
        doc.addTextChild("url", Format("http://%s:%d/MediaServer/%s/%d.%s", ip.c_str(), StreamingPort(), "AudioItems",
                                       position + 1, ext.c_str()).c_str());
    }

    if (item->flags.load() & kItemFlagHasStreams) {
        doc.addChild("info");
        doc.addChild("size", static_cast<int>(item->size));
        doc.addTextChild("container", item->containerFormat ? item->containerFormat : "");
        doc.addChild("duration", item->duration);
        doc.addChild("bitrate", static_cast<int>(item->containerBitrate));
        if (item->begin) doc.addChild("begin", static_cast<int>(item->begin));
        if (item->end) doc.addChild("end", static_cast<int>(item->end));
        for (AudioStreamInfo* a = item->audio; a; a = a->next) {
            doc.addChild("audio");
            doc.setAttribute("id", static_cast<int>(a->id));
            doc.addChild("duration", static_cast<int>(a->duration));
            doc.addTextChild("codec", a->codec ? a->codec : "");
            doc.addChild("bitrate", static_cast<int>(a->bitrate));
            doc.addChild("channels", static_cast<int>(a->channels));
            doc.addChild("samplerate", static_cast<int>(a->samplerate));
            doc.addChild("samplebits", static_cast<int>(a->samplebits));
            doc.goParent();
        }
        for (VideoStreamInfo* v = item->video; v; v = v->next) {
            doc.addChild("video");
            doc.setAttribute("id", static_cast<int>(v->id));
            doc.addChild("duration", static_cast<int>(v->duration));
            doc.addTextChild("format", v->format ? v->format : "");
            doc.addTextChild("codec", v->codec ? v->codec : "");
            doc.addChild("bitrate", static_cast<int>(v->bitrate));
            doc.addChild("width", static_cast<int>(v->width));
            doc.addChild("height", static_cast<int>(v->height));
            doc.addTextChild("fps", Format("%.2f", v->fpsDen ? static_cast<double>(v->fpsNum) / v->fpsDen : 0.0).c_str());
            doc.goParent();
        }
        if (item->flags.load() & kItemFlagHasTags) {
            doc.addChild("tags");
            auto text = [&](const char* name, const char* value) {
                if (value && *value) doc.addTextChild(name, value);
            };
            text("title", item->tagTitle);
            text("artist", item->tagArtist);
            if (item->tagTrack) doc.addChild("track", static_cast<int>(item->tagTrack));
            if (item->tagYear) doc.addChild("year", static_cast<int>(item->tagYear));
            text("album", item->tagAlbum);
            text("genre", item->tagGenre);
            text("comment", item->tagComment);
            doc.goParent();
        }
        doc.goParent();
    }

    const uint32_t elapsed = item->run.elapsed.load();
    if (elapsed > 0) {
        doc.addChild("benchmark");
        doc.addTextChild("elapsed", Format("%.3f", elapsed / 1000.0).c_str());
        if (item->run.frames.load()) doc.addChild("frames", static_cast<int>(item->run.frames.load()));
        if (item->duration > 0) {
            doc.addChild("duration", item->duration);
            doc.addTextChild("speed", Format("%.2f", static_cast<double>(item->duration) / elapsed).c_str());
        }
        doc.goParent();
    }
    doc.goParent();
}

// "key : value" lines of a text file (the first occurrence of each key).
std::map<std::string, std::string> KeyValueFile(const char* path, char separator) {
    std::map<std::string, std::string> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find(separator);
        if (at == std::string::npos) continue;
        auto trim = [](std::string s) {
            const size_t b = s.find_first_not_of(" \t\"");
            const size_t e = s.find_last_not_of(" \t\"");
            return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
        };
        out.emplace(trim(line.substr(0, at)), trim(line.substr(at + 1)));
    }
    return out;
}

std::string FirstLineOf(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

int ProcessorEntries() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        if (line.rfind("processor", 0) == 0) ++n;
    return std::max(n, 1);
}

std::mutex g_sysInfoMutex;
bool g_sysInfoBuilt = false;
std::string g_sysInfoBody;

// The system report: the operating system, kernel, machine, memory and processor count, built
// once and kept for the process (it does not change while the program runs).
const std::string& SysInfoBody() {
    std::lock_guard lock(g_sysInfoMutex);
    if (g_sysInfoBuilt) return g_sysInfoBody;
    g_sysInfoBuilt = true;
    auto os = KeyValueFile("/etc/os-release", '=');
    auto mem = KeyValueFile("/proc/meminfo", ':');
    utsname u{};
    uname(&u);
    std::string body = "<System>\n";
    auto element = [&](const char* name, const std::string& value) {
        body += std::string(" <") + name + ">" + XmlEscape(value.c_str()) + "</" + name + ">\n";
    };
    element("OS", os.count("PRETTY_NAME") ? os["PRETTY_NAME"] : u.sysname);
    element("Kernel", std::string(u.sysname) + " " + u.release);
    element("Machine", u.machine);
    element("Memory", mem.count("MemTotal") ? mem["MemTotal"] : "");
    element("Processors", std::to_string(platform::ProcessorCount()));
    body += "</System>\n";
    g_sysInfoBody = body;
    return g_sysInfoBody;
}

}  // namespace

uint32_t HandleStatsXml(UrlRequest* r) {
    EngineContext* ctx = GetEngineContext();
    Parsed(r);
    std::string xml = XmlDeclaration(SafeHref(Var(r, "xsl")));
    int percent = 0;
    bool audioBlock = false;
    std::string audio;
    {
        QueueLockGuard lock;
        QueueItem* item = RunningItem();
        if (item) {
            percent = std::max(UpdateItemStats(item, true), 0);
            const ItemRunStats& s = item->run;
            const float speed = s.speed.load();
            if (speed > 0) {
                audioBlock = true;
                const uint32_t pos = s.position.load();
                const uint64_t bytes = s.bytes.load();
                const uint32_t total = s.totalLength.load();
                audio = "<audio>\n";
                audio += Format("<audioBitrate>%d</audioBitrate>\n", pos ? static_cast<int>(bytes * 8 / pos) : 0);
                audio += Format("<audioBytes>%d</audioBytes>\n", static_cast<int>(bytes));
                audio += Format("<duration>%d</duration>\n", static_cast<int>(total));
                audio += Format("<estimatedSize>%d</estimatedSize>\n", pos ? static_cast<int>(bytes * total / pos) : 0);
                audio += Format("<frames>%d</frames>\n", static_cast<int>(s.frames.load()));
                audio += Format("<pos>%f</pos>\n", pos / 1000.0);
                audio += Format("<speed>%d</speed>\n", static_cast<int>(speed));
                audio += "</audio>\n";
            }
        }
    }
    EngineContext zero;
    const EngineContext& c = ctx ? *ctx : zero;
    xml += "<stats>\n";
    xml += Format("<beat>%d</beat>\n", c.beatCounter.load());
    xml += Format("<state>%d</state>\n", static_cast<int>(GetItemState(nullptr)));
    xml += Format("<percent>%d</percent>\n", percent);
    xml += Format("<remainTime>%d</remainTime>\n", c.remainingSeconds.load());
    xml += Format("<elapsedTime>%.1f</elapsedTime>\n", c.itemElapsedMs.load() / 1000.0);
    xml += Format("<totalElapsedTime>%.1f</totalElapsedTime>\n", c.totalElapsedMs.load() / 1000.0);
    xml += Format("<durationCount>%.1f</durationCount>\n", c.processedDurationMs.load() / 1000.0);
    xml += Format("<decodedMB>%d</decodedMB>\n", c.decodedMB.load());
    xml += Format("<encodedKB>%d</encodedKB>\n", c.encodedKB.load());
    if (c.itemElapsedMs.load() != 0 && c.totalElapsedMs.load() != 0)
        xml += Format("<speed>%.2f</speed>\n", static_cast<double>(c.processedDurationMs.load()) / c.totalElapsedMs.load());
    if (c.outputFiles.load() > 0)
        xml += Format("<fps>%.2f</fps>\n", static_cast<double>(c.framesEncoded.load()) / c.outputFiles.load());
    xml += Format("<errorFiles>%d</errorFiles>\n", c.errorFiles.load());
    xml += Format("<outputFiles>%d</outputFiles>\n", c.outputFiles.load());
    xml += Format("<processedFiles>%d</processedFiles>\n", c.processedFiles.load());
    xml += Format("<skippedFiles>%d</skippedFiles>\n", c.skippedFiles.load());
    xml += Format("<throughput>%d</throughput>\n", c.throughput.load());
    if (audioBlock) xml += audio;
    xml += "</stats>\n";
    return ReplyString(r, xml, kTextXml);
}

uint32_t HandleReportJs(UrlRequest* r) {
    EngineContext* ctx = GetEngineContext();
    EngineContext zero;
    const EngineContext& c = ctx ? *ctx : zero;
    const int outputs = c.outputFiles.load();
    const std::string text = Format(
        "var qxstate=%d;\nvar errcode=%d;\nvar report={encoding_time:%.1f,output_files:%d,error_files:%d,"
        "skipped_files:%d,decoded_mb:%d,encoded_mb:%.1f,compression:%.2f,overall_fps:%.1f,"
        "overall_duration:%.1f,throughput:%u};",
        static_cast<int>(GetItemState(nullptr)), GetLastItemError(), c.totalEncodingMs.load() / 1000.0, outputs,
        c.errorFiles.load(), c.skippedFiles.load(), c.decodedMB.load(), c.encodedKB.load() / 1024.0,
        static_cast<double>(c.compressionRatio.load()),
        outputs > 0 ? static_cast<double>(c.framesEncoded.load()) / outputs : 0.0,
        c.processedDurationMs.load() / 1000.0, static_cast<unsigned>(c.throughput.load()));
    return ReplyString(r, text, kJavaScript);
}

uint32_t HandleReportXml(UrlRequest* r) {
    const bool any = Parsed(r);
    const char* href = any ? SafeHref(Var(r, "xslt")) : "report.xsl";
    const char* indexText = Var(r, "index");
    const int only = indexText ? atoi(indexText) : -1;
    EngineContext* ctx = GetEngineContext();
    const int mode = ctx ? ctx->taskMode.load() : 0;
    CXML doc;
    doc.New("1.0", "QuorvexReport", href);
    {
        QueueLockGuard lock;
        int position = 0;
        for (QueueItem* item = QueueNext(nullptr); item; item = QueueNext(item), ++position) {
            if (only >= 0 && position != only) continue;
            AddItemReport(doc, item, position, mode);
            doc.goRoot();
        }
    }
    return ReplyDocument(r, doc);
}

std::string ItemStatsScript(const QueueItem* item, const ItemStatSample* s, uint32_t n, int kind) {
    std::string out;
    auto series = [&](const char* name) { out += Format("var series%s={type: 'area', pointInterval: 1000, data: [", name); };
    auto close = [&] {
        if (out.back() == ',') out.pop_back();
        out += "]};";
    };
    switch (kind) {
    case 0: {
        PrefStore& prefs = GetPrefStore();
        const int64_t end = item->end ? item->end : item->duration;
        const int64_t duration = std::max<int64_t>(end - static_cast<int64_t>(item->begin), 0);
        out = Format("var stats={duration:%u,elapsed:%u,video:{format:'%s',frames:%u},audio:{format:'%s',samples:%u}};",
                     static_cast<unsigned>(duration), item->run.elapsed.load(),
                     XmlEscape(prefs.GetValueText("overall.video.format").c_str()).c_str(), item->run.frames.load(),
                     XmlEscape(prefs.GetValueText("overall.audio.format").c_str()).c_str(), item->run.samples.load());
        return out;
    }
    case 1:
    case 2: {
        series(kind == 1 ? "VideoBitrate" : "AudioBitrate");
        auto bytes = [&](uint32_t i) -> int64_t { return kind == 1 ? s[i].videoBytes : s[i].audioBytes; };
        if (n > 1) out += Format("%u,", static_cast<unsigned>(bytes(1) - bytes(0)));
        if (n > 2) out += Format("%u,", static_cast<unsigned>((bytes(2) - bytes(0)) / 2));
        for (uint32_t i = 3; i < n; ++i) out += Format("%u,", static_cast<unsigned>((bytes(i) - bytes(i - 3)) / 3));
        close();
        return out;
    }
    case 3:
        series("Speed");
        for (uint32_t i = 1; i < n; ++i) {
            if (s[i].timeMs == s[i - 1].timeMs) out += "0,";
            else out += Format("%f,", 1000.0 / (static_cast<double>(s[i].timeMs) - s[i - 1].timeMs));
        }
        close();
        return out;
    case 4:
        series("AudioEncoder");
        for (uint32_t i = 1; i < n; ++i) out += Format("%u,", std::min(s[i].load[2] + s[i].load[3], 100));
        close();
        series("VideoEncoder");
        for (uint32_t i = 1; i < n; ++i) out += Format("%u,", std::min(s[i].load[0] + s[i].load[1], 100));
        close();
        return out;
    default:
        return " ";
    }
}

uint32_t HandleItemStats(UrlRequest* r) {
    Parsed(r);
    const char* path = r->path ? r->path : "";
    char* end = nullptr;
    const long kind = strtol(path, &end, 10);
    const char* indexText = Var(r, "index");
    int index = indexText ? atoi(indexText) : -1;
    QueueItem* focused = index < 0 ? reinterpret_cast<QueueItem*>(RaiseEvent(kEventFocusedItem)) : nullptr;
    std::string text = "var stats = null;";
    {
        QueueLockGuard lock;
        QueueItem* item = nullptr;
        if (index >= 0) item = QueueGetItem(index);
        else if (focused && QueueIndexOf(focused) >= 0) item = focused;
        else item = QueueGetItem(0);
        // The samples are copied under the queue lock: the item cannot be freed meanwhile.
        if (item && item->statSamples && item->statSampleCount > 0) {
            std::vector<ItemStatSample> samples(item->statSamples, item->statSamples + item->statSampleCount);
            text = end == path ? " " : ItemStatsScript(item, samples.data(), static_cast<uint32_t>(samples.size()),
                                                       static_cast<int>(kind));
        }
    }
    return ReplyString(r, text, kJavaScript);
}

uint32_t HandleAppInfoXml(UrlRequest* r) {
    Parsed(r);
    std::string xml = XmlDeclaration(SafeHref(Var(r, "xsl")));
    xml += Format("<Root>\n<VideoSources>%d</VideoSources>\n<AudioSources>%d</AudioSources>\n"
                  "<VideoEncoders>%d</VideoEncoders>\n<AudioEncoders>%d</AudioEncoders>\n</Root>\n",
                  9, 14, 19, static_cast<int>(kEncNull) + 1);
    return ReplyString(r, xml, kTextXml);
}

uint32_t HandleSysInfoXml(UrlRequest* r) {
    Parsed(r);
    return ReplyString(r, XmlDeclaration(SafeHref(Var(r, "xsl"))) + SysInfoBody(), kTextXml);
}

void ResetSysInfoReport() {
    std::lock_guard lock(g_sysInfoMutex);
    g_sysInfoBuilt = false;
    g_sysInfoBody.clear();
}

// The codec list of a Windows-only media framework: there is none here, so the route declines.
uint32_t HandleWmCodecsXml(UrlRequest*) { return 0; }

uint32_t HandleSysXml(UrlRequest* r) {
    Parsed(r);
    auto cpu = KeyValueFile("/proc/cpuinfo", ':');
    auto get = [&](const char* key) { return cpu.count(key) ? cpu[key] : std::string(); };
    std::string xml = XmlDeclaration(SafeHref(Var(r, "xsl")));
    auto element = [&](const char* name, const std::string& value) {
        xml += std::string("<") + name + ">" + XmlEscape(value.c_str()) + "</" + name + ">";
    };
    xml += "<SysInfo><CPU>";
    element("Vendor", get("vendor_id"));
    element("Name", get("model name"));
    element("CodeName", "");
    element("NameString", get("model name"));
    const std::string family = get("cpu family");
    element("Version", family.empty() ? "0" : family);
    if (!family.empty()) {
        element("Family", family);
        element("Model", get("model"));
        element("Stepping", get("stepping"));
    }
    element("ProcessRule", "");
    element("MicroCode", get("microcode"));
    element("FSBMode", "");
    element("HyperTransport", "System Bus");
    element("Number", std::to_string(ProcessorEntries()));
    element("Cores", get("cpu cores"));
    element("PlatformName", "");
    element("PlatformID", "");
    xml += "<Clocks>";
    element("Clock", get("cpu MHz"));
    element("SystemBus", "");
    element("SystemClock", "");
    element("Multiplier", "");
    xml += "</Clocks><OriginalClocks>";
    element("Clock", get("cpu MHz"));
    element("SystemBus", "");
    element("SystemClock", "");
    element("Multiplier", "");
    xml += "</OriginalClocks>";
    xml += "<Overclock>0%</Overclock>";
    xml += "<Cache>";
    element("Speed", "");
    element("CacheString", get("cache size"));
    xml += "</Cache>";
    element("BrandID", "");
    element("APIC", get("apicid"));
    element("HT", "");
    xml += "<Features>";
    std::istringstream flags(get("flags"));
    std::vector<std::string> have;
    for (std::string f; flags >> f;) have.push_back(f);
    const struct {
        const char* flag;
        const char* element;
    } kFeatures[] = {{"mmx", "MMX"},         {"mmxext", "MMX2"},    {"sse", "SSE"},           {"sse2", "SSE2"},
                     {"pni", "SSE3"},        {"ssse3", "SSSE3"},    {"sse4_1", "SSE4"},       {"sse4_1", "SSE4.1"},
                     {"sse4_2", "SSE4.2"},   {"3dnow", "AMD3DNow"}, {"3dnowext", "AMD3DNowEx"}, {"ht", "HyperThread"},
                     {"vmx", "VT"},          {"svm", "AMDV"},       {"lm", "AA64"},           {"lm", "IA32E"},
                     {"nx", "NX"}};
    for (const auto& f : kFeatures)
        if (std::find(have.begin(), have.end(), f.flag) != have.end()) xml += std::string("<") + f.element + "/>";
    if (atoi(get("cpu cores").c_str()) >= 2) xml += "<DualCore/>";
    xml += "</Features></CPU><MainBoard>";
    element("Manufacturer", FirstLineOf("/sys/class/dmi/id/board_vendor"));
    element("Product", FirstLineOf("/sys/class/dmi/id/board_name"));
    xml += "</MainBoard><VideoCaptureDevices>" + CaptureDeviceListXml(false) + "</VideoCaptureDevices>";
    xml += "<AudioCaptureDevices>" + CaptureDeviceListXml(true) + "</AudioCaptureDevices></SysInfo>";
    return ReplyString(r, xml, kTextXml);
}

std::string XmlElementName(const std::string& text) {
    std::string name;
    for (char ch : text) {
        const unsigned char u = static_cast<unsigned char>(ch);
        if (ch == '(' || ch == ')') continue;
        if (isalnum(u) || ch == '_' || ch == '-' || ch == '.') name += ch;
        else name += '_';
    }
    if (name.empty() || isdigit(static_cast<unsigned char>(name[0])) || name[0] == '-' || name[0] == '.')
        name.insert(name.begin(), '_');
    // "xml" in any case may not start a name.
    if (name.size() >= 3 && strncasecmp(name.c_str(), "xml", 3) == 0) name.insert(name.begin(), '_');
    return name;
}

std::string MediaInfoTextToXml(const std::string& text, const char* stylesheet) {
    CXML doc;
    doc.New("1.0", "MediaInfo", stylesheet);
    bool inSection = false;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            if (inSection) doc.goParent();
            std::string name = line;
            std::string id;
            if (size_t hash = line.find('#'); hash != std::string::npos) {
                id = line.substr(hash + 1);
                name = line.substr(0, hash);
                while (!name.empty() && name.back() == ' ') name.pop_back();
            }
            doc.addChild(XmlElementName(name).c_str());
            if (!id.empty()) doc.setAttribute("id", id.c_str());
            inSection = true;
            continue;
        }
        if (!inSection) continue;  // fields before the first section have no place
        size_t nameEnd = line.find("  ");
        if (nameEnd == std::string::npos || nameEnd > colon) nameEnd = colon;
        std::string name = line.substr(0, nameEnd);
        std::string value = line.substr(colon + 1);
        name.erase(0, name.find_first_not_of(' '));
        while (!name.empty() && name.back() == ' ') name.pop_back();
        value.erase(0, std::min(value.find_first_not_of(' '), value.size()));
        doc.addTextChild(XmlElementName(name).c_str(), value.c_str());
    }
    char* out = nullptr;
    const int len = doc.Dump(&out, "UTF-8");
    return len > 0 && out ? std::string(out, static_cast<size_t>(len)) : std::string();
}

uint32_t HandleMediaInfoXml(UrlRequest* r) {
    if (!Parsed(r)) return 0;
    std::string file;
    if (const char* path = Var(r, "path")) {
        file = path;
    } else if (const char* id = Var(r, "id")) {
        QueueLockGuard lock;
        QueueItem* item = QueueGetItem(atoi(id));
        if (item && item->file) file = item->file;
    }
    // Only local files: a network address would have the server fetch whatever a page names.
    platform::PathInfo info;
    if (file.empty() || file.find("://") != std::string::npos || !platform::StatPath(file.c_str(), &info) || info.isDir)
        return 0;
    CMediaInfo tool;
    if (!RunMediaInfoText(&tool, file.c_str())) return 0;
    const std::string xml = MediaInfoTextToXml(tool.output, SafeHref(Var(r, "xslt")));
    if (xml.empty()) return 0;
    return ReplyString(r, xml, kTextXml);
}
