// The Qt window: two buttons around the window object, the event pump and the ways out.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/playback_progress.h"
#include "app/shell.h"
#include "app/vesk.h"
#include "app/window_ending.h"
#include "fm/port_io.h"
#include "playback/timed_wait.h"

class QAbstractNativeEventFilter;
class QPushButton;
class QSocketNotifier;

namespace app {

class DesktopBus;

class MainWindow final : public QWidget, public Shell, public playback::EventPump {
    Q_OBJECT

public:
    MainWindow(fm::PortIo& port, playback::Clock& clock, WindowHooks hooks,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // Runs Form_Load: the window shows itself, then start-up writes to the chip. Then the
    // window goes on the session bus, if there is one, as a media player.
    void load();

    // Shell
    void showWindow() override;
    void unloadWindow() override;
    [[noreturn]] void endProgram() override;

    // EventPump: handles what is pending, then blocks until the next event or max_block_s.
    void processEvents(double max_block_s) override;

    // The native window was destroyed from outside, with no close event: ends as closing does.
    void windowDestroyed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    template <typename Handler>
    void guarded(Handler handler) {
        ending_.guarded(handler);
    }
    [[noreturn]] void end(int status);
    WindowHooks quietEnding(WindowHooks hooks);
    void actOnQuitSignal();
    void onQuitSignalReadable();

    WindowEnding ending_;
    Vesk vesk_;
    PlaybackProgress progress_;
    std::unique_ptr<DesktopBus> bus_;  // null without a session bus
    QPushButton* play_on_ = nullptr;
    QPushButton* exit_me_ = nullptr;
    QSocketNotifier* quit_notifier_ = nullptr;
    std::unique_ptr<QAbstractNativeEventFilter> destroy_filter_;
};

}  // namespace app
