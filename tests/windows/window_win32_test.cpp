// The native window under Wine on an X display: its layout, focus and keys, its icon, and the
// quit signal. Clicks and the frame's close are tested end to end (vesk_window.sh); the ending
// here runs in a child process (a death test), where the program's end prints what the chip got
// and ends the process.
#include <windows.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/platform/process_win32.h"
#include "app/platform/quit_signals.h"
#include "app/window_win32/resource.h"
#include "app/window_win32/win32_window.h"
#include "tests/chip_fakes.h"

namespace {

constexpr std::size_t kStartUp = 292;

// The window with a recording chip and a clock that moves a quarter second per read, so a
// 0.908 s step takes a few pump passes.
class Rig {
public:
    Rig() {
        app::clearQuitSignal();
        clock.setAdvancePerRead(0.25);
        app::WindowHooks hooks;
        hooks.end_program = [this](int status) {
            const auto& writes = port.writes();
            std::fprintf(stderr, "ended %d after %zu writes, last %02x<-%02x %02x<-%02x\n", status,
                         writes.size(), writes.end()[-2].reg, writes.end()[-2].value,
                         writes.end()[-1].reg, writes.end()[-1].value);
            std::fflush(stderr);
            std::_Exit(status);
        };
        hooks.report_fatal = [](const std::string& fault) {
            std::fprintf(stderr, "fault: %s\n", fault.c_str());
        };
        window = std::make_unique<app::Win32Window>(port, clock, std::move(hooks));
    }

    // The buttons, found as a user's tools find them: by their control ids.
    HWND playOn() const { return GetDlgItem(window->handle(), app::Win32Window::kPlayOnId); }
    HWND exitMe() const { return GetDlgItem(window->handle(), app::Win32Window::kExitMeId); }

    // As a user's key: posted, then handled by the pump.
    void press(WPARAM key) {
        for (UINT message : {WM_KEYDOWN, WM_CHAR, WM_KEYUP})
            PostMessageW(GetFocus(), message, key, 0);  // Tab, Enter and Escape: same codes
        window->processEvents(0);
    }

