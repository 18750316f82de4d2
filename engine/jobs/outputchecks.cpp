#include "engine/jobs/outputchecks.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/fileutil.h"
#include "engine/context.h"
#include "engine/engine_api.h"
#include "engine/eventlog.h"
#include "engine/jobs/fileops.h"
#include "engine/jobs/itemstate.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/partialname.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kFallbackTempDir = "/tmp/";
constexpr int kNoKeptAnswer = 0;
std::atomic<int> keptAnswer{kNoKeptAnswer};

bool DefaultFreeSpace(const std::string& folder, uint64_t* bytes) {
    std::error_code ec;
    const fs::space_info info = fs::space(folder, ec);
    if (ec) return false;
    *bytes = info.available;
    return true;
}
FreeSpaceQuery freeSpace = DefaultFreeSpace;

LogSource& Log() {
    static LogSource log = MakeLogSource("Job");
    return log;
}

void Notice(const std::string& text) { RaiseEvent(kEventNotice, text.c_str()); }

std::string WithSeparator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// Opens a probe file for writing in the folder; true when that worked (the probe is removed).
bool ProbeFolder(const std::string& folder) {
    if (folder.empty()) return false;
    const std::string probe = WithSeparator(folder) + "qxstream.tmp";
    FILE* f = std::fopen(probe.c_str(), "wb");
    if (!f) return false;
    std::fclose(f);
    platform::RemoveFileEntry(probe.c_str());
    return true;
}

}  // namespace

void SetFreeSpaceQuery(FreeSpaceQuery query) { freeSpace = query ? query : DefaultFreeSpace; }
void ClearKeptOverwriteAnswer() { keptAnswer.store(kNoKeptAnswer); }

std::string FormatKeyText(const char* key, const std::string& a, const std::string& b) {
    const char* text = EngineText(key);
    const std::string* args[] = {&a, &b};
    size_t next = 0;
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            out += '%';
            ++p;
        } else if (p[0] == '%' && p[1] == 's') {
            if (next < 2) out += *args[next++];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

std::string PostfixedName(const std::string& path, const std::string& postfix) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart || dot == nameStart) return path + postfix;
    return path.substr(0, dot) + postfix + path.substr(dot);
}

bool CheckJoinSettings(QueueItem* item, bool compareAudio) {
    if (!item) return false;
    PrefStore& p = GetPrefStore();
    ProbeItem(item, 0);
    QueueLockGuard lock;
    for (QueueItem* other = item->next; other && other->group == item->group; other = other->next) {
        ProbeItem(other, 0);
        const char* tip = nullptr;
        if (p.GetBool("overall.video.enabled") && item->video && other->video) {
            if (!p.GetBool("videofilter.scale.enabled") &&
                (other->video->width != item->video->width || other->video->height != item->video->height))
                tip = "JOIN_TIP1";
            if (!p.GetInt("videofilter.frame.fps") &&
                (other->video->fpsNum != item->video->fpsNum || other->video->fpsDen != item->video->fpsDen))
                tip = "JOIN_TIP1";
        }
        if (!tip && compareAudio && p.GetBool("overall.audio.enabled") && !p.GetBool("overall.audio.copy") &&
            p.GetInt("audiofilter.resample.samplerate") == 0 && item->audio && other->audio &&
            other->audio->samplerate != item->audio->samplerate)
            tip = "JOIN_TIP2";
        if (tip) {
            Notice(FormatKeyText(tip, item->file ? item->file : "", other->file ? other->file : "").substr(0, 255));
            return false;
        }
    }
    return true;
}

bool CheckTempDir(QueueItem* item) {
    PrefStore& p = GetPrefStore();
    const std::string candidates[] = {platform::AppFolder(), kFallbackTempDir};
    std::string folder;
    bool usable = false;
    for (int attempt = 0; attempt < 3 && !usable; ++attempt) {
        const char* value = p.GetString("overall.task.tempdir");
        folder = value ? value : "";
        usable = ProbeFolder(folder);
        if (!usable && attempt < 2) {
            LogMessageFormat(&Log(), "Temporary folder \"%s\" not usable, trying \"%s\"", folder.c_str(),
                             candidates[attempt].c_str());
            p.SetString("overall.task.tempdir", candidates[attempt].c_str());
        }
    }
    if (!usable) {
        SetItemError(kItemErrorTempDir, item);
        Notice(EngineText("INVALID_TEMP_DIR"));
        return false;
    }
    // Room for the part of the input that is converted, in KiB.
    uint64_t needed = item ? item->size : 0;
    if (item && item->duration > 0 && item->end > item->begin)
        needed = needed * (uint64_t{item->end} - item->begin) / static_cast<uint64_t>(item->duration);
    uint64_t available = 0;
    if (!freeSpace(folder, &available) || available / 1024 < needed) {
        SetItemError(kItemErrorTempDir, item);
        Notice(EngineText("INVALID_TEMP_SPACE"));
        return false;
    }
    return true;
}

