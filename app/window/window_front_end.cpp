// The window shell's way in: a Qt application around the window object, started by the loader.
#include "app/window/window_front_end.h"

#include <dlfcn.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/platform/clock.h"
#include "app/window/main_window.h"
#include "common/stop_request.h"

namespace app {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The non-empty items of a list such as "wayland;xcb" or a search path.
std::vector<std::string> items(const std::string& list, char separator) {
    std::vector<std::string> found;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t end = std::min(list.find(separator, at), list.size());
        if (end > at) found.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return found;
}

// Whether Qt has a platform plugin of this name ("xcb", "wayland-egl"), where it looks for one.
bool havePlatformPlugin(const std::string& name) {
    std::vector<std::filesystem::path> folders;
    if (const std::string path = environment("QT_QPA_PLATFORM_PLUGIN_PATH"); !path.empty())
        folders.emplace_back(path);
    for (const std::string& folder : items(environment("QT_PLUGIN_PATH"), ':'))
        folders.push_back(std::filesystem::path(folder) / "platforms");
    folders.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms");
    // Qt's "wayland" is the plugin file qwayland-generic.
    const std::string file = "libq" + (name == "wayland" ? "wayland-generic" : name) + ".so";
    std::error_code error;
    for (const auto& folder : folders)
        if (std::filesystem::exists(folder / file, error)) return true;
    return false;
}

// A connection to the display, opened through the client library Qt's plugin itself uses (loaded
// here, not linked: that plugin is loaded only once the probe has passed), and held until Qt has
// its own: an X server that has no other client resets when the last one leaves, and Qt's
// connection would meet the reset.
class DisplayProbe {
public:
    DisplayProbe() = default;
    ~DisplayProbe() { close(); }
    DisplayProbe(const DisplayProbe&) = delete;
    DisplayProbe& operator=(const DisplayProbe&) = delete;

    // xcb: a connection object always comes back, carrying any failure (error_name tells).
    // Wayland (error_name null): null where the compositor cannot be reached.
    bool connect(const char* library, const char* connect_name, const char* error_name,
                 const char* disconnect_name) {
        close();
        library_ = dlopen(library, RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr) return false;
        disconnect_ = reinterpret_cast<Disconnect*>(dlsym(library_, disconnect_name));
        void* connect = dlsym(library_, connect_name);
        if (disconnect_ == nullptr || connect == nullptr) return false;
        if (error_name != nullptr) {
            using HasError = int(void*);
            auto* has_error = reinterpret_cast<HasError*>(dlsym(library_, error_name));
            if (has_error == nullptr) return false;
            connection_ = reinterpret_cast<void* (*)(const char*, int*)>(connect)(nullptr, nullptr);
            return connection_ != nullptr && has_error(connection_) == 0;
        }
        connection_ = reinterpret_cast<void* (*)(const char*)>(connect)(nullptr);
        return connection_ != nullptr;
    }

    void close() {
        if (connection_ != nullptr && disconnect_ != nullptr) disconnect_(connection_);
        connection_ = nullptr;
        if (library_ != nullptr) dlclose(library_);
        library_ = nullptr;
    }

private:
    using Disconnect = void(void*);
    void* library_ = nullptr;
    void* connection_ = nullptr;
    Disconnect* disconnect_ = nullptr;
};

// An X server resets for a moment when its last client leaves (a window closed just before, on
// a server of its own), and turns connections away meanwhile: a few tries, a tenth of a second
// apart, before the display counts as out of reach.
bool reachX(DisplayProbe& probe) {
    constexpr int kTries = 4;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (probe.connect("libxcb.so.1", "xcb_connect", "xcb_connection_has_error",
                          "xcb_disconnect"))
            return true;
    }
    return false;
}

