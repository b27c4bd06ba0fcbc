// The one way a quit signal reaches the window object, whichever front end pumps the events.
#include "app/shell.h"

#include "app/platform/quit_signals.h"

namespace app {

bool Shell::actOnQuitSignal(const std::function<void()>& sluta) {
    const int signal_number = pendingQuitSignal();
    if (signal_number == 0) return false;
    clearQuitSignal();
    exit_status_ = 128 + signal_number;
    sluta();
    return true;
}

}  // namespace app
