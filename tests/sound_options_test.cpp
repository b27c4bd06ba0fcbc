// The command line's sound options: chip, emulator core, output rate, render file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"

namespace {

// Where writes go with no --chip: a real card on Windows, the system's home; elsewhere the
// emulated chip, as no card is there.
#ifdef _WIN32
constexpr app::Chip kBareChip = app::Chip::Inpout32;
#else
constexpr app::Chip kBareChip = app::Chip::Emulated;
#endif

app::ParsedCommandLine parse(std::vector<const char*> args) {
    args.insert(args.begin(), "vesk");
    return app::parseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(SoundOptions, BareCommandLinePlaysTheNukedCoreAt48kHz) {
    const auto parsed = parse({});
    EXPECT_EQ(parsed.options.chip, kBareChip);
    EXPECT_EQ(parsed.options.emulator, sound::Emulator::Nuked);
    EXPECT_EQ(parsed.options.rate_hz, 48000);
    EXPECT_TRUE(parsed.options.render.empty());
}

TEST(SoundOptions, RateMustBeWholeHertzInRange) {
    struct Case {
        const char* value;
        int rate_hz;  // 0: refused
    };
    for (const Case& c : std::vector<Case>{{"44100", 44100},
                                           {"8000", 8000},
                                           {"192000", 192000},
                                           {"7999", 0},
                                           {"192001", 0},
                                           {"48k", 0},
                                           {"-48000", 0},
                                           {"4.8e4", 0},
                                           {"", 0},
                                           {"99999999999", 0}}) {
        const auto parsed = parse({"--rate", c.value});
        if (c.rate_hz == 0) {
            EXPECT_EQ(parsed.action, app::ParsedCommandLine::Action::UsageError) << c.value;
        } else {
            EXPECT_EQ(parsed.options.rate_hz, c.rate_hz) << c.value;
        }
    }
}

TEST(SoundOptions, EmulatorIsOneOfTheThreeCores) {
    const struct {
        const char* name;
        sound::Emulator core;
    } cores[] = {{"nuked", sound::Emulator::Nuked},
                 {"mame", sound::Emulator::Mame},
                 {"dosbox", sound::Emulator::Dosbox}};
    for (const auto& c : cores) EXPECT_EQ(parse({"--emulator", c.name}).options.emulator, c.core);
    const auto parsed = parse({"--emulator=kemu"});
    EXPECT_EQ(parsed.action, app::ParsedCommandLine::Action::UsageError);
    EXPECT_EQ(parsed.error, "unknown emulator 'kemu'");
}

TEST(SoundOptions, RenderNeedsTheEmulatedChipWhicheverOrder) {
    EXPECT_EQ(parse({"--render", "a.wav", "--chip", "none"}).action,
              app::ParsedCommandLine::Action::UsageError);
    EXPECT_EQ(parse({"--chip=none", "--render=a.wav"}).action,
              app::ParsedCommandLine::Action::UsageError);
    EXPECT_EQ(parse({"--render", "a.wav"}).options.render, "a.wav");
}

TEST(SoundOptions, RenderWithoutAChipTakesTheEmulatedOneWhateverTheDefault) {
    // The default chip is a real card on Windows; a render still needs no --chip.
    for (const auto& args : {std::vector<const char*>{"--render", "a.wav"},
                             std::vector<const char*>{"--emulator=mame", "--render=a.wav"}}) {
        const auto parsed = parse(args);
        EXPECT_EQ(parsed.action, app::ParsedCommandLine::Action::Run) << parsed.error;
        EXPECT_EQ(parsed.options.chip, app::Chip::Emulated);
    }
    // A chip named outright is kept, and refused if it cannot render.
    EXPECT_EQ(parse({"--chip", "emulated", "--render", "a.wav"}).options.chip, app::Chip::Emulated);
    EXPECT_EQ(parse({"--render", "a.wav", "--chip=serial:COM3"}).action,
              app::ParsedCommandLine::Action::UsageError);
    // Without a render the default stays.
    EXPECT_EQ(parse({"--emulator", "mame"}).options.chip, kBareChip);
}

}  // namespace

namespace {

TEST(SoundOptions, CaptureFormatFollowsTheExtension) {
    EXPECT_EQ(parse({"--capture", "s.vgm"}).options.capture, "s.vgm");
    EXPECT_EQ(parse({"--capture=S.DRO"}).options.capture, "S.DRO");
    for (const char* refused : {"s.wav", "s", "vgm", ""}) {
        const auto parsed = parse({"--capture", refused});
        EXPECT_EQ(parsed.action, app::ParsedCommandLine::Action::UsageError) << refused;
    }
}

}  // namespace
