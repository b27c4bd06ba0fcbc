// The native Windows window: two buttons around the window object, the event pump and the ways
// out. The Win32 API alone, so the program needs no toolkit beside it.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <functional>
#include <string>

#include "app/playback_progress.h"
#include "app/shell.h"
#include "app/vesk.h"
#include "app/window_ending.h"
#include "fm/port_io.h"
#include "playback/timed_wait.h"

namespace app {

// The client area and the buttons, in pixels at a screen's resolution.
struct WindowLayout {
    SIZE client;
    RECT play_on;  // left, top, right, bottom within the client area
    RECT exit_me;

    static WindowLayout at(int dpi);
};

class Win32Window final : public Shell, public playback::EventPump {
public:
    // Button identifiers: neither is IDOK or IDCANCEL, which Enter and Escape stand for.
    static constexpr int kPlayOnId = 101;
    static constexpr int kExitMeId = 102;

    // Makes the window, hidden, laid out for the screen's resolution.
    Win32Window(fm::PortIo& port, playback::Clock& clock, WindowHooks hooks);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    // Runs Form_Load: the window shows itself, then start-up writes to the chip.
    void load();
    // Handles messages until the program ends.
    [[noreturn]] void run();

    HWND handle() const { return window_; }

    // Shell
    void showWindow() override;
    void unloadWindow() override;
    [[noreturn]] void endProgram() override;

    // EventPump: handles every pending message, then blocks until the next message, a quit
    // signal or max_block_s (negative: no limit).
    void processEvents(double max_block_s) override;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT handleMessage(UINT message, WPARAM wparam, LPARAM lparam);
    bool movedFocus(const MSG& message);
    void onClose();
    template <typename Handler>
    void guarded(Handler handler) {
        ending_.guarded(handler);
    }
    [[noreturn]] void end(int status) { ending_.end(status); }
    void actOnQuitSignal();
    void connectTaskbar();
    void showProgress();

    WindowEnding ending_;
    Vesk vesk_;
    PlaybackProgress progress_;
    // The taskbar button's progress bar, from Windows 7 on; null until the button exists, and
    // where there is none.
    ITaskbarList3* taskbar_ = nullptr;
    UINT taskbar_created_ = 0;  // the message Explorer sends once the button is there
    bool com_started_ = false;
    HWND window_ = nullptr;
    HWND play_on_ = nullptr;
    HWND exit_me_ = nullptr;
    HWND last_focus_ = nullptr;  // the button to give focus back to when the window is active
};

}  // namespace app
