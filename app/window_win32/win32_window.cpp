// The Win32 API drives the window object; every way into our code from Windows passes one
// handler boundary, since an exception must never cross a Windows frame.
#include "app/window_win32/win32_window.h"

#include <cmath>
#include <cstdlib>
#include <exception>

#include "app/platform/quit_signals.h"
#include "app/window_geometry.h"
#include "app/window_win32/resource.h"

namespace app {

namespace {

using namespace window_geometry;

constexpr wchar_t kClassName[] = L"VeskWindow";
// A fixed frame with a title, a system menu and a minimise box, as the Qt window's fixed size.
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Explorer runs unelevated; a program run as administrator (as the port driver may need) lets
// its message through. Looked up at run time: the call is new in Windows 7.
void acceptFromExplorer(HWND window, UINT message) {
    using Filter = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto filter = user32 != nullptr
                            ? reinterpret_cast<Filter>(reinterpret_cast<void*>(
                                  GetProcAddress(user32, "ChangeWindowMessageFilterEx")))
                            : nullptr;
    if (filter != nullptr) filter(window, message, MSGFLT_ALLOW, nullptr);
}

int screenDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

void registerClass(HINSTANCE instance, WNDPROC procedure) {
    static const bool registered = [&] {
        WNDCLASSEXW window_class{};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = procedure;
        window_class.hInstance = instance;
        // The program's icon, from the executable's resources: large for Alt-Tab, small for
        // the title bar.
        window_class.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(VESK_ICON),
                                                           IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                           GetSystemMetrics(SM_CYICON), 0));
        window_class.hIconSm = static_cast<HICON>(
            LoadImageW(instance, MAKEINTRESOURCEW(VESK_ICON), IMAGE_ICON,
                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
        window_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
        window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        window_class.lpszClassName = kClassName;
        return RegisterClassExW(&window_class) != 0;
    }();
    (void)registered;
}

HWND makeButton(HWND parent, HINSTANCE instance, int id, const wchar_t* caption,
                const RECT& place) {
    // BS_PUSHBUTTON, not BS_DEFPUSHBUTTON: neither button is the default one.
    const HWND button = CreateWindowExW(
        0, L"BUTTON", caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, place.left,
        place.top, place.right - place.left, place.bottom - place.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 FALSE);
    return button;
}

}  // namespace

WindowLayout WindowLayout::at(int dpi) {
    auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, kBaseDpi); };
    auto button = [&](int top) {
        return RECT{scaled(kButtonLeft), scaled(top), scaled(kButtonLeft + kButtonWidth),
                    scaled(top + kButtonHeight)};
    };
    return {SIZE{scaled(kClientWidth), scaled(kClientHeight)}, button(kPlayOnTop),
            button(kExitMeTop)};
}

Win32Window::Win32Window(fm::PortIo& port, playback::Clock& clock, WindowHooks hooks)
    : ending_(std::move(hooks)),
      vesk_(*this, port, clock, *this),
      progress_([this] { showProgress(); }) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    registerClass(instance, &Win32Window::windowProc);
    const WindowLayout layout = WindowLayout::at(screenDpi());
    RECT frame{0, 0, layout.client.cx, layout.client.cy};
    AdjustWindowRectEx(&frame, kFrameStyle, FALSE, 0);
    window_ = CreateWindowExW(0, kClassName, L"B", kFrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                              instance, this);
    // Created in tab order: "Start", then "Sluta".
    play_on_ = makeButton(window_, instance, kPlayOnId, L"Start", layout.play_on);
    exit_me_ = makeButton(window_, instance, kExitMeId, L"Sluta", layout.exit_me);
    last_focus_ = play_on_;
    vesk_.setStepObserver(&progress_);
    taskbar_created_ = RegisterWindowMessageW(L"TaskbarButtonCreated");
    if (taskbar_created_ != 0) acceptFromExplorer(window_, taskbar_created_);
}

