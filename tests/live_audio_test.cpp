// Live playback through SDL and our own sound-server stream: two threads at work, a device or a
// server that is not there, and the way out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "app/vesk.h"
#include "chip_fakes.h"
#include "fm/blaster.h"
#include "playback/player.h"
#include "song/song.h"
#include "sound/chip_session.h"
#ifndef _WIN32
#include "sound/pulse_stream.h"
#endif

namespace {

using common::Int16;

void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

void clearEnvironment(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");  // an empty value removes it there
#else
    unsetenv(name);
#endif
}

// Never the real sound card from a test.
class LiveAudio : public testing::Test {
protected:
    void SetUp() override { setEnvironment("SDL_AUDIODRIVER", "dummy"); }
};

// Waits in real time, as the text front end does between commands.
class SleepingPump final : public playback::Clock, public playback::EventPump {
public:
    float secondsSinceMidnight() override {
        return std::chrono::duration<float>(std::chrono::steady_clock::now() - start_).count();
    }
    void processEvents(double max_block_s) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(max_block_s));
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class NoWindow final : public app::Shell {
public:
    void showWindow() override {}
    void unloadWindow() override {}
    [[noreturn]] void endProgram() override { throw 0; }
};

TEST_F(LiveAudio, PlayerAndCallbackShareTheChipWithoutRaces) {
    std::vector<std::string> warnings;
    auto chip = sound::ChipSession::forLive(sound::Emulator::Nuked, 48000,
                                            [&](const std::string& w) { warnings.push_back(w); });
    ASSERT_TRUE(warnings.empty()) << warnings.front();
    ASSERT_NE(chip->audio(), nullptr);
    auto port = chip->makePort();
    fm::Blaster blaster(*port);
    SleepingPump pump;
    playback::TimedWait wait(pump, pump);
    song::Song song;
    playback::Player player(song, blaster, wait);
    blaster.Blasterresetcard();
    blaster.BlasterInit();
    // Short steps: a handful of key-ons and key-offs while the callback runs.
    for (int fnumber : {647, 577, 514, 577})
        player.Blasterplay(Int16{1}, Int16{3}, Int16{fnumber}, Int16{2}, Int16{2}, Int16{514}, 0.2);
    EXPECT_GT(chip->audio()->stats().callbacks, 10);
    chip->close();  // while the device runs; returns once a callback under way is done
    chip->close();
}

TEST_F(LiveAudio, WriteReachesTheSpeakerWithin25ms) {
    auto chip =
        sound::ChipSession::forLive(sound::Emulator::Nuked, 48000, [](const std::string&) {});
    ASSERT_NE(chip->audio(), nullptr);
    const sound::AudioOutput& audio = *chip->audio();
    // A write lands stamp_frames after the sample the last callback began with; the device
    // plays that sample at most queue_frames after the callback.
    const sound::AudioOutput::Buffering opened = audio.buffering();
    const double latency_s =
        static_cast<double>(opened.stamp_frames + opened.queue_frames) / audio.rateHz();
    EXPECT_LE(latency_s, 0.025);
}

TEST_F(LiveAudio, EveryDriversBufferingKeepsWithin25ms) {
    // The same sum for the buffering each driver is given, a sound server's deeper queue
    // included, at the common rates.
    clearEnvironment("PULSE_LATENCY_MSEC");
    for (const char* driver : {"pulseaudio", "alsa", "pipewire", "dummy"}) {
        for (int rate_hz : {44100, 48000, 96000}) {
            const auto buffering = sound::AudioOutput::bufferingFor(driver, rate_hz);
            const int frames =
                sound::AudioOutput::stampLatencyFrames(rate_hz, buffering.callback_frames) +
                buffering.queue_frames;
            EXPECT_LE(1000.0 * frames / rate_hz, 25.0) << driver << " at " << rate_hz << " Hz";
        }
    }
}

TEST_F(LiveAudio, SoundServerQueueRidesOutLateWakeUps) {
    // Through a sound server the stream queues what the budget leaves: at least two of its
    // parts and 12 ms, which two busy loops beside it did not drain in a whole song (a longer
    // stall deepens it). A queue the user asked for stands.
    clearEnvironment("PULSE_LATENCY_MSEC");
    for (int rate_hz : {44100, 48000, 96000}) {
        const auto pulse = sound::AudioOutput::bufferingFor("pulseaudio", rate_hz);
        EXPECT_GE(1000.0 * pulse.queue_frames / rate_hz, 11.99) << rate_hz << " Hz";
        EXPECT_GE(pulse.queue_frames, 2 * pulse.callback_frames) << rate_hz << " Hz";
    }
    setEnvironment("PULSE_LATENCY_MSEC", "40");
    EXPECT_EQ(sound::AudioOutput::bufferingFor("pulseaudio", 48000).queue_frames, 1920);
    clearEnvironment("PULSE_LATENCY_MSEC");
}

TEST_F(LiveAudio, FirstWriteWaitsForTheDeviceToStart) {
    // Given a device just opened, when the first register write is made, then the device has
    // called back before the write is stamped: it has said which sample it is at. A capture
    // asks the time of that write before the port stamps it, and that waits the same way.
    auto chip =
        sound::ChipSession::forLive(sound::Emulator::Nuked, 48000, [](const std::string&) {});
    ASSERT_NE(chip->audio(), nullptr);
    auto port = chip->makePort();
    static_cast<void>(chip->writeTimeSeconds());
    EXPECT_GE(chip->audio()->stats().callbacks, 1);
    port->out(fm::opl2::kAddressPort, 0x20);
    port->out(fm::opl2::kDataPort, 0x01);
    EXPECT_GE(chip->audio()->stats().callbacks, 1);
}

TEST_F(LiveAudio, ClosingLetsTheLastWritePlayOut) {
    // Given a key-on just written, when the program ends at once, then the device is closed
    // only after it has asked for the sample the key-on was stamped at, not with it unheard.
    auto chip =
        sound::ChipSession::forLive(sound::Emulator::Nuked, 48000, [](const std::string&) {});
    ASSERT_NE(chip->audio(), nullptr);
    sound::AudioOutput& audio = *chip->audio();
    auto port = chip->makePort();
    port->out(fm::opl2::kAddressPort, fm::opl2::kKeyOnBlock);
    port->out(fm::opl2::kDataPort, fm::opl2::kKeyOnBit);
    const std::int64_t last_stamp = audio.stampNow();
    chip->close();
    // The dummy device asks for one whole buffer at a time, from sample 0 on.
    EXPECT_GT(audio.stats().callbacks * audio.buffering().callback_frames, last_stamp);
}

TEST_F(LiveAudio, MissingDeviceWarnsOnceAndPlaybackContinues) {
    setEnvironment("SDL_AUDIODRIVER", "nonexistent-driver");
    std::vector<std::string> warnings;
    auto chip = sound::ChipSession::forLive(sound::Emulator::Nuked, 48000,
                                            [&](const std::string& w) { warnings.push_back(w); });
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].starts_with("no audio device (")) << warnings[0];
    EXPECT_TRUE(warnings[0].ends_with("); playing silently")) << warnings[0];

    // The whole tune still plays, into silence, on a fake clock.
    auto port = chip->makePort();
    fakes::FakeClock clock(0.0f);
    fakes::ScriptedPump pump(clock);
    NoWindow window;
    app::Vesk vesk(window, *port, clock, pump);
    vesk.Form_Load();
    EXPECT_EQ(port->in(fm::opl2::kAddressPort), 0x06);
    vesk.PlayOn_Click();
    EXPECT_GT(clock.now(), 74 * 0.908);
}

