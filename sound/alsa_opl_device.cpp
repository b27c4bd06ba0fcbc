// alsa-lib's hwdep calls and the kernel's FM ioctls (<sound/asound_fm.h>).
#include "sound/alsa_opl_device.h"

#include <alsa/asoundlib.h>
#include <sys/ioctl.h>
// clang-format off: the kernel's header needs _IOW from sys/ioctl.h before it.
#include <sound/asound_fm.h>
// clang-format on

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "common/run_error.h"

namespace sound {

namespace {

struct Address {
    int card = 0;
    int device = 0;
};

std::string hwName(const Address& a) {
    return "hw:" + std::to_string(a.card) + "," + std::to_string(a.device);
}

std::optional<Address> parseName(const std::string& name) {
    Address a;
    char end = 0;
    if (std::sscanf(name.c_str(), "hw:%d,%d%c", &a.card, &a.device, &end) == 2) return a;
    if (std::sscanf(name.c_str(), "/dev/snd/hwC%dD%d%c", &a.card, &a.device, &end) == 2) return a;
    return std::nullopt;
}

bool isOpl(snd_hwdep_iface_t iface) {
    return iface == SND_HWDEP_IFACE_OPL2 || iface == SND_HWDEP_IFACE_OPL3;
}

// What the card's control device says about one of its hwdep devices.
struct Found {
    Address address;
    snd_hwdep_iface_t iface = SND_HWDEP_IFACE_OPL2;
    std::string card_name;
};

std::optional<Found> describe(const Address& a, bool opl_only) {
    // Asked for a card that is not there, alsa-lib's control device prints a complaint.
    if (snd_card_load(a.card) != 1) return std::nullopt;
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, ("hw:" + std::to_string(a.card)).c_str(), 0) < 0) return std::nullopt;
    std::optional<Found> found;
    snd_hwdep_info_t* info = nullptr;
    snd_ctl_card_info_t* card_info = nullptr;
    snd_hwdep_info_malloc(&info);
    snd_ctl_card_info_malloc(&card_info);
    snd_hwdep_info_set_device(info, static_cast<unsigned>(a.device));
    if (info != nullptr && card_info != nullptr && snd_ctl_hwdep_info(ctl, info) >= 0 &&
        (!opl_only || isOpl(snd_hwdep_info_get_iface(info)))) {
        found = Found{a, snd_hwdep_info_get_iface(info), {}};
        if (snd_ctl_card_info(ctl, card_info) >= 0)
            found->card_name = snd_ctl_card_info_get_name(card_info);
    }
    snd_ctl_card_info_free(card_info);
    snd_hwdep_info_free(info);
    snd_ctl_close(ctl);
    return found;
}

std::optional<Found> firstOplDevice() {
    for (int card = -1; snd_card_next(&card) == 0 && card >= 0;) {
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open(&ctl, ("hw:" + std::to_string(card)).c_str(), 0) < 0) continue;
        std::optional<Found> found;
        for (int device = -1;
             !found && snd_ctl_hwdep_next_device(ctl, &device) == 0 && device >= 0;)
            found = describe({card, device}, true);
        snd_ctl_close(ctl);
        if (found) return found;
    }
    return std::nullopt;
}

class AlsaOplDevice final : public fm::OplDevice {
public:
    AlsaOplDevice(snd_hwdep_t* hwdep, std::string name) : hwdep_(hwdep), name_(std::move(name)) {}
    ~AlsaOplDevice() override { snd_hwdep_close(hwdep_); }  // the kernel keys every voice off
    AlsaOplDevice(const AlsaOplDevice&) = delete;
    AlsaOplDevice& operator=(const AlsaOplDevice&) = delete;

