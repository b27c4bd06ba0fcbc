// The Qt window: its layout, its start-up writes, playback from the buttons, and every way out.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/platform/clock.h"
#include "app/platform/quit_signals.h"
#include "app/window/main_window.h"
#include "common/run_error.h"
#include "tests/chip_fakes.h"

namespace {

using fakes::Write;

constexpr std::size_t kResetWrites = 245;  // registers 1 to 0xF5
constexpr std::size_t kInitWrites = 47;    // five voices of 8 writes, then 7 level writes
constexpr std::size_t kStartUp = kResetWrites + kInitWrites;
constexpr std::size_t kPerStep = 6;
constexpr std::size_t kSong = 74 * kPerStep;

const std::vector<Write> kKeyOffs = {{0xB0, 0}, {0xB1, 0}};

// How many writes stand in the trace while step `step` holds its notes, in a playback whose
// first step starts after `before` writes.
constexpr std::size_t holding(int step, std::size_t before = kStartUp) {
    return before + static_cast<std::size_t>(step - 1) * kPerStep + 4;
}

// Moves on a quarter second per read, so a 0.908 s step takes two pump passes. Every read
// first gives the test a chance to act at the moment the trace has reached a chosen length.
class SteppingClock final : public playback::Clock {
public:
    float secondsSinceMidnight() override {
        if (on_read) on_read();
        const auto now = static_cast<float>(now_s_);
        now_s_ += 0.25;
        return now;
    }
    std::function<void()> on_read;

private:
    double now_s_ = 3600.0;
};

// " b0<-00 b1<-00": register writes as the ending report prints them.
std::string described(const std::vector<Write>& writes) {
    std::string text;
    char item[16];
    for (const Write& w : writes) {
        std::snprintf(item, sizeof item, " %02x<-%02x", w.reg & 0xFFFF, w.value & 0xFFFF);
        text += item;
    }
    return text;
}

// The window with a recording chip and a clock that moves a quarter second per read. Its
// program really ends: the ending tests run it in a child process (a death test), where the
// end prints the exit status, whether the window is still shown, how many writes the chip got
// and the writes from `report_from` on, then ends the process as the program would.
class Rig {
public:
    Rig() {
        app::clearQuitSignal();
        app::WindowHooks hooks;
        hooks.end_program = [this](int status) {
            std::fprintf(stderr, "ended %d visible=%d total=%zu writes:%s\n", status,
                         window->isVisible() ? 1 : 0, port.writes().size(),
                         described(writesFrom(report_from)).c_str());
            std::fflush(stderr);
            std::_Exit(status);
        };
        hooks.report_fatal = [](const std::string& fault) {
            std::fprintf(stderr, "fault: %s\n", fault.c_str());
        };
        window = std::make_unique<app::MainWindow>(port, clock, std::move(hooks));
        clock.on_read = [this] { fireDue(); };
    }

