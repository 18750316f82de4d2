#include "ui/dialogs/splash.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <optional>

#include "platform/fs.h"
#include "platform/gui/gui.h"
#include "platform/gui/resources.h"
#include "platform/shell_open.h"
#include "res/resdata.h"
#include "ui/framework/dialog.h"
#include "ui/main/shell.h"

// Last: SDL's window-manager header brings Xlib's macros (None, Font, ...).
#include "ui/dialogs/splash_libs.h"

namespace ui {

namespace {

using namespace std::chrono_literals;

// User events of the event thread.
enum : int {
    kEventStartPicture = 1,  // data1: std::string* of PNG bytes
    kEventLoadPicture = 2,   // data1: std::string* of a picture file's path
};

constexpr int kLibrarySplashPicture = 292;  // the resource library's picture
constexpr gui::UINT kSplashTimerMs = 2000;
constexpr int kLastTick = 8;

SDL_Surface* AsSurface(void* s) { return static_cast<SDL_Surface*>(s); }

// The SDL functions, once the libraries are loaded: Open loads them before the event thread starts,
// and every other call comes after it.
const SplashLibs& Sdl() { return *SplashLibraries(); }

}  // namespace

struct CImageBox::ThreadState {
    std::thread thread;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::string failure;  // the message box text when the window could not be made
};

CImageBox::CImageBox(uint32_t sdlFlags) : flags_(sdlFlags) {}

CImageBox::~CImageBox() {
    Close(1000);
    if (thread_ && thread_->thread.joinable()) thread_->thread.detach();
}

void CImageBox::OnExpose() { Flip(); }

void CImageBox::Flip() {
    if (surface_) Sdl().SDL_Flip(AsSurface(surface_));
}

void CImageBox::DrawOpaque(void* picture) {
    if (!surface_ || !picture) return;
    Sdl().SDL_SetAlpha(AsSurface(picture), 0, SDL_ALPHA_OPAQUE);
    Sdl().SDL_UpperBlit(AsSurface(picture), nullptr, AsSurface(surface_), nullptr);
    Flip();
}

bool CImageBox::PushUserEvent(int code, void* data1, void* data2) {
    SDL_Event event{};
    event.type = SDL_USEREVENT;
    event.user.code = code;
    event.user.data1 = data1;
    event.user.data2 = data2;
    const SplashLibs* libs = SplashLibraries();
    return libs && libs->SDL_PushEvent(&event) == 0;
}

bool CImageBox::Open() {
    if (thread_) Close(1000);
    // Loads SDL here, before the event thread that calls it starts.
    if (!SplashLibraries()) {
        gui::MessageBoxA(nullptr, "Error init SDL", nullptr, gui::MB_OK);
        return false;
    }
    quit_ = 0;
    embedded_ = false;
    auto state = std::make_shared<ThreadState>();
    try {
        state->thread = std::thread([this, state] { EventLoop(state); });
    } catch (const std::system_error&) {
        gui::MessageBoxA(nullptr, "Error creating message thread", nullptr, gui::MB_OK);
        return false;
    }
    thread_ = state;
    std::string failure;
    {
        std::unique_lock lk(state->m);
        state->cv.wait_for(lk, 5000ms, [&] { return state->done || surfaceReady_.load(); });
        failure = state->failure;
    }
    if (!failure.empty() || !surfaceReady_) {
        gui::MessageBoxA(nullptr, failure.empty() ? "SDL window not created" : failure.c_str(), nullptr, gui::MB_OK);
        Close(1000);
        return false;
    }
    return true;
}

bool CImageBox::Close(uint32_t waitMs) {
    quit_ = 1;
    if (!thread_) return true;
    if (thread_->thread.get_id() == std::this_thread::get_id()) {
        // From one of our own handlers: the loop ends after it.
        SDL_Event event{};
        event.type = SDL_QUIT;
        Sdl().SDL_PushEvent(&event);
        return false;
    }
    bool done;
    {
        std::unique_lock lk(thread_->m);
        done = thread_->done;
    }
    if (!done) {
        SDL_Event event{};
        event.type = SDL_QUIT;
        Sdl().SDL_PushEvent(&event);
        std::unique_lock lk(thread_->m);
        done = thread_->cv.wait_for(lk, std::chrono::milliseconds(waitMs), [&] { return thread_->done; });
    }
    if (!done) return false;
    if (thread_->thread.joinable()) thread_->thread.join();
    thread_.reset();
    return true;
}

void CImageBox::EventLoop(const std::shared_ptr<ThreadState>& state) {
    auto finish = [&](const char* failure) {
        std::lock_guard lk(state->m);
        if (failure) state->failure = failure;
        state->done = true;
        state->cv.notify_all();
    };
    // The window's X id: what opacity and placement act on.
    auto readWindow = [this] {
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        unsigned long window = 0;
        if (Sdl().SDL_GetWMInfo(&info) > 0 && info.subsystem == SDL_SYSWM_X11) window = info.info.x11.wmwindow;
        xWindow_ = window;
    };
    if (!surface_) {
        // No parachute: the program's own crash handling stays in place.
        if (Sdl().SDL_Init(SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE) < 0) return finish("Error init SDL");
        SDL_Surface* screen = Sdl().SDL_SetVideoMode(width_, height_, bpp_, flags_ | SDL_ANYFORMAT);
        if (!screen) {
            Sdl().SDL_Quit();
            return finish("SDL_SetVideoMode error");
        }
        surface_ = screen;
        Sdl().SDL_WM_SetCaption("Quorvex", "Quorvex");
        readWindow();
        std::lock_guard lk(state->m);
        surfaceReady_ = true;
        state->cv.notify_all();
    }
    SDL_Event event;
    while (!quit_) {
        if (!Sdl().SDL_WaitEvent(&event)) break;
        switch (event.type) {
        case SDL_KEYDOWN: OnKey(event.key.keysym.sym); break;
        case SDL_MOUSEBUTTONDOWN: OnMouseDown(event.button.x, event.button.y, event.button.button); break;
        case SDL_MOUSEBUTTONUP: OnMouseUp(event.button.x, event.button.y, event.button.button); break;
        case SDL_QUIT:
            if (xWindow_ || surface_) OnQuit();
            quit_ = 1;
            break;
        case SDL_VIDEORESIZE:
            if (SDL_Surface* screen = Sdl().SDL_SetVideoMode(event.resize.w, event.resize.h, 32, flags_ | SDL_ANYFORMAT)) {
                surface_ = screen;
                readWindow();
                OnResize(event.resize.w, event.resize.h);
            }
            break;
        case SDL_VIDEOEXPOSE: OnExpose(); break;
        case SDL_USEREVENT: OnOwnEvent(event.user.code, event.user.data1, event.user.data2); break;
        default: break;
        }
    }
    // Events still queued may carry data: their handlers see the quit flag and only free it.
    while (Sdl().SDL_PollEvent(&event) > 0) {
        if (event.type == SDL_USEREVENT) OnOwnEvent(event.user.code, event.user.data1, event.user.data2);
    }
    OnOwnEvent(0, nullptr, nullptr);
    // The window surface belongs to SDL: SDL_Quit frees it, on this thread only.
    surface_ = nullptr;
    surfaceReady_ = false;
    xWindow_ = 0;
    Sdl().SDL_Quit();
    finish(nullptr);
}

void CImageBox::SetAlpha(int alpha) { x_.SetOpacity(xWindow_.load(), alpha); }
void CImageBox::CentreOnTop() { x_.CentreAbove(xWindow_.load(), width_, height_); }
void CImageBox::BringToFront() { x_.Raise(xWindow_.load()); }

// --- the splash ---

namespace {

Csplash* g_splash = nullptr;  // UI thread only
int g_ticks = 0;
gui::UINT_PTR g_timer = 0;
std::mutex g_linkLock;
std::string g_link;

std::string SplashLink() {
    std::lock_guard lk(g_linkLock);
    return g_link;
}

bool IsWebAddress(const std::string& link) {
    return link.rfind("http://", 0) == 0 || link.rfind("https://", 0) == 0;
}

// PNG 299 of the program, else PNG 292 of the resource library (not loaded yet at start-up).
std::optional<std::string> StartPictureBytes() {
    if (auto bytes = gui::LoadResourceBytes(nullptr, image::splash)) return bytes;
    const std::string path = platform::AppFolder() + "libqxres.so";
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) return std::nullopt;
    std::optional<std::string> out;
    auto get = reinterpret_cast<GetResourceDataFn>(dlsym(lib, "GetResourceData"));
    const char* type = nullptr;
    const unsigned char* bytes = nullptr;
    size_t size = 0;
    if (get && get(kLibrarySplashPicture, &type, &bytes, &size) == 1 && bytes && size > 0) {
        out.emplace(reinterpret_cast<const char*>(bytes), size);
    }
    dlclose(lib);
    return out;
}

void SplashTimerProc(gui::HWND, gui::UINT, gui::UINT_PTR, gui::DWORD) { SplashTimerStep(); }

}  // namespace