// Picks the Qt platform to open the window on, checking first that its display answers: Qt
// aborts the process when it cannot open one. Wayland comes first where both are set and this
// Qt has a Wayland platform. Returns the platform, or "" with `why` naming what failed.
std::string reachablePlatform(DisplayProbe& probe, std::string& why) {
    std::vector<std::string> candidates;
    if (const std::string asked = environment("QT_QPA_PLATFORM"); !asked.empty()) {
        candidates = items(asked, ';');
    } else {
        if (!environment("WAYLAND_DISPLAY").empty()) candidates.emplace_back("wayland");
        if (!environment("DISPLAY").empty()) candidates.emplace_back("xcb");
    }
    auto note = [&why](const std::string& reason) { why += (why.empty() ? "" : "; ") + reason; };
    for (const std::string& platform : candidates) {
        // "xcb:option=value": the plugin's name comes before the colon.
        const std::string plugin = platform.substr(0, platform.find(':'));
        const bool wayland = plugin.rfind("wayland", 0) == 0;
        if (!havePlatformPlugin(plugin)) {
            note(wayland ? "cannot open the Wayland display \"" + environment("WAYLAND_DISPLAY") +
                               "\" (WAYLAND_DISPLAY): Qt has no Wayland platform plugin"
                         : "Qt has no platform plugin \"" + plugin + "\" (QT_QPA_PLATFORM)");
            continue;
        }
        if (plugin == "xcb" && !reachX(probe)) {
            note("cannot open the X display \"" + environment("DISPLAY") + "\" (DISPLAY)");
            continue;
        }
        if (wayland && !probe.connect("libwayland-client.so.0", "wl_display_connect", nullptr,
                                      "wl_display_disconnect")) {
            note("cannot open the Wayland display \"" + environment("WAYLAND_DISPLAY") +
                 "\" (WAYLAND_DISPLAY)");
            continue;
        }
        return platform;
    }
    if (why.empty()) note("no display is set");
    return {};
}

}  // namespace

std::string runWindow(Program& program, int& argc, char** argv) {
    std::string why;
    DisplayProbe probe;
    const std::string platform = reachablePlatform(probe, why);
    if (platform.empty()) return why;
    // Exactly the one that answered: Qt's own fallback would abort on the next.
    setenv("QT_QPA_PLATFORM", platform.c_str(), 1);

    QApplication application(argc, argv);
    probe.close();
    // Names the menu entry, so a Wayland shell shows its icon for this window.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.vesk"));
    RealClock clock;
    WindowHooks hooks;
    hooks.end_program = [&program](int status) { program.exit(status); };
    hooks.report_fatal = [&program](const std::string& fault) {
        printError("run-time error: " + fault);
        // A fault that a quit signal brought about is not held up by a box to click away.
        if (common::stopRequested() == 0)
            QMessageBox::critical(
                nullptr, QStringLiteral("vesk"),
                QStringLiteral("Run-time error: %1").arg(QString::fromStdString(fault)));
        program.exit(failureStatus());
    };
    MainWindow window(program.port(), clock, std::move(hooks));
    window.load();
    // Warnings the window shows once it is up, each in a box of its own: not modal, so the
    // window stays usable and the tune can still be tried; nothing is added to the window.
    auto warn = [&window](const QString& title, const std::string& text) {
        auto* box = new QMessageBox(QMessageBox::Warning, title, QString::fromStdString(text),
                                    QMessageBox::Ok, &window);
        box->setWindowModality(Qt::NonModal);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->show();
    };
    program.sayWhatAnswered(
        [&warn](const std::string& line) { warn(QStringLiteral("vesk"), line); });
    // Started from a menu, no one sees the line on stderr.
    if (const std::string message = program.noSoundMessage(); !message.empty())
        warn(QStringLiteral("vesk: no sound"), message);
    QApplication::exec();
    program.exit(0);
}

}  // namespace app

extern "C" const char* vesk_window_run(app::Program* program, int* argc, char** argv) {
    static std::string reason;
    reason = app::runWindow(*program, *argc, argv);
    return reason.c_str();
}
