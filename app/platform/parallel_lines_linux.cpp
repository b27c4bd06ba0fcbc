// A parallel port through libieee1284: ppdev where it can, direct I/O where it must.
#include <ieee1284.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "app/platform/parallel_lines.h"

namespace app {

namespace {

std::string reason(int error) {
    switch (error) {
        case E1284_NOTAVAIL:
            return "the port cannot be reached this way on this system";
        case E1284_NOMEM:
            return "out of memory";
        case E1284_INIT:
            return "the port could not be set up";
        case E1284_SYS:
            return std::strerror(errno);
        case E1284_INVALIDPORT:
            return "not a port";
        default:
            return "libieee1284 error " + std::to_string(error);
    }
}

class Ieee1284Lines final : public fm::ParallelLines {
public:
    Ieee1284Lines(parport_list list, parport* port) : list_(list), port_(port) {}
    ~Ieee1284Lines() override {
        ieee1284_release(port_);
        ieee1284_close(port_);
        ieee1284_free_ports(&list_);
    }
    Ieee1284Lines(const Ieee1284Lines&) = delete;
    Ieee1284Lines& operator=(const Ieee1284Lines&) = delete;

    void writeData(std::uint8_t value) override { ieee1284_write_data(port_, value); }
    // libieee1284 takes the lines' own levels, not the PC register's inverted ones.
    void writeControl(std::uint8_t value) override {
        ieee1284_write_control(port_, static_cast<unsigned char>(value ^ C1284_INVERTED));
    }
    void pause(int us) override {
        timespec wait{0, static_cast<long>(us) * 1000};
        while (clock_nanosleep(CLOCK_MONOTONIC, 0, &wait, &wait) == EINTR) {
        }
    }

private:
    parport_list list_;
    parport* port_;
};

}  // namespace

OpenedParallelPort openParallelPort(const std::string& device) {
    parport_list list{};
    if (const int error = ieee1284_find_ports(&list, 0); error != E1284_OK)
        throw std::runtime_error("--chip lpt: cannot list the parallel ports: " + reason(error));
    parport* chosen = nullptr;
    std::string wanted = device;
    if (wanted.rfind("/dev/", 0) == 0) wanted = wanted.substr(5);
    for (int i = 0; i < list.portc && chosen == nullptr; ++i) {
        parport* port = list.portv[i];
        const std::string file = port->filename != nullptr ? port->filename : "";
        if (device.empty() || wanted == port->name || device == file) chosen = port;
    }
    if (chosen == nullptr) {
        ieee1284_free_ports(&list);
        throw std::runtime_error(
            device.empty() ? "--chip lpt: this machine has no parallel port (is the parport_pc "
                             "module loaded?)"
                           : "--chip lpt: no parallel port " + device + " (ls /dev/parport*)");
    }
    const std::string name = chosen->filename != nullptr ? chosen->filename : chosen->name;
    int capabilities = 0;
    int error = ieee1284_open(chosen, F1284_EXCL, &capabilities);
    if (error == E1284_OK) {
        error = ieee1284_claim(chosen);
        if (error != E1284_OK) ieee1284_close(chosen);
    }
    if (error != E1284_OK) {
        const int saved = errno;
        std::string why = reason(error);
        if (error == E1284_SYS && saved == EACCES)
            why += "; add yourself to the lp group (sudo usermod -aG lp $USER) and log in again";
        if (error == E1284_SYS && saved == EBUSY) why += "; another program (a printer?) has it";
        ieee1284_free_ports(&list);
        throw std::runtime_error("cannot use parallel port " + name + ": " + why);
    }
    return {std::make_unique<Ieee1284Lines>(list, chosen), name};
}

}  // namespace app
