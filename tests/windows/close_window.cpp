// Closes a top-level window the way its frame's close box does: WM_SYSCOMMAND SC_CLOSE, which
// Windows turns into WM_CLOSE. With no window manager there is no frame to click, and X cannot
// send a Windows program that message.
// Usage: close_window.exe TITLE   (exit status 1 if no such window)
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: close_window.exe TITLE\n", stderr);
        return 2;
    }
    const HWND window = FindWindowW(nullptr, argv[1]);
    if (window == nullptr) return 1;
    return PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
}
