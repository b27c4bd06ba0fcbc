// The Windows platform layer: the wait on standard input, the quit signals' event, the clock,
// and file names in UTF-8.
#include <windows.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <csignal>
#include <string>
#include <thread>

#include "app/options.h"
#include "app/platform/clock.h"
#include "app/platform/input_wait.h"
#include "app/platform/process_win32.h"
#include "app/platform/quit_signals.h"

namespace {

// An anonymous pipe whose reading end is a C file descriptor, as standard input is.
class InputPipe : public testing::Test {
protected:
    void SetUp() override {
        app::clearQuitSignal();
        HANDLE read_end = nullptr;
        ASSERT_TRUE(CreatePipe(&read_end, &write_end_, nullptr, 0));
        fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(read_end), _O_RDONLY | _O_BINARY);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override {
        closeWriteEnd();
        app::clearQuitSignal();
    }
    void type(const std::string& text) {
        DWORD written = 0;
        ASSERT_TRUE(
            WriteFile(write_end_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    }
    void closeWriteEnd() {
        if (write_end_ != nullptr) CloseHandle(write_end_);
        write_end_ = nullptr;
    }

    HANDLE write_end_ = nullptr;
    int fd_ = -1;  // left open: the reader thread may still be reading it
};

TEST_F(InputPipe, TypedLinesWakeTheWaitAndTheEndOfInputIsSeen) {
    app::InputWait input(fd_);
    std::string got;
    EXPECT_EQ(input.readReady(got), app::InputWait::Read::Nothing);
    type("start\r\n");
    // No limit: only the input can end this wait.
    input.block(-1);
    EXPECT_EQ(input.readReady(got), app::InputWait::Read::Data);
    EXPECT_EQ(got, "start\r\n");
    EXPECT_EQ(input.readReady(got), app::InputWait::Read::Nothing);

    closeWriteEnd();
    input.block(-1);
    EXPECT_EQ(input.readReady(got), app::InputWait::Read::Ended);
    EXPECT_TRUE(input.ended());
    EXPECT_EQ(input.readReady(got), app::InputWait::Read::Ended);
}

TEST_F(InputPipe, AQuitSignalWakesAWaitWithNoLimit) {
    app::InputWait input(fd_);
    std::thread signal([] {
        Sleep(50);
        app::raiseQuitSignal(SIGINT);
    });
    input.block(-1);
    signal.join();
    EXPECT_EQ(app::pendingQuitSignal(), SIGINT);
    std::string got;
    EXPECT_EQ(input.readReady(got), app::InputWait::Read::Nothing);
}

TEST_F(InputPipe, AWaitWithNothingToReadEndsAtItsLimit) {
    app::InputWait input(fd_);
    input.block(0.005);
    std::string got;
    EXPECT_EQ(input.readReady(got), app::InputWait::Read::Nothing);
    EXPECT_FALSE(input.ended());
}

// The program ends its reader before it ends, whether the reader sits in a read of a pipe that
// stays open or has seen the input end; either way nothing more is handed over.
TEST_F(InputPipe, EndingTheReadingLeavesNoReaderInARead) {
    app::InputWait input(fd_);
    type("start\r\n");
    input.block(-1);
    std::string got;
    ASSERT_EQ(input.readReady(got), app::InputWait::Read::Data);
    EXPECT_TRUE(input.endReading());
    type("sluta\r\n");
    EXPECT_EQ(input.readReady(got), app::InputWait::Read::Nothing);
}

TEST_F(InputPipe, EndingTheReadingLeavesNoReaderAtTheInputsEnd) {
    app::InputWait input(fd_);
    closeWriteEnd();
    input.block(-1);
    EXPECT_TRUE(input.endReading());
    std::string got;
    EXPECT_EQ(input.readReady(got), app::InputWait::Read::Ended);
}

TEST(QuitSignals, TheEventIsSetWhileASignalIsPending) {
    const auto event = static_cast<HANDLE>(app::quitSignalEvent());
    app::clearQuitSignal();
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    app::raiseQuitSignal(SIGTERM);
    EXPECT_EQ(app::pendingQuitSignal(), SIGTERM);
    // Manual reset: every waiter sees it, not only the first.
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    app::clearQuitSignal();
    EXPECT_EQ(app::pendingQuitSignal(), 0);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST(Clock, IsTheLocalTimeOfDay) {
    auto local_s = [] {
        SYSTEMTIME t;
        GetLocalTime(&t);
        return t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0;
    };
    app::RealClock clock;
    const double before = local_s();
    const double now = clock.secondsSinceMidnight();
    const double after = local_s();
    // (A whole second: the x87 may hold one reading at a precision the other lost.)
    if (after + 1.0 < before) GTEST_SKIP() << "midnight passed during the test";
    // At single precision, about 8 ms near the end of the day.
    EXPECT_GE(now, before - 0.01);
    EXPECT_LE(now, after + 0.01);
}

TEST(Utf8, FileNamesSurviveTheWayFromTheCommandLineToAPath) {
    const std::wstring wide = L"f\u00e5ngst-\u65e5\u672c-\u043f.vgm";
    const std::string utf8 = app::utf8FromWide(wide);
    EXPECT_EQ(utf8, "f\xc3\xa5ngst-\xe6\x97\xa5\xe6\x9c\xac-\xd0\xbf.vgm");
    EXPECT_EQ(app::wideFromUtf8(utf8), wide);
    EXPECT_EQ(app::pathFromArgument(utf8).native(), wide);
}

}  // namespace
