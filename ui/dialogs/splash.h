// The start-up splash: a borderless 400 x 374 picture that fades in, may cross-fade to the picture
// the news feed downloaded ("splash.jpg" in the data folder), opens the feed's link when clicked,
// and goes after about fifteen seconds, when a batch starts or when the program ends.
//
// CImageBox is a small SDL 1.2 image window whose window and events belong to a thread of its own:
// every SDL call that touches the video state or a surface runs on that thread; the UI thread only
// changes the window's opacity, pushes SDL events and destroys the splash. The splash timer runs on
// the UI thread.
//
// Lock order: the X connection's lock and the event thread's state lock are leaves; neither is
// held while the other is taken.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ui/dialogs/splash_x11.h"

namespace ui {

class CImageBox {
public:
    CImageBox(uint32_t sdlFlags = 0);
    virtual ~CImageBox();
    CImageBox(const CImageBox&) = delete;
    CImageBox& operator=(const CImageBox&) = delete;

    virtual void OnKey(int /*sym*/) {}
    virtual void OnMouseDown(int /*x*/, int /*y*/, int /*button*/) {}
    virtual void OnMouseUp(int /*x*/, int /*y*/, int /*button*/) {}
    virtual void OnResize(int /*width*/, int /*height*/) {}
    virtual void OnQuit() {}
    virtual void OnExpose();
    virtual void OnUserEvent(void* /*data1*/, void* /*data2*/) {}

    // Starts the event thread and waits (at most 5 s) for its window. False after a message box
    // naming what failed.
    bool Open();
    // Asks the event thread to end (quit flag and an SDL quit event); waits for it at most
    // waitMs. True when it has ended.
    bool Close(uint32_t waitMs = 200);

    // The X window the window manager frames (0 without one, as with SDL's dummy driver).
    unsigned long NativeWindow() const { return xWindow_.load(); }
    bool HasSurface() const { return surfaceReady_.load(); }
    // Window opacity 0..255 (nothing without an X window).
    void SetAlpha(int alpha);
    // Centres the window on the screen and keeps it above the others.
    void CentreOnTop();
    void BringToFront();

protected:
    // Runs on the event thread: draws the picture opaque (the start-up picture).
    void DrawOpaque(void* surface);
    void Flip();
    void* Surface() const { return surface_; }
    // Pushes a user event with code and data to the event thread; false when it was not queued.
    static bool PushUserEvent(int code, void* data1, void* data2);
    // Event-thread hook for the program's own user events (code beyond the cross-fade's).
    virtual void OnOwnEvent(int /*code*/, void* /*data1*/, void* /*data2*/) {}

    int width_ = 400;
    int height_ = 374;
    int bpp_ = 24;
    uint32_t flags_ = 0;
    bool embedded_ = false;
    std::atomic<uint32_t> quit_{0};

private:
    struct ThreadState;
    void EventLoop(const std::shared_ptr<ThreadState>& state);

    void* surface_ = nullptr;  // SDL_Surface of the window, event thread only
    std::atomic<bool> surfaceReady_{false};
    std::atomic<unsigned long> xWindow_{0};
    std::shared_ptr<ThreadState> thread_;
    XWindowControl x_;  // our own X connection for opacity and placement
};

class Csplash : public CImageBox {
public:
    Csplash();
    ~Csplash() override;

    void OnMouseDown(int x, int y, int button) override;
    void OnQuit() override;
    void OnUserEvent(void* data1, void* data2) override;

    // Hands the start-up picture (PNG bytes) to the event thread, which draws it.
    bool ShowStartPicture(std::string bytes);
    // Loads the picture file on the event thread and cross-fades to it.
    bool CrossFadeTo(const std::string& path);

    std::atomic<bool> closing{false};
    std::atomic<bool> pictureShown{false};
    std::atomic<bool> broughtToFront{false};

protected:
    void OnOwnEvent(int code, void* data1, void* data2) override;

private:
    void* startPicture_ = nullptr;  // SDL_Surface, event thread only
};

// Shows the splash (nothing in user-interface mode 3, when SDL has nowhere to draw, or when the
// program has no splash picture).
void StartSplash();
// Stops the timer, ends the event thread and deletes the splash; nothing when there is none.
void DestroySplash();
// Cross-fades to a picture file (the downloaded "splash.jpg").
void ShowSplashPicture(const std::string& path);
// The link a click on a downloaded picture opens (the news feed's splash link).
void SetSplashLink(const std::string& link);

// The splash while it exists (null otherwise), and the ticks its timer has counted.
Csplash* CurrentSplash();
int SplashTicks();
// One step of the 2000 ms splash timer (the timer procedure calls it).
void SplashTimerStep();

}  // namespace ui