Csplash::Csplash() : CImageBox(SDL_NOFRAME) {}

Csplash::~Csplash() { Close(1000); }

bool Csplash::ShowStartPicture(std::string bytes) {
    auto* data = new std::string(std::move(bytes));
    if (PushUserEvent(kEventStartPicture, data, nullptr)) return true;
    delete data;
    return false;
}

bool Csplash::CrossFadeTo(const std::string& path) {
    auto* data = new std::string(path);
    if (PushUserEvent(kEventLoadPicture, data, nullptr)) return true;
    delete data;
    return false;
}

void Csplash::OnOwnEvent(int code, void* data1, void*) {
    std::unique_ptr<std::string> text(static_cast<std::string*>(data1));
    if (code == 0) {  // the event thread ends
        if (startPicture_) Sdl().SDL_FreeSurface(AsSurface(startPicture_));
        startPicture_ = nullptr;
        return;
    }
    if (quit_ || !text) return;
    if (code == kEventStartPicture) {
        SDL_RWops* rw = Sdl().SDL_RWFromConstMem(text->data(), static_cast<int>(text->size()));
        SDL_Surface* picture = rw ? Sdl().IMG_Load_RW(rw, 1) : nullptr;
        if (!picture) return;
        if (startPicture_) Sdl().SDL_FreeSurface(AsSurface(startPicture_));
        startPicture_ = picture;
        DrawOpaque(picture);
    } else if (code == kEventLoadPicture) {
        if (SDL_Surface* picture = Sdl().IMG_Load(text->c_str())) OnUserEvent(picture, startPicture_);
    }
}