    QPushButton* button(const char* name) { return window->findChild<QPushButton*>(name); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    // Runs `action` on the clock read at which the trace holds `writes` writes.
    void when(std::size_t writes, std::function<void()> action) {
        due_.push_back({writes, std::move(action)});
    }
    // As a user's click: queued, and handled by the pump during the wait.
    void clickWhen(std::size_t writes, const char* name) {
        when(writes, [this, name] {
            QMetaObject::invokeMethod(
                window.get(), [this, name] { click(name); }, Qt::QueuedConnection);
        });
    }

    std::vector<Write> writesFrom(std::size_t from) const {
        const auto& all = port.writes();
        return {all.begin() + static_cast<std::ptrdiff_t>(from), all.end()};
    }

    fakes::RecordingPort port;
    SteppingClock clock;
    std::size_t report_from = kStartUp;
    std::unique_ptr<app::MainWindow> window;

private:
    struct Due {
        std::size_t writes;
        std::function<void()> action;
    };
    void fireDue() {
        for (auto it = due_.begin(); it != due_.end(); ++it) {
            if (it->writes != port.writes().size()) continue;
            auto action = std::move(it->action);
            due_.erase(it);
            action();  // may add to due_: the loop is left at once
            return;
        }
    }
    std::vector<Due> due_;
};

// What the child prints when it ends with the window unloaded and only the two key-offs
// written after the report mark.
std::string endedAfterKeyOffs(int status) {
    return "ended " + std::to_string(status) + " visible=0 total=[0-9]+ writes: b0<-00 b1<-00\n";
}

// ---- Layout ----

TEST(WindowLayout, ClientAreaIsFixedAt312By213) {
    Rig rig;
    EXPECT_EQ(rig.window->size(), QSize(312, 213));
    EXPECT_EQ(rig.window->minimumSize(), QSize(312, 213));
    EXPECT_EQ(rig.window->maximumSize(), QSize(312, 213));
    EXPECT_EQ(rig.window->windowTitle(), QStringLiteral("B"));
}

TEST(WindowLayout, TwoButtonsStandAtTheirPlacesWithTheirCaptions) {
    Rig rig;
    const auto children = rig.window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_EQ(children.size(), 2);
    ASSERT_NE(rig.button("PlayOn"), nullptr);
    ASSERT_NE(rig.button("ExitMe"), nullptr);
    EXPECT_EQ(rig.button("PlayOn")->text(), QStringLiteral("Start"));
    EXPECT_EQ(rig.button("ExitMe")->text(), QStringLiteral("Sluta"));
    EXPECT_EQ(rig.button("PlayOn")->geometry(), QRect(48, 64, 89, 33));
    EXPECT_EQ(rig.button("ExitMe")->geometry(), QRect(48, 120, 89, 33));
}

TEST(WindowLayout, FocusStartsOnStartAndTabLeadsToSluta) {
    Rig rig;
    rig.window->load();
    EXPECT_EQ(rig.window->focusWidget(), rig.button("PlayOn"));
    EXPECT_EQ(rig.button("PlayOn")->nextInFocusChain(), rig.button("ExitMe"));
    EXPECT_NE(rig.button("ExitMe")->focusPolicy() & Qt::TabFocus, 0);
}

TEST(WindowLayout, EnterAndEscapePressNoButton) {
    Rig rig;
    rig.window->load();
    for (const char* name : {"PlayOn", "ExitMe"}) {
        EXPECT_FALSE(rig.button(name)->isDefault()) << name;
        EXPECT_FALSE(rig.button(name)->autoDefault()) << name;
    }
    // Given focus on "Start", when Enter and Escape are pressed, then nothing plays or ends.
    for (auto key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(rig.button("PlayOn"), key);
    EXPECT_EQ(rig.port.writes().size(), kStartUp);
}

TEST(WindowLayout, IconIsTheShippedPicture) {
    Rig rig;
    const QImage shipped(QStringLiteral(VESK_DATA_DIR "/icons/vesk-32.png"));
    ASSERT_FALSE(shipped.isNull());
    const QIcon icon = rig.window->windowIcon();
    EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
    EXPECT_EQ(icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32),
              shipped.convertToFormat(QImage::Format_ARGB32));
}

// ---- Start-up ----

TEST(WindowStartUp, WindowIsShownBeforeTheFirstPortAccess) {
    Rig rig;
    int accesses = 0;
    bool visible_first = false;
    rig.port.on_access = [&] {
        if (accesses++ > 0) return;
        visible_first = rig.window->isVisible();
    };
    rig.window->load();
    EXPECT_TRUE(visible_first);
}

TEST(WindowStartUp, ClearsRegisters1To0xF5ThenProgramsTheVoicesWithoutKeyingOn) {
    Rig rig;
    rig.window->load();
    const auto& writes = rig.port.writes();
    ASSERT_EQ(writes.size(), kStartUp);
    for (std::size_t i = 0; i < kResetWrites; ++i)
        ASSERT_EQ(writes[i], (Write{static_cast<int>(i) + 1, 0})) << "reset write " << i;
    for (std::size_t i = kResetWrites; i < kStartUp; ++i)
        EXPECT_FALSE(writes[i].reg >= 0xB0 && writes[i].reg <= 0xB8) << writes[i];
    EXPECT_EQ(rig.port.patternFault(), "");
}

// ---- Playback ----

TEST(WindowPlayback, StartPlaysSeventyFourStepsOfSixWritesThenIdles) {
    Rig rig;
    rig.window->load();
    rig.click("PlayOn");
    const auto song = rig.writesFrom(kStartUp);
    ASSERT_EQ(song.size(), kSong);
    EXPECT_EQ(song[0], (Write{0xA0, 0x87}));
    EXPECT_EQ(song[1], (Write{0xB0, 0x2E}));
    for (std::size_t step = 0; step < 74; ++step) {
        const std::size_t at = step * kPerStep;
        EXPECT_EQ(song[at].reg, 0xA0);
        EXPECT_EQ(song[at + 2].reg, 0xA1);
        EXPECT_EQ(song[at + 3].reg, 0xB1);
        EXPECT_EQ(song[at + 4], kKeyOffs[0]) << "step " << step + 1;
        EXPECT_EQ(song[at + 5], kKeyOffs[1]) << "step " << step + 1;
    }
}

TEST(WindowPlayback, StartDuringAStepNestsAWholePlaybackThenTheOuterResumes) {
    Rig rig;
    rig.window->load();
    rig.clickWhen(holding(5), "PlayOn");
    rig.click("PlayOn");
    const auto all = rig.writesFrom(kStartUp);
    ASSERT_EQ(all.size(), 2 * kSong);
    // The nested playback sits between the outer step's key-ons and its key-offs.
    const std::size_t nested_from = holding(5, 0);
    const std::vector<Write> nested(all.begin() + nested_from, all.begin() + nested_from + kSong);
    std::vector<Write> outer(all.begin(), all.begin() + nested_from);
    outer.insert(outer.end(), all.begin() + nested_from + kSong, all.end());
    EXPECT_EQ(nested, outer) << "both must be the whole song, step for step";
    EXPECT_EQ(all[nested_from + kSong], kKeyOffs[0]);
}

TEST(WindowPlayback, AWaitBlocksInTheEventLoopRatherThanSpinning) {
    // Given the real clock, when a step's wait of half a second runs in the window,
    class CountingClock final : public playback::Clock {
    public:
        float secondsSinceMidnight() override {
            ++reads;
            return real.secondsSinceMidnight();
        }
        app::RealClock real;
        int reads = 0;
    } clock;
    fakes::RecordingPort port;
    app::MainWindow window(port, clock, {});
    playback::TimedWait wait(clock, window);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    wait.Sleep(0.5);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    // then it passes about once per 5 ms slice (two clock reads a pass), where a spinning
    // pump would pass hundreds of thousands of times, and the processor is mostly left alone.
    // On a busy machine Qt's loop wakes more often than its timers ask (up to about 3,000 reads
    // were seen), so the bound is set between that and a spin.
    EXPECT_LT(clock.reads, 25'000);
    const auto cpu_s = [](const rusage& r) {
        return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
               static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    EXPECT_LT(cpu_s(after) - cpu_s(before), 0.25);
}

// ---- Ending ----
// Each runs in a child process, which ends as the program does.

TEST(WindowEnding, SlutaWhenIdleKeysOffVoicesOneAndTwoAndEnds) {
    EXPECT_EXIT(
        {
            Rig rig;
            rig.window->load();
            rig.click("ExitMe");
        },
        ::testing::ExitedWithCode(0), endedAfterKeyOffs(0));
}

TEST(WindowEnding, SlutaDuringAStepKeysOffAndNothingRunsAfter) {
    // Given "Sluta" and then "Start" both queued during step 10, then the two key-offs are
    // the last writes: neither the playback nor "Start" goes on.
    EXPECT_EXIT(
        {
            Rig rig;
            rig.window->load();
            rig.report_from = holding(10);
            rig.clickWhen(holding(10), "ExitMe");
            rig.clickWhen(holding(10), "PlayOn");
            rig.click("PlayOn");
        },
        ::testing::ExitedWithCode(0), endedAfterKeyOffs(0));
}

TEST(WindowEnding, SlutaInANestedPlaybackEndsBothAtOnce) {
    EXPECT_EXIT(
        {
            Rig rig;
            rig.window->load();
            rig.report_from = holding(3, holding(5));
            rig.clickWhen(holding(5), "PlayOn");
            rig.clickWhen(holding(3, holding(5)), "ExitMe");
            rig.click("PlayOn");
        },
        ::testing::ExitedWithCode(0), endedAfterKeyOffs(0));
}

TEST(WindowEnding, ClosingDuringAStepStopsThePlaybackLikeSluta) {
    EXPECT_EXIT(
        {
            Rig rig;
            rig.window->load();
            rig.report_from = holding(10);
            rig.when(holding(10), [&rig] {
                QMetaObject::invokeMethod(rig.window.get(), &QWidget::close, Qt::QueuedConnection);
            });
            rig.click("PlayOn");
        },
        ::testing::ExitedWithCode(0), endedAfterKeyOffs(0));
}

TEST(WindowEnding, ClosingWhenIdleWritesNothing) {
    EXPECT_EXIT(
        {
            Rig rig;
            rig.window->load();
            rig.window->close();
        },
        ::testing::ExitedWithCode(0), "ended 0 visible=[01] total=292 writes:\n");
}

TEST(WindowEnding, QuitSignalDuringAStepActsAsSlutaWithStatus130) {
    EXPECT_EXIT(
        {
            Rig rig;
            rig.window->load();
            rig.report_from = holding(10);
            rig.when(holding(10), [] { app::raiseQuitSignal(SIGINT); });
            rig.click("PlayOn");
        },
        ::testing::ExitedWithCode(128 + SIGINT), endedAfterKeyOffs(128 + SIGINT));
}

TEST(WindowEnding, QuitSignalWhenIdleWakesTheEventLoop) {
    EXPECT_EXIT(
        {
            Rig rig;
            rig.window->load();
            app::raiseQuitSignal(SIGTERM);
            QTest::qWait(5000);
        },
        ::testing::ExitedWithCode(128 + SIGTERM), endedAfterKeyOffs(128 + SIGTERM));
}

// ---- Run-time errors ----

TEST(WindowFaults, MissingPortLibraryIsReportedAndEndsWithStatus1) {
    EXPECT_EXIT(
        {
            Rig rig;
            rig.report_from = 0;
            rig.port.on_access = [] {
                throw common::RunError(common::RunError::Kind::PortLibraryMissing);
            };
            rig.window->load();
        },
        ::testing::ExitedWithCode(1),
        "fault: cannot load inpout32.dll\nended 1 visible=1 total=0 writes:\n");
}

TEST(WindowFaults, FaultInANestedPlaybackEndsWithStatus1AndLeavesTheChipAsItWas) {
    // Given an overflow right after the nested playback's first write (inside Qt's frames),
    // then the fault is named, no voice is keyed off and neither playback writes again.
    const std::size_t fault_at = holding(5) + 1;
    EXPECT_EXIT(
        {
            Rig rig;
            rig.window->load();
            rig.report_from = fault_at;
            rig.clickWhen(holding(5), "PlayOn");
            rig.port.on_access = [&] {
                if (rig.port.writes().size() == fault_at)
                    throw common::RunError(common::RunError::Kind::Overflow);
            };
            rig.click("PlayOn");
        },
        ::testing::ExitedWithCode(1),
        "fault: Overflow\nended 1 visible=1 total=" + std::to_string(fault_at) + " writes:\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Off the desktop's session bus: the window on a bus is tested through the program.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    ::testing::InitGoogleTest(&argc, argv);
    // A child re-runs the binary from the start, so it has its own QApplication.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
