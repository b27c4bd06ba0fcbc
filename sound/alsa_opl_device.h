// A sound card's own OPL chip through ALSA's OPL device (a hwdep device of interface OPL2 or
// OPL3), which the audio group may open: no root, no port access.
#pragma once

#include <memory>
#include <string>

#include "fm/ports/opl_device_port.h"

namespace sound {

struct OpenedOplDevice {
    std::unique_ptr<fm::OplDevice> device;
    // What the kernel says about it: "an OPL3 on card 0 (Sound Blaster 16), ALSA device hw:0,0".
    std::string description;
};

// Opens `name` (hw:CARD,DEVICE or /dev/snd/hwCcardDdevice), or with an empty name the first
// hwdep device of an OPL interface on any card. An OPL3 is put in its own mode, in which it
// plays an OPL2's registers on both outputs. Raises std::runtime_error with one line naming
// the device, the cause and, where there is one, the remedy.
OpenedOplDevice openOplDevice(const std::string& name);

}  // namespace sound