void Csplash::OnUserEvent(void* data1, void* data2) {
    SDL_Surface* fresh = AsSurface(data1);
    SDL_Surface* old = AsSurface(data2);
    SDL_Surface* screen = AsSurface(Surface());
    if (!fresh) return;
    if (screen) {
        const Uint32 start = Sdl().SDL_GetTicks();
        for (Uint32 elapsed = 0; elapsed < 500 && !quit_; elapsed = Sdl().SDL_GetTicks() - start) {
            Sdl().SDL_FillRect(screen, nullptr, Sdl().SDL_MapRGB(screen->format, 255, 255, 255));
            if (old) {
                Sdl().SDL_SetAlpha(old, SDL_SRCALPHA, static_cast<Uint8>(250 - elapsed / 2));
                Sdl().SDL_UpperBlit(old, nullptr, screen, nullptr);
            }
            Sdl().SDL_SetAlpha(fresh, SDL_SRCALPHA, static_cast<Uint8>(elapsed / 2));
            Sdl().SDL_UpperBlit(fresh, nullptr, screen, nullptr);
            Sdl().SDL_Flip(screen);
            Sdl().SDL_Delay(10);
        }
        DrawOpaque(fresh);
        pictureShown = true;
    }
    Sdl().SDL_FreeSurface(fresh);
}

void Csplash::OnMouseDown(int x, int y, int) {
    const bool inCorner = x >= 369 && y < 32;
    if (pictureShown && !inCorner) {
        // The link came from the network: only a web address goes to the browser.
        const std::string link = SplashLink();
        if (IsWebAddress(link)) platform::ShellOpen(link);
    }
    if (NativeWindow()) {
        for (int alpha = 250; alpha >= 10; alpha -= 20) {
            SetAlpha(alpha);
            Sdl().SDL_Delay(20);
        }
    }
    Close(0);
    closing = true;
}

void Csplash::OnQuit() { closing = true; }

void StartSplash() {
    if (g_splash || UiModeAtStart.load() == 3) return;
    // SDL needs somewhere to draw: a display, or a driver chosen in the environment.
    if (!std::getenv("DISPLAY") && !std::getenv("SDL_VIDEODRIVER")) return;
    auto picture = StartPictureBytes();
    if (!picture) return;  // no picture: no splash, silently
    if (!SplashLibraries()) return;  // no SDL to draw with: no splash (a line on standard error says why)
    auto splash = std::make_unique<Csplash>();
    if (!splash->Open()) return;
    splash->SetAlpha(0);
    splash->ShowStartPicture(std::move(*picture));
    splash->CentreOnTop();
    if (splash->NativeWindow()) {
        for (int alpha = 5; alpha < 255; alpha += 5) {
            splash->SetAlpha(alpha);
            std::this_thread::sleep_for(10ms);
        }
    }
    splash->SetAlpha(255);
    g_splash = splash.release();
    g_ticks = 0;
    g_timer = gui::SetTimer(nullptr, 0, kSplashTimerMs, SplashTimerProc);
}

void DestroySplash() {
    if (!g_splash) return;
    if (g_timer) gui::KillTimer(nullptr, g_timer);
    g_timer = 0;
    g_ticks = 0;
    Csplash* splash = g_splash;
    g_splash = nullptr;
    // Only the event thread frees its window and shuts SDL down; a thread that does not end within
    // a second keeps its object rather than have it freed under it.
    if (splash->Close(1000)) delete splash;
}

void ShowSplashPicture(const std::string& path) {
    if (!g_splash || g_splash->closing) return;
    g_splash->BringToFront();
    g_splash->CrossFadeTo(path);
}

void SetSplashLink(const std::string& link) {
    std::lock_guard lk(g_linkLock);
    g_link = link;
}

Csplash* CurrentSplash() { return g_splash; }
int SplashTicks() { return g_ticks; }

void SplashTimerStep() {
    if (!g_splash) return;
    if (g_splash->closing) {
        DestroySplash();
        return;
    }
    ++g_ticks;
    if (g_ticks == 1) {
        g_splash->BringToFront();
        g_splash->broughtToFront = true;
        const std::string downloaded = GetDataPath("splash.jpg");
        struct stat st {};
        if (stat(downloaded.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            ShowSplashPicture(downloaded);
        } else {
            ++g_ticks;  // without a downloaded picture the splash goes one tick sooner
        }
    }
    if (g_ticks >= kLastTick) DestroySplash();
}

}  // namespace ui