    fakes::RecordingPort port;
    fakes::FakeClock clock;
    std::unique_ptr<app::Win32Window> window;
};

RECT clientRectOf(HWND child, HWND parent) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring textOf(HWND window) {
    wchar_t text[64];
    GetWindowTextW(window, text, 64);
    return text;
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(WindowLayout, ScalesWithTheScreensResolution) {
    struct Row {
        int dpi;
        SIZE client;
        RECT play_on, exit_me;
    };
    // At 96 dpi the pixels of the design; at 120, 144 and 192 dpi a quarter, a half and twice
    // as many again, rounded to the nearest pixel.
    const Row rows[] = {
        {96, {312, 213}, {48, 64, 137, 97}, {48, 120, 137, 153}},
        {120, {390, 266}, {60, 80, 171, 121}, {60, 150, 171, 191}},
        {144, {468, 320}, {72, 96, 206, 146}, {72, 180, 206, 230}},
        {192, {624, 426}, {96, 128, 274, 194}, {96, 240, 274, 306}},
    };
    for (const Row& row : rows) {
        const app::WindowLayout layout = app::WindowLayout::at(row.dpi);
        EXPECT_EQ(layout.client.cx, row.client.cx) << row.dpi;
        EXPECT_EQ(layout.client.cy, row.client.cy) << row.dpi;
        EXPECT_TRUE(sameRect(layout.play_on, row.play_on)) << row.dpi;
        EXPECT_TRUE(sameRect(layout.exit_me, row.exit_me)) << row.dpi;
    }
}

TEST(WindowLayout, TitleClientAreaAndButtonsAtTheScreensResolution) {
    Rig rig;
    const HWND window = rig.window->handle();
    EXPECT_EQ(textOf(window), L"B");
    const HDC screen = GetDC(nullptr);
    const app::WindowLayout expected = app::WindowLayout::at(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, expected.client.cx);
    EXPECT_EQ(client.bottom, expected.client.cy);
    EXPECT_TRUE(sameRect(clientRectOf(rig.playOn(), window), expected.play_on));
    EXPECT_TRUE(sameRect(clientRectOf(rig.exitMe(), window), expected.exit_me));
    EXPECT_EQ(textOf(rig.playOn()), L"Start");
    EXPECT_EQ(textOf(rig.exitMe()), L"Sluta");
    // The class carries the program's icon.
    EXPECT_NE(GetClassLongPtrW(window, GCLP_HICON), 0u);
}

TEST(WindowLayout, NeitherButtonIsTheDefault) {
    Rig rig;
    for (HWND button : {rig.playOn(), rig.exitMe()}) {
        EXPECT_EQ(GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
        EXPECT_EQ(SendMessageW(button, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON, 0);
    }
}

TEST(WindowKeys, FocusStartsOnStartAndTabGoesBetweenTheButtons) {
    Rig rig;
    rig.window->load();
    EXPECT_EQ(GetFocus(), rig.playOn());
    rig.press(VK_TAB);
    EXPECT_EQ(GetFocus(), rig.exitMe());
    rig.press(VK_TAB);
    EXPECT_EQ(GetFocus(), rig.playOn());
    EXPECT_EQ(rig.port.writes().size(), kStartUp);
}

TEST(WindowKeys, EnterAndEscapePressNoButton) {
    // A pressed "Sluta" would end this process; a pressed "Start" would play.
    Rig rig;
    rig.window->load();
    for (HWND focus : {rig.playOn(), rig.exitMe()}) {
        SetFocus(focus);
        rig.press(VK_RETURN);
        rig.press(VK_ESCAPE);
    }
    EXPECT_EQ(rig.port.writes().size(), kStartUp);
}

// Plays, and raises SIGINT from another thread once the first step's notes are on, as Ctrl-C's
// handler does.
void quitSignalDuringTheFirstStep() {
    Rig rig;
    rig.window->load();
    bool raised = false;
    rig.port.on_access = [&rig, &raised] {
        if (raised || rig.port.writes().size() != kStartUp + 4) return;
        raised = true;
        std::thread([] { app::raiseQuitSignal(SIGINT); }).join();
    };
    SendMessageW(rig.playOn(), BM_CLICK, 0, 0);
}

TEST(WindowEnding, AQuitSignalDuringAStepActsAsSlutaWithStatus130) {
    EXPECT_EXIT(quitSignalDuringTheFirstStep(), testing::ExitedWithCode(130),
                "ended 130 after 298 writes, last b0<-00 b1<-00");
}

TEST(WindowTaskbar, TheWindowPlaysOnWhateverTheTaskbarAnswers) {
    // Given Explorer's word that the taskbar button is there, twice, as after a restart of
    // Explorer: the window asks for the button's progress bar, which Wine may not have.
    Rig rig;
    rig.window->load();
    const UINT button_created = RegisterWindowMessageW(L"TaskbarButtonCreated");
    ASSERT_NE(button_created, 0u);
    for (int i = 0; i < 2; ++i) SendMessageW(rig.window->handle(), button_created, 0, 0);
    // When "Start" is pressed, then the whole song plays, its progress shown or not.
    SendMessageW(rig.playOn(), BM_CLICK, 0, 0);
    EXPECT_EQ(rig.port.writes().size(), kStartUp + 74 * 6);
}

TEST(WindowIcon, TheProgramCarriesA32By32SixteenColourIcon) {
    // Read from vesk.exe itself, as Explorer reads it.
    const HMODULE exe =
        LoadLibraryExW(app::wideFromUtf8(VESK_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    const HRSRC group = FindResourceW(exe, MAKEINTRESOURCEW(VESK_ICON), MAKEINTRESOURCEW(14));
    ASSERT_NE(group, nullptr);  // RT_GROUP_ICON
    const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(exe, group)));
    // The group header (reserved, type 1, count), then one 14-byte entry per image: width,
    // height, colour count, reserved, planes, bits per pixel, ...
    ASSERT_EQ(bytes[2] | bytes[3] << 8, 1);
    ASSERT_EQ(bytes[4] | bytes[5] << 8, 1);
    EXPECT_EQ(bytes[6], 32);
    EXPECT_EQ(bytes[7], 32);
    EXPECT_EQ(bytes[8], 16);
    EXPECT_EQ(bytes[12] | bytes[13] << 8, 4);
    FreeLibrary(exe);
}

}  // namespace