int ApplyOverwritePolicy(const char* path, bool quiet) {
    if (!path) return kSkipOutput;
    if (!platform::PathExists(path)) return kNoFileThere;
    PrefStore& p = GetPrefStore();
    int policy = p.GetInt("overall.task.overwrite");
    // Unattended runs replace only the question; an explicit rename or skip still holds.
    if (p.GetBool("overall.automation.autoTask") && policy == 0) policy = kOverwrite;
    int answer = policy;
    if (policy == kSkipOutput) return kSkipOutput;
    if (policy == 0) {
        answer = keptAnswer.load();
        if (answer == kNoKeptAnswer) {
            const std::string question = FormatKeyText("OVERWRITE_CONFIRM", path).substr(0, 255);
            const int reply = RaiseEvent(kEventAskYesNoCancel, question.c_str());
            answer = reply == kAnswerYes ? kOverwrite : reply == kAnswerNo ? kMovedAside : kSkipOutput;
            if (!quiet && RaiseEvent(kEventAskCountdown, EngineText("OVERWRITE_KEEP")) != 0) keptAnswer.store(answer);
        }
    }
    if (answer == kOverwrite) {
        if (RemoveOutputFile(path, 1000) != 0) {
            Notice(FormatKeyText("ERROR_DELETE", path));
            return kSkipOutput;
        }
        return kOverwrite;
    }
    if (answer == kMovedAside) {
        // The old file keeps a free name; when none can be had, the item is skipped rather than
        // the old file overwritten.
        const char* postfixPref = p.GetString("overall.task.renPostfix");
        const std::string postfix = postfixPref ? postfixPref : "";
        std::string target = PostfixedName(path, postfix);
        for (int n = 2; n < 100 && platform::PathExists(target.c_str()); ++n)
            target = PostfixedName(path, postfix + std::to_string(n));
        if (!MoveFileNoReplace(path, target.c_str())) return kSkipOutput;
        return kMovedAside;
    }
    return kSkipOutput;
}

int PrepareOutputPath(QueueItem* item, const char* path, bool quiet) {
    if (!path) return -1;
    const std::string out = path;
    if (out == "NUL" || out == kNullDevice || IsNetworkPath(path)) return 0;
    const int answer = ApplyOverwritePolicy(path, quiet);
    if (answer == kSkipOutput) {
        if (item) SetItemStateUnlessStopping(item, kItemSkipping);
        return -1;
    }
    if (answer == kNoFileThere) {
        const char sep = out.find("://") != std::string::npos || out.find('\\') != std::string::npos ? '\\' : '/';
        const size_t last = out.find_last_of(sep);
        if (out.rfind("\\\\", 0) != 0 && last != std::string::npos && last > 0 &&
            GetPrefStore().GetBool("overall.automation.autoCreateDir")) {
            const std::string folder = out.substr(0, last);
            if (MakeDir(folder.c_str()) != 0) {
                LogMessageKeyFormat(&Log(), "ERROR_MAKE_DIR", folder.c_str(), 0);
                if (item) SetItemStateUnlessStopping(item, kItemError);
                return -1;
            }
        }
    }
    // The probe takes the output's partial name (the program's own), so that a run killed here
    // leaves nothing under the final name.
    const std::string partial = PartialOutputName(out);
    const std::string probe = partial.empty() ? out : partial;
    if (!partial.empty()) platform::RemoveFileEntry(probe.c_str());
    FILE* f = std::fopen(probe.c_str(), "wb");
    if (!f) {
        LogMessageKey(&Log(), "output_not_writable", 0);
        if (item) SetItemStateUnlessStopping(item, kItemError);
        return -1;
    }
    std::fclose(f);
    platform::RemoveFileEntry(probe.c_str());
    return 0;
}
