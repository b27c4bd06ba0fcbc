// The window object: it owns the voice tables, the chip driver and the player, and handles the
// load and the two buttons. Toolkit-free; the Qt window and the text front end drive it.
#pragma once

#include "app/shell.h"
#include "fm/blaster.h"
#include "playback/player.h"
#include "playback/timed_wait.h"
#include "song/song.h"

namespace app {

class Vesk {
public:
    Vesk(Shell& platform, fm::PortIo& port, playback::Clock& clock, playback::EventPump& pump)
        : platform_(platform), blaster(port), wait(clock, pump), player(song, blaster, wait) {}

    // Show the window first, then fill the tables before the chip is touched, then reset the
    // chip before programming the voices. No events are handled until it returns.
    void Form_Load();
    // "Start".
    void PlayOn_Click() { player.PlayOn_Click(); }
    // "Sluta": silence the two voices that play, close the window, end the program.
    [[noreturn]] void ExitMe_Click();

    bool playing() const { return player.depth() > 0; }
    // Told of each step as it starts, for a front end's progress display.
    void setStepObserver(playback::StepObserver* observer) { player.setObserver(observer); }
    // The voice tables the window object owns, read-only.
    const song::Song& voiceTables() const { return song; }

private:
    Shell& platform_;
    song::Song song;
    fm::Blaster blaster;
    playback::TimedWait wait;
    playback::Player player;
};

}  // namespace app
