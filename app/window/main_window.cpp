// Qt drives the window object; every way into our code from Qt passes one handler boundary.
#include "app/window/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <exception>
#include <numbers>

#include "app/program.h"
#include "app/platform/quit_signals.h"
#include "app/platform/clock.h"
#include "app/window/window_front_end.h"
#include "common/run_error.h"

namespace app {

namespace {

// The client area and the buttons, in pixels at 96 dots per inch.
constexpr int kClientWidth = 312;
constexpr int kClientHeight = 213;
constexpr int kButtonLeft = 48;
constexpr int kPlayOnTop = 64;
constexpr int kExitMeTop = 120;
constexpr int kButtonWidth = 89;
constexpr int kButtonHeight = 33;

constexpr int kIconSize = 32;

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption, int top) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(kButtonLeft, top, kButtonWidth, kButtonHeight);
    // Enter and Escape do nothing: neither button is the default or the cancel button.
    button->setDefault(false);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

MainWindow::MainWindow(fm::PortIo& port, playback::Clock& clock, WindowHooks hooks, QWidget* parent)
    : QWidget(parent),
      hooks_(std::move(hooks)),
      vesk_(*this, port, clock, *this) {
    setWindowTitle(QStringLiteral("B"));
    setWindowIcon(QIcon(QPixmap::fromImage(iconImage())));
    setFixedSize(kClientWidth, kClientHeight);

    play_on_ = makeButton(this, "PlayOn", "Start", kPlayOnTop);
    exit_me_ = makeButton(this, "ExitMe", "Sluta", kExitMeTop);
    setTabOrder(play_on_, exit_me_);
    play_on_->setFocus();

    connect(play_on_, &QPushButton::clicked, this, [this] {
        guarded([this] {
            if (!failing_) vesk_.PlayOn_Click();
        });
    });
    connect(exit_me_, &QPushButton::clicked, this, [this] {
        guarded([this] {
            if (!failing_) vesk_.ExitMe_Click();
        });
    });

    // While the window idles, only Qt's loop runs; the self-pipe wakes it for a quit signal.
    if (const int fd = quitSignalFd(); fd >= 0) {
        quit_notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(quit_notifier_, &QSocketNotifier::activated, this,
                [this] { onQuitSignalReadable(); });
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::load() {
    guarded([this] { vesk_.Form_Load(); });
}

template <typename Handler>
void MainWindow::guarded(Handler handler) {
    // A run-time error never crosses a Qt frame: it is reported here and the program ends.
    try {
        handler();
    } catch (const std::exception& e) {
        fail(e.what());
    } catch (...) {
        fail("unknown fault");
    }
}

void MainWindow::fail(const std::string& fault) {
    failing_ = true;
    if (hooks_.report_fatal) hooks_.report_fatal(fault);
    end(1);
}

void MainWindow::end(int status) {
    if (quit_notifier_ != nullptr) quit_notifier_->setEnabled(false);
    hooks_.end_program(status);
    std::abort();  // unreachable: ending the program never returns
}

void MainWindow::showWindow() {
    // No events are handled here: start-up runs on to its end before the first click.
    show();
    play_on_->setFocus();
}

void MainWindow::unloadWindow() {
    // The process ends right after this, so taking the window off the screen is all there is.
    hide();
}

void MainWindow::endProgram() { end(exit_status_); }

void MainWindow::processEvents(double max_block_s) {
    actOnQuitSignal();
    // Rounded down: the pump may wake early, never late.
    const auto block_ms = static_cast<int>(std::floor(max_block_s * 1000.0));
    if (block_ms <= 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
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
    const int signal_number = pendingQuitSignal();
    if (signal_number == 0) return;
    clearQuitSignal();
    // With a fault being reported the chip is left as it is, like every fatal end.
    if (failing_) end(128 + signal_number);
    exit_status_ = 128 + signal_number;
    vesk_.ExitMe_Click();
}

void MainWindow::onQuitSignalReadable() {
    // Drain first, then look: a signal that comes after the drain writes the pipe again, so
    // the notifier cannot go quiet on it, nor fire forever on a stale byte.
    drainQuitSignalFd();
    guarded([this] { actOnQuitSignal(); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (failing_) {
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

QImage MainWindow::iconImage() {
    // The 16 colours of a VGA palette; black is the transparent key, dark grey draws outlines.
    enum class Colour {
        kClear,
        kMaroon,
        kGreen,
        kOlive,
        kNavy,
        kPurple,
        kTeal,
        kSilver,
        kGrey,
        kRed,
        kLime,
        kYellow,
        kBlue,
        kFuchsia,
        kAqua,
        kWhite
    };
    QImage image(kIconSize, kIconSize, QImage::Format_Indexed8);
    image.setColorTable({qRgba(0, 0, 0, 0), qRgb(128, 0, 0), qRgb(0, 128, 0), qRgb(128, 128, 0),
                         qRgb(0, 0, 128), qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
                         qRgb(128, 128, 128), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(255, 255, 0),
                         qRgb(0, 0, 255), qRgb(255, 0, 255), qRgb(0, 255, 255),
                         qRgb(255, 255, 255)});
    image.fill(static_cast<uint>(Colour::kClear));
    auto plot = [&image](int x, int y, Colour colour) {
        if (x >= 0 && x < kIconSize && y >= 0 && y < kIconSize)
            image.setPixel(x, y, static_cast<uint>(colour));
    };

    // The magnet: a box on the left, rows 12 to 19.
    for (int x = 2; x <= 8; ++x)
        for (int y = 12; y <= 19; ++y)
            plot(x, y, x == 2 || x == 8 || y == 12 || y == 19 ? Colour::kGrey : Colour::kSilver);
    // The cone widens from the magnet (half-height 4) to its rim (half-height 11).
    for (int x = 9; x <= 15; ++x) {
        const int half = 4 + (x - 9) * 7 / 6;
        for (int y = 16 - half; y < 16 + half; ++y) {
            const bool edge = y == 16 - half || y == 15 + half || x == 15;
            plot(x, y, edge ? Colour::kGrey : Colour::kBlue);
        }
    }
    // The wave: a sine whose pitch rises as it travels, two pixels thick.
    int last_y = 16;
    for (int x = 18; x <= 30; ++x) {
        const double t = (x - 18) / 12.0;
        const double phase = 2.0 * std::numbers::pi * (1.2 * t + 0.8 * t * t);
        const int y = 16 - static_cast<int>(std::lround(7.0 * std::sin(phase)));
        for (int yy = std::min(last_y, y); yy <= std::max(last_y, y); ++yy) {
            plot(x, yy, Colour::kRed);
            plot(x, yy + 1, Colour::kRed);
        }
        last_y = y;
    }
    return image;
}

void runWindow(Program& program, int& argc, char** argv) {
    QApplication application(argc, argv);
    RealClock clock;
    WindowHooks hooks;
    hooks.end_program = [&program](int status) { program.exit(status); };
    hooks.report_fatal = [&program](const std::string& fault) {
        printError("run-time error: " + fault);
        QMessageBox::critical(
            nullptr, QStringLiteral("vesk"),
            QStringLiteral("Run-time error: %1").arg(QString::fromStdString(fault)));
        program.exit(1);
    };
    MainWindow window(program.port(), clock, std::move(hooks));
    window.load();
    QApplication::exec();
    program.exit(0);
}

}  // namespace app

extern "C" void vesk_window_run(app::Program* program, int* argc, char** argv) {
    app::runWindow(*program, *argc, argv);
}