#ifndef _WIN32
// On Windows vesk.exe's own end-to-end cases do this under Wine.
TEST_F(LiveAudio, SlutaWhilePlayingEndsPromptlyAndCleanly) {
    // Given the program playing the tune with the audio thread running,
    // when "sluta" arrives a second in, then it exits 0 well before the tune would end.
    const std::string command =
        "(printf 'start\\n'; sleep 1; printf 'sluta\\n') | "
        "timeout 20 " VESK_BINARY " --text > /dev/null";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST(PulseStream, NoServerOrASilentOneIsNotWaitedFor) {
    // A socket that takes the connection and never answers: a sound server that stopped.
    char dir[] = "/tmp/vesk-pulse-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string silent = std::string(dir) + "/native";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    silent.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);

    for (const std::string& server : {"unix:" + std::string(dir) + "/none", "unix:" + silent}) {
        setEnvironment("PULSE_SERVER", server.c_str());
        const auto start = std::chrono::steady_clock::now();
        try {
            sound::PulseStream stream(48000, 768, 256,
                                      {[](std::int16_t*, std::size_t, bool) {}, [] {}},
                                      std::chrono::milliseconds(300));
            ADD_FAILURE() << server << ": a stream opened";
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(std::string(e.what()).find("PulseAudio") != std::string::npos ||
                        std::string(e.what()).find("libpulse") != std::string::npos)
                << e.what();
        }
        // Far more than the limit, so that only a hang fails it.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << server;
    }
    clearEnvironment("PULSE_SERVER");
    close(listener);
    unlink(silent.c_str());
    rmdir(dir);
}
#endif

}  // namespace
