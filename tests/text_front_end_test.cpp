// The text front end: typed commands are the buttons, read during waits as well.
#include "app/text/text_front_end.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "app/platform/quit_signals.h"
#include "chip_fakes.h"
#include "fake_time_front_end.h"

namespace {

using fakes::FakeTimeFrontEnd;
using fakes::Write;

constexpr std::size_t kStartupWrites = 292;
constexpr std::size_t kWritesPerStep = 6;
constexpr std::size_t kSteps = 74;

// Feeds `input` through a pipe, which is closed after it: end of input follows the text.
class TextFrontEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(fds_), 0);
        out_ = std::tmpfile();
        ASSERT_NE(out_, nullptr);
        app::clearQuitSignal();
    }
    void TearDown() override {
        if (fds_[0] >= 0) close(fds_[0]);
        if (fds_[1] >= 0) close(fds_[1]);
        std::fclose(out_);
        app::clearQuitSignal();
    }

    void type(const std::string& text, bool then_close = true) {
        ASSERT_EQ(write(fds_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        if (then_close) {
            close(fds_[1]);
            fds_[1] = -1;
        }
    }

    // Runs until the program ends and returns its exit status.
    int run(FakeTimeFrontEnd& front_end) { return front_end.runToEnd(); }

    std::string printed() {
        std::rewind(out_);
        std::string text;
        for (int c; (c = std::fgetc(out_)) != EOF;) text.push_back(static_cast<char>(c));
        return text;
    }

    fakes::RecordingPort port_;
    fakes::FakeClock clock_;
    int fds_[2] = {-1, -1};
    std::FILE* out_ = nullptr;
};

TEST_F(TextFrontEndTest, SlutaAfterStartUpWritesTwoKeyOffsAndEndsCleanly) {
    FakeTimeFrontEnd front_end(port_, clock_, fds_[0], out_);
    type("SlUtA\n");
    EXPECT_EQ(run(front_end), 0);
    ASSERT_EQ(port_.writes().size(), kStartupWrites + 2);
    EXPECT_EQ(port_.writes()[kStartupWrites], (Write{0xB0, 0}));
    EXPECT_EQ(port_.writes()[kStartupWrites + 1], (Write{0xB1, 0}));
    EXPECT_EQ(port_.patternFault(), "");
}

TEST_F(TextFrontEndTest, EndOfInputWhenIdleEndsWithoutWriting) {
    FakeTimeFrontEnd front_end(port_, clock_, fds_[0], out_);
    type("");
    EXPECT_EQ(run(front_end), 0);
    EXPECT_EQ(port_.writes().size(), kStartupWrites);
}

TEST_F(TextFrontEndTest, EndOfInputDuringAStepLetsTheSongFinish) {
    // Given "start" followed at once by end of input
    FakeTimeFrontEnd front_end(port_, clock_, fds_[0], out_);
    type("start\n");
    // Then the whole song plays and the program ends without a key-off of its own.
    EXPECT_EQ(run(front_end), 0);
    ASSERT_EQ(port_.writes().size(), kStartupWrites + kSteps * kWritesPerStep);
    EXPECT_EQ(port_.writes()[kStartupWrites], (Write{0xA0, 0x87}));
    EXPECT_EQ(port_.writes().back(), (Write{0xB1, 0}));
    const std::string text = printed();
    EXPECT_NE(text.find("step 74/74"), std::string::npos);
    EXPECT_NE(text.find("step 1/74 B3"), std::string::npos);
}

TEST_F(TextFrontEndTest, CommandsAreReadDuringAWait) {
    // Given a playback under way, "sluta" typed mid-step ends it after exactly two key-offs.
    FakeTimeFrontEnd front_end(port_, clock_, fds_[0], out_);
    type("start\n", false);
    bool typed = false;
    front_end.on_block = [&] {
        if (!typed && port_.writes().size() == kStartupWrites + 9 * kWritesPerStep + 4) {
            typed = true;
            type("sluta\n");
        }
    };
    EXPECT_EQ(run(front_end), 0);
    const auto& w = port_.writes();
    ASSERT_EQ(w.size(), kStartupWrites + 9 * kWritesPerStep + 4 + 2);
    EXPECT_EQ(w[w.size() - 2], (Write{0xB0, 0}));
    EXPECT_EQ(w.back(), (Write{0xB1, 0}));
}

TEST_F(TextFrontEndTest, QuitSignalDuringAStepActsAsSluta) {
    FakeTimeFrontEnd front_end(port_, clock_, fds_[0], out_);
    type("start\n", false);
    front_end.on_block = [&] {
        if (port_.writes().size() == kStartupWrites + 4 && app::pendingQuitSignal() == 0)
            app::raiseQuitSignal(SIGINT);
    };
    EXPECT_EQ(run(front_end), 128 + SIGINT);
    const auto& w = port_.writes();
    ASSERT_EQ(w.size(), kStartupWrites + 4 + 2);
    EXPECT_EQ(w[w.size() - 2], (Write{0xB0, 0}));
    EXPECT_EQ(w.back(), (Write{0xB1, 0}));
}

TEST_F(TextFrontEndTest, UnknownLinesGetAHintAndChangeNothing) {
    FakeTimeFrontEnd front_end(port_, clock_, fds_[0], out_);
    type("play\n\n  \nsluta");  // the last line has no newline
    EXPECT_EQ(run(front_end), 0);
    const std::string text = printed();
    EXPECT_NE(text.find("unknown command \"play\""), std::string::npos);
    EXPECT_EQ(text.find("unknown command \"\""), std::string::npos);
    EXPECT_EQ(port_.writes().size(), kStartupWrites + 2);
}

TEST_F(TextFrontEndTest, ARunawayLineIsDroppedWholeWithOneWarning) {
    // Given a line far longer than any command whose tail, alone, would read "start"
    FakeTimeFrontEnd front_end(port_, clock_, fds_[0], out_);
    type(std::string(20000, ' ') + "start\nsluta\n");
    // Then nothing of it plays, it is reported once, and the next line is read as usual
    EXPECT_EQ(run(front_end), 0);
    EXPECT_EQ(port_.writes().size(), kStartupWrites + 2);
    const std::string text = printed();
    const std::string warning = "input line too long; ignored.";
    ASSERT_NE(text.find(warning), std::string::npos);
    EXPECT_EQ(text.find(warning, text.find(warning) + 1), std::string::npos);
}

}  // namespace
