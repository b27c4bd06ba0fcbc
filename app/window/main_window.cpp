// Qt drives the window object; every way into our code from Qt passes one handler boundary.
#include "app/window/main_window.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <thread>

#include "app/platform/clock.h"
#include "app/platform/quit_signals.h"
#include "app/program.h"
#include "app/window/desktop_bus.h"
#include "app/window_geometry.h"
#include "common/run_error.h"
#include "common/stop_request.h"

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define VESK_HAVE_XCB 1
#endif

namespace app {

namespace {

using namespace window_geometry;

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, int top) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(kButtonLeft, top, kButtonWidth, kButtonHeight);
    // Enter and Escape do nothing: neither button is the default or the cancel button.
    button->setDefault(false);
    button->setAutoDefault(false);
    return button;
}

#ifdef VESK_HAVE_XCB
// On X11 another client may destroy our window outright (XDestroyWindow); Qt then sends no
// close event and would play on with no window. The server still reports DestroyNotify.
class DestroyedWindowFilter final : public QAbstractNativeEventFilter {
public:
    explicit DestroyedWindowFilter(MainWindow& window) : window_(window) {}

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        // The top bit marks an event sent by another client rather than by the server.
        constexpr std::uint8_t kSentByClient = 0x80;
        if ((event->response_type & ~kSentByClient) != XCB_DESTROY_NOTIFY) return false;
        const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
        if (!window_.testAttribute(Qt::WA_WState_Created) ||
            destroyed->window != static_cast<xcb_window_t>(window_.winId()))
            return false;
        window_.windowDestroyed();
        return false;
    }

private:
    MainWindow& window_;
};
#endif

}  // namespace

MainWindow::MainWindow(fm::PortIo& port, playback::Clock& clock, WindowHooks hooks, QWidget* parent)
    : QWidget(parent),
      ending_(quietEnding(std::move(hooks))),
      vesk_(*this, port, clock, *this),
      progress_([this] {
          if (bus_) bus_->update();
      }) {
    setWindowTitle(QStringLiteral("B"));
    // The installed icon itself (data/icons), built in as a resource.
    setWindowIcon(QIcon(QStringLiteral(":/icons/vesk-32.png")));
    setFixedSize(kClientWidth, kClientHeight);

    play_on_ = makeButton(this, "PlayOn", "Start", kPlayOnTop);
    exit_me_ = makeButton(this, "ExitMe", "Sluta", kExitMeTop);
    setTabOrder(play_on_, exit_me_);
    play_on_->setFocus();
    vesk_.setStepObserver(&progress_);

    connect(play_on_, &QPushButton::clicked, this, [this] {
        guarded([this] {
            if (!ending_.failing()) vesk_.PlayOn_Click();
        });
    });
    connect(exit_me_, &QPushButton::clicked, this, [this] {
        guarded([this] {
            if (!ending_.failing()) vesk_.ExitMe_Click();
        });
    });

    // While the window idles, only Qt's loop runs; the self-pipe wakes it for a quit signal.
    if (const int fd = quitSignalFd(); fd >= 0) {
        quit_notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(quit_notifier_, &QSocketNotifier::activated, this,
                [this] { onQuitSignalReadable(); });
    }
#ifdef VESK_HAVE_XCB
    destroy_filter_ = std::make_unique<DestroyedWindowFilter>(*this);
    QCoreApplication::instance()->installNativeEventFilter(destroy_filter_.get());
#endif
}

MainWindow::~MainWindow() {
    if (destroy_filter_ && QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(destroy_filter_.get());
}

void MainWindow::load() {
    guarded([this] { vesk_.Form_Load(); });
    bus_ = DesktopBus::open(*this, *play_on_, *exit_me_, progress_);
}

WindowHooks MainWindow::quietEnding(WindowHooks hooks) {
    // Once the program ends, a quit signal has nothing left to stop.
    hooks.end_program = [this, end_program = std::move(hooks.end_program)](int status) {
        if (quit_notifier_ != nullptr) quit_notifier_->setEnabled(false);
        end_program(status);
    };
    return hooks;
}

void MainWindow::end(int status) { ending_.end(status); }

void MainWindow::showWindow() {
    // No events are handled here: start-up runs on to its end before the first click.
    show();
    play_on_->setFocus();
}

void MainWindow::unloadWindow() {
    // The process ends right after this, so taking the window off the screen and the bus is
    // all there is. On X not after a quit signal: the display may be the reason it came (a
    // frozen server, whose reply hide() would wait for), and the window goes with the
    // connection anyway.
    if (common::stopRequested() == 0 || QGuiApplication::platformName() != QLatin1String("xcb"))
        hide();
    if (bus_) bus_->leave();
}

void MainWindow::endProgram() { end(exitStatus()); }

void MainWindow::processEvents(double max_block_s) {
    actOnQuitSignal();
    // Rounded down: the pump may wake early, never late.
    const auto block_ms = static_cast<int>(std::floor(max_block_s * 1000.0));
    if (block_ms <= 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        // Under the timer's millisecond: a timer would return at once and the wait's last
        // fraction of a millisecond would spin, so the rest is slept.
        if (max_block_s > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(max_block_s));
    } else {
        // Handles what is pending; with nothing pending, sleeps until an event arrives. The
        // deadline's own timer event is one, so the wait never outlasts it.
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        deadline.start(block_ms);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    actOnQuitSignal();
}

void MainWindow::actOnQuitSignal() {
    Shell::actOnQuitSignal([this] {
        // With a fault being reported the chip is left as it is, like every fatal end.
        if (ending_.failing()) end(exitStatus());
        vesk_.ExitMe_Click();
    });
}

void MainWindow::onQuitSignalReadable() {
    // Drain first, then look: a signal that comes after the drain writes the pipe again, so
    // the notifier cannot go quiet on it, nor fire forever on a stale byte.
    drainQuitSignalFd();
    guarded([this] { actOnQuitSignal(); });
}

void MainWindow::windowDestroyed() {
    if (ending_.failing()) return;  // the fault's message is up; its end comes next
    guarded([this] {
        if (vesk_.playing()) vesk_.ExitMe_Click();
        end(0);
    });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (ending_.failing()) {
        event->ignore();  // the fault's message is up; its end comes next
        return;
    }
    guarded([this] {
        // A voice keyed on would sound on after the program: stop as "Sluta" does.
        if (vesk_.playing()) vesk_.ExitMe_Click();
        end(0);
    });
    event->accept();
}

}  // namespace app