    void setVoice(const fm::OperatorSettings& s) override {
        snd_dm_fm_voice v{};
        v.op = s.op;
        v.voice = s.voice;
        v.am = s.am;
        v.vibrato = s.vibrato;
        v.do_sustain = s.do_sustain;
        v.kbd_scale = s.kbd_scale;
        v.harmonic = s.harmonic;
        v.scale_level = s.scale_level;
        v.volume = s.volume;
        v.attack = s.attack;
        v.decay = s.decay;
        v.sustain = s.sustain;
        v.release = s.release;
        v.feedback = s.feedback;
        v.connection = s.connection;
        v.left = s.left;
        v.right = s.right;
        v.waveform = s.waveform;
        call(SNDRV_DM_FM_IOCTL_SET_VOICE, &v);
    }
    void playNote(const fm::NoteSettings& n) override {
        snd_dm_fm_note note{};
        note.voice = n.voice;
        note.octave = n.octave;
        note.fnum = n.fnum;
        note.key_on = n.key_on;
        call(SNDRV_DM_FM_IOCTL_PLAY_NOTE, &note);
    }
    void setParams(const fm::ChipParams& p) override {
        snd_dm_fm_params params{};
        params.am_depth = p.am_depth;
        params.vib_depth = p.vib_depth;
        params.kbd_split = p.kbd_split;
        params.rhythm = p.rhythm;
        params.bass = p.bass;
        params.snare = p.snare;
        params.tomtom = p.tomtom;
        params.cymbal = p.cymbal;
        params.hihat = p.hihat;
        call(SNDRV_DM_FM_IOCTL_SET_PARAMS, &params);
    }

private:
    void call(unsigned request, void* arg) {
        const int error = snd_hwdep_ioctl(hwdep_, request, arg);
        if (error < 0)
            throw common::RunError(common::RunError::Kind::DeviceLost,
                                   "lost the OPL device " + name_ + ": " + snd_strerror(error));
    }

    snd_hwdep_t* hwdep_;
    std::string name_;
};

}  // namespace

OpenedOplDevice openOplDevice(const std::string& name) {
    std::optional<Found> found;
    if (name.empty()) {
        found = firstOplDevice();
        if (!found)
            throw std::runtime_error(
                "--chip alsa: no sound card here has an OPL device (an ALSA hwdep device of "
                "interface OPL2 or OPL3); a card's FM needs its driver loaded, and many PCI cards "
                "have none");
    } else {
        const std::optional<Address> address = parseName(name);
        if (!address)
            throw std::runtime_error("--chip alsa: '" + name +
                                     "' is not an OPL device's name (hw:CARD,DEVICE or "
                                     "/dev/snd/hwCcardDdevice)");
        found = describe(*address, false);
        if (!found)
            throw std::runtime_error("--chip alsa: there is no device " + hwName(*address) +
                                     " (aplay -l lists the cards)");
        if (!isOpl(found->iface))
            throw std::runtime_error("--chip alsa: " + hwName(*address) + " is not an OPL device");
    }
    const std::string hw = hwName(found->address);
    snd_hwdep_t* hwdep = nullptr;
    if (const int error = snd_hwdep_open(&hwdep, hw.c_str(), SND_HWDEP_OPEN_WRITE); error < 0) {
        std::string why = snd_strerror(error);
        if (error == -EACCES)
            why +=
                "; add yourself to the audio group (sudo usermod -aG audio $USER) and log in "
                "again";
        if (error == -EBUSY) why += "; another program has it open";
        throw std::runtime_error("cannot open the OPL device " + hw + ": " + why);
    }
    const bool opl3 = found->iface == SND_HWDEP_IFACE_OPL3;
    if (opl3) {
        // The driver starts an OPL3 with the chip's OPL3 registers on, where a channel sounds
        // only on the outputs its 0xC0 turns on, yet in its own OPL2 mode it leaves those bits
        // clear. In its OPL3 mode it sets them; it also clears the 4-operator pairings. The
        // mode is the call's argument itself, not a pointer to it.
        void* const mode = reinterpret_cast<void*>(  // NOLINT(performance-no-int-to-ptr)
            static_cast<std::intptr_t>(SNDRV_DM_FM_MODE_OPL3));
        const int error = snd_hwdep_ioctl(hwdep, SNDRV_DM_FM_IOCTL_SET_MODE, mode);
        if (error < 0) {
            snd_hwdep_close(hwdep);
            throw std::runtime_error("cannot set up the OPL device " + hw + ": " +
                                     snd_strerror(error));
        }
    }
    OpenedOplDevice opened;
    opened.description = std::string(opl3 ? "an OPL3" : "an OPL2") + " on card " +
                         std::to_string(found->address.card) +
                         (found->card_name.empty() ? "" : " (" + found->card_name + ")") +
                         ", ALSA device " + hw + " (/dev/snd/hwC" +
                         std::to_string(found->address.card) + "D" +
                         std::to_string(found->address.device) + ")";
    opened.device = std::make_unique<AlsaOplDevice>(hwdep, hw);
    return opened;
}

}  // namespace sound