Win32Window::~Win32Window() {
    if (taskbar_ != nullptr) taskbar_->Release();
    if (com_started_) CoUninitialize();
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void Win32Window::load() {
    guarded([this] { vesk_.Form_Load(); });
}

void Win32Window::run() {
    for (;;) processEvents(-1);
}

void Win32Window::showWindow() {
    // No messages are handled here beyond the first paint: start-up runs on to its end before
    // the first click.
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    last_focus_ = play_on_;
    SetFocus(play_on_);
}

void Win32Window::unloadWindow() {
    // The process ends right after this, so taking the window off the screen is all there is.
    ShowWindow(window_, SW_HIDE);
}

void Win32Window::endProgram() { end(exitStatus()); }

void Win32Window::processEvents(double max_block_s) {
    actOnQuitSignal();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;  // the program ends through end(), not here
        if (movedFocus(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // Rounded up: a block shorter than the timer's millisecond would return at once and spin.
    const DWORD block_ms =
        max_block_s < 0 ? INFINITE : static_cast<DWORD>(std::ceil(max_block_s * 1000.0));
    if (block_ms > 0) {
        const auto quit = static_cast<HANDLE>(quitSignalEvent());
        MsgWaitForMultipleObjectsEx(1, &quit, block_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    actOnQuitSignal();
}

bool Win32Window::movedFocus(const MSG& message) {
    // Tab and Shift-Tab go from button to button, as in a dialog. Nothing else is taken from
    // the dialog manager: Enter and Escape must press no button.
    if (message.message != WM_KEYDOWN || message.wParam != VK_TAB) return false;
    if (message.hwnd != window_ && !IsChild(window_, message.hwnd)) return false;
    const bool backwards = GetKeyState(VK_SHIFT) < 0;
    if (const HWND next = GetNextDlgTabItem(window_, GetFocus(), backwards ? TRUE : FALSE))
        SetFocus(next);
    return true;
}

void Win32Window::actOnQuitSignal() {
    Shell::actOnQuitSignal([this] {
        // With a fault being reported the chip is left as it is, like every fatal end.
        if (ending_.failing()) end(exitStatus());
        guarded([this] { vesk_.ExitMe_Click(); });
    });
}

void Win32Window::connectTaskbar() {
    // Sent again when Explorer restarts: the same object serves the new button.
    if (taskbar_ == nullptr) {
        // Already started on this thread in another mode, COM serves all the same.
        if (!com_started_)
            com_started_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        void* taskbar = nullptr;
        if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_ITaskbarList3, &taskbar)))
            return;  // no taskbar of that kind: the window plays on without it
        taskbar_ = static_cast<ITaskbarList3*>(taskbar);
        if (FAILED(taskbar_->HrInit())) {
            taskbar_->Release();
            taskbar_ = nullptr;
            return;
        }
    }
    showProgress();
}

void Win32Window::showProgress() {
    // Step N of 74 of the innermost playback. A failed call changes nothing the user needs.
    if (taskbar_ == nullptr) return;
    if (progress_.playing()) {
        taskbar_->SetProgressState(window_, TBPF_NORMAL);
        taskbar_->SetProgressValue(window_, static_cast<ULONGLONG>(progress_.step()), song::kSteps);
    } else {
        taskbar_->SetProgressState(window_, TBPF_NOPROGRESS);
    }
}

void Win32Window::onClose() {
    if (ending_.failing()) return;  // the fault's message is up; its end comes next
    guarded([this] {
        // A voice keyed on would sound on after the program: stop as "Sluta" does.
        if (vesk_.playing()) vesk_.ExitMe_Click();
        end(0);
    });
}

LRESULT CALLBACK Win32Window::windowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr || self->window_ != window)
        return DefWindowProcW(window, message, wparam, lparam);
    return self->handleMessage(message, wparam, lparam);
}

LRESULT Win32Window::handleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    if (taskbar_created_ != 0 && message == taskbar_created_) {
        connectTaskbar();
        return 0;
    }
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wparam) != BN_CLICKED) break;
            if (LOWORD(wparam) == kPlayOnId) {
                guarded([this] {
                    if (!ending_.failing()) vesk_.PlayOn_Click();
                });
                return 0;
            }
            if (LOWORD(wparam) == kExitMeId) {
                guarded([this] {
                    if (!ending_.failing()) vesk_.ExitMe_Click();
                });
                return 0;
            }
            break;
        case WM_CLOSE:  // the frame's close box, Alt-F4, the taskbar's Close
            onClose();
            return 0;
        case WM_ACTIVATE:
            // Focus goes back to the button that had it when the window was left.
            if (LOWORD(wparam) == WA_INACTIVE) {
                const HWND focus = GetFocus();
                if (focus == play_on_ || focus == exit_me_) last_focus_ = focus;
            } else {
                SetFocus(last_focus_);
            }
            return 0;
        case WM_SETFOCUS:
            SetFocus(last_focus_);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wparam, lparam);
}

}  // namespace app
