// The step player and the window's handlers: what each step writes, how long it holds, and
// what happens when buttons are pressed while a note is held.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/vesk.h"
#include "chip_fakes.h"
#include "fm/blaster.h"
#include "playback/player.h"
#include "playback/timed_wait.h"
#include "song/song.h"

namespace {

using common::Int16;
using fakes::FakeClock;
using fakes::RecordingPort;
using fakes::ScriptedPump;
using fakes::Write;
using W = std::vector<Write>;

Int16 I(int v) { return Int16{v}; }

struct StepLog final : playback::StepObserver {
    struct Start {
        int step, depth;
        double time;
    };
    explicit StepLog(const FakeClock& c) : clock(c) {}
    void stepStarted(int step, int depth, const song::Song&) override {
        starts.push_back({step, depth, clock.now()});
        max_depth = std::max(max_depth, depth);
    }
    void playbackEnded(int depth) override { ended.push_back(depth); }

    const FakeClock& clock;
    std::vector<Start> starts;
    std::vector<int> ended;
    int max_depth = 0;
};

// A player on fake hardware. A tick of 0.25 s makes every 0.908 s step exactly 4 passes.
struct Rig {
    explicit Rig(double tick = 0.0, bool load = true) : pump(clock, tick) {
        if (load) song.MakeMusic();
        player.setObserver(&log);
        pump.setPassLimit(100'000);
    }
    song::Song song;
    RecordingPort port;
    FakeClock clock{3600.0f};
    ScriptedPump pump;
    fm::Blaster blaster{port};
    playback::TimedWait wait{clock, pump};
    playback::Player player{song, blaster, wait};
    StepLog log{clock};
};

W slice(const W& w, std::size_t from, std::size_t to) {
    return W(w.begin() + static_cast<std::ptrdiff_t>(from),
             w.begin() + static_cast<std::ptrdiff_t>(to));
}

struct ProgramEnded {};

struct TestPlatform final : app::Shell {
    void showWindow() override {
        calls.push_back("show");
        if (on_show) on_show();
    }
    void unloadWindow() override { calls.push_back("unload"); }
    [[noreturn]] void endProgram() override {
        calls.push_back("end");
        throw ProgramEnded{};
    }
    std::vector<std::string> calls;
    std::function<void()> on_show;
};

}  // namespace

TEST(StepPlayer, KeyOnByteJoinsFNumberHighBitsBlockAndKeyOn) {
    const struct {
        int block, fnumber, low, key_on;
    } table[] = {
        {3, 647, 0x87, 0x2E},  // B in block 3: the stored song's first note
        {3, 0, 0x00, 0x2C},    // a rest still keys on, with the block
        {0, 0, 0x00, 0x20},   {7, 1023, 0xFF, 0x3F}, {4, 341, 0x55, 0x31}, {2, 0x7FF, 0xFF, 0x2B},
        {0, -1, 0xFF, 0x23},  {8, 256, 0x00, 0x21},  {-1, 0, 0x00, -4},    {8191, 0, 0x00, 32764},
    };
    for (const auto& row : table) {
        Rig rig(0.0, false);
        rig.player.Blasterplay(I(1), I(row.block), I(row.fnumber), I(2), I(0), I(0), 0.0);
        EXPECT_EQ(rig.port.writes(), (W{{0xA0, row.low},
                                        {0xB0, row.key_on},
                                        {0xA1, 0x00},
                                        {0xB1, 0x20},
                                        {0xB0, 0},
                                        {0xB1, 0}}))
            << "block " << row.block << " F-number " << row.fnumber;
    }
}

TEST(StepPlayer, BlockTooBigForTheKeyOnByteOverflows) {
    Rig rig(0.0, false);
    const auto play = [&] { rig.player.Blasterplay(I(1), I(3), I(0), I(2), I(-8193), I(0), 0.0); };
    EXPECT_EQ(fakes::faultOf(play), "Overflow");
    EXPECT_EQ(rig.port.writes(), (W{{0xA0, 0}, {0xB0, 0x2C}, {0xA1, 0}}));
}

TEST(StepPlayer, HoldsLengthTimesPoint454SecondsThenKeysOff) {
    const struct { double length, seconds; } table[] = {{2, 0.908}, {1, 0.454}, {4, 1.816}};
    for (const auto& row : table) {
        Rig rig(0.0, false);
        std::size_t writes_while_held = 99;
        rig.pump.everyPass(
            [&] { writes_while_held = std::min(writes_while_held, rig.port.writes().size()); });
        rig.player.Blasterplay(I(1), I(3), I(647), I(2), I(2), I(514), row.length);
        EXPECT_EQ(writes_while_held, 4u) << row.length;  // both voices keyed on, none off
        EXPECT_EQ(rig.port.writes().size(), 6u);
        EXPECT_NEAR(rig.clock.now() - 3600.0, row.seconds, 1e-3) << row.length;
    }
}

TEST(StepPlayer, EmptyTablesPlayVoiceZeroWithoutWaiting) {
    Rig rig(0.0, false);
    rig.player.PlayOn_Click();
    const W step = {{0x9F, 0}, {0xAF, 0x20}, {0x9F, 0}, {0xAF, 0x20}, {0xAF, 0}, {0xAF, 0}};
    ASSERT_EQ(rig.port.writes().size(), 444u);
    for (std::size_t s = 0; s < 74; ++s)
        ASSERT_EQ(slice(rig.port.writes(), 6 * s, 6 * s + 6), step) << "step " << s + 1;
    EXPECT_EQ(rig.pump.passes(), 0);
}

TEST(WholeSong, PlaysSteps1To74AsSixWritesEachHolding0908Seconds) {
    Rig rig;  // the pump blocks for what it is asked, as a real one would
    rig.player.PlayOn_Click();
    const auto& w = rig.port.writes();
    ASSERT_EQ(w.size(), 444u);
    EXPECT_EQ(w[0], (Write{0xA0, 0x87}));
    EXPECT_EQ(w[1], (Write{0xB0, 0x2E}));
    const int regs[] = {0xA0, 0xB0, 0xA1, 0xB1, 0xB0, 0xB1};
    for (std::size_t i = 0; i < w.size(); ++i) {
        const std::size_t at = i % 6;
        ASSERT_EQ(w[i].reg, regs[at]) << "write " << i;
        // Key-ons carry bit 5; key-offs are plain zeros.
        if (at == 1 || at == 3) {
            EXPECT_EQ(w[i].value & 0x20, 0x20) << "write " << i;
        } else if (at >= 4) {
            EXPECT_EQ(w[i].value, 0) << "write " << i;
        }
    }
    EXPECT_EQ(rig.port.patternFault(), "");

    const auto& starts = rig.log.starts;
    ASSERT_EQ(starts.size(), 74u);
    for (std::size_t s = 0; s < starts.size(); ++s) {
        EXPECT_EQ(starts[s].step, static_cast<int>(s) + 1);
        const double next = s + 1 < starts.size() ? starts[s + 1].time : rig.clock.now();
        EXPECT_NEAR(next - starts[s].time, 0.908, 1e-3) << "step " << s + 1;
    }
    EXPECT_EQ(rig.log.ended, (std::vector<int>{1}));
    EXPECT_EQ(rig.player.depth(), 0);
}

TEST(NestedStart, StartDuringStep10PlaysAWholeSongInsideItsWait) {
    Rig plain(0.25);
    plain.player.PlayOn_Click();
    const W& once = plain.port.writes();
    ASSERT_EQ(once.size(), 444u);

    Rig rig(0.25);
    // Steps 1-9 take passes 1-36; pass 37 is the first of step 10's wait.
    int depth_inside = 0;
    rig.pump.at(37, [&] {
        rig.player.PlayOn_Click();
        depth_inside = rig.log.max_depth;
    });
    rig.player.PlayOn_Click();

    W expected = slice(once, 0, 58);  // up to step 10's key-ons
    expected.insert(expected.end(), once.begin(), once.end());
    const W rest = slice(once, 58, 444);  // step 10's key-offs, then steps 11-74
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(rig.port.writes(), expected);
    EXPECT_EQ(depth_inside, 2);
    EXPECT_EQ(rig.log.ended, (std::vector<int>{2, 1}));
    ASSERT_EQ(rig.log.starts.size(), 148u);
    EXPECT_EQ(rig.log.starts[10].step, 1);   // the nested playback's first step...
    EXPECT_EQ(rig.log.starts[84].step, 11);  // ...and the outer one resuming after it
    EXPECT_EQ(rig.log.starts[84].depth, 1);
}

TEST(NestedStart, StormOfPressesStopsNestingAtTheBound) {
    Rig rig(0.25);
    int presses = 0;
    rig.pump.everyPass([&] {
        if (presses < 1000) {
            ++presses;
            rig.player.PlayOn_Click();
        }
    });
    rig.player.PlayOn_Click();

    EXPECT_EQ(presses, 1000);
    EXPECT_EQ(rig.log.max_depth, 8);
    const auto played = std::count_if(rig.log.starts.begin(), rig.log.starts.end(),
                                      [](const StepLog::Start& s) { return s.step == 1; });
    EXPECT_GT(played, 8);
    EXPECT_EQ(rig.log.ended.size(), static_cast<std::size_t>(played));
    EXPECT_EQ(rig.port.writes().size(), 444u * static_cast<std::size_t>(played));
    EXPECT_EQ(rig.player.depth(), 0);
}

TEST(ExitButton, InsideANestedWaitKeysOffTwoVoicesAndNothingElse) {
    TestPlatform platform;
    RecordingPort port;
    FakeClock clock;
    ScriptedPump pump(clock, 0.25);
    pump.setPassLimit(100'000);
    app::Vesk vesk(platform, port, clock, pump);
    vesk.Form_Load();

    std::size_t mark = 0;
    pump.at(2, [&] { vesk.PlayOn_Click(); });  // nested from step 1's wait
    pump.at(8, [&] {                           // the nested playback's second step
        mark = port.accesses().size();
        vesk.ExitMe_Click();
    });
    EXPECT_THROW(vesk.PlayOn_Click(), ProgramEnded);

    ASSERT_EQ(port.accesses().size(), mark + 86);  // two writes of 43 accesses
    EXPECT_EQ(port.patternFault(mark), "");
    const W& w = port.writes();
    EXPECT_EQ(slice(w, w.size() - 2, w.size()), (W{{0xB0, 0}, {0xB1, 0}}));
    EXPECT_EQ(platform.calls, (std::vector<std::string>{"show", "unload", "end"}));
}

TEST(FormLoad, ShowsWindowLoadsTablesThenResetsAndInitialisesTheChip) {
    TestPlatform platform;
    RecordingPort port;
    FakeClock clock;
    ScriptedPump pump(clock);
    app::Vesk vesk(platform, port, clock, pump);

    std::size_t accesses_at_show = 99;
    int count1_at_show = -1;
    platform.on_show = [&] {
        accesses_at_show = port.accesses().size();
        count1_at_show = vesk.voiceTables().Count1.value();
    };
    int count1_at_port = -1, count2_at_port = -1;
    port.on_access = [&] {
        if (!port.accesses().empty()) return;
        count1_at_port = vesk.voiceTables().Count1.value();
        count2_at_port = vesk.voiceTables().Count2.value();
    };
    vesk.Form_Load();

    EXPECT_EQ(platform.calls, (std::vector<std::string>{"show"}));
    EXPECT_EQ(accesses_at_show, 0u);
    EXPECT_EQ(count1_at_show, 0);
    EXPECT_EQ(count1_at_port, 74);
    EXPECT_EQ(count2_at_port, 74);

    ASSERT_EQ(port.accesses().size(), 12'556u);
    EXPECT_TRUE(port.accesses()[0].is_out);
    EXPECT_EQ(port.accesses()[0].port, 0x388);
    EXPECT_EQ(port.accesses()[0].value, 1);
    EXPECT_EQ(port.patternFault(), "");

    const W& w = port.writes();
    ASSERT_EQ(w.size(), 292u);
    for (int r = 1; r <= 0xF5; ++r) ASSERT_EQ(w[static_cast<std::size_t>(r - 1)], (Write{r, 0}));
    RecordingPort init_only;
    fm::Blaster(init_only).BlasterInit();
    EXPECT_EQ(slice(w, 245, 292), init_only.writes());
    EXPECT_EQ(pump.passes(), 0);  // no events are handled while loading
    EXPECT_FALSE(vesk.playing());
}
