// Root given up as soon as nothing needs it: `sudo vesk --chip ports` needs root for ioperm
// alone, and the window, the sound and the files it writes belong to the user who asked.
#pragma once

namespace app {

// Where root was lent (sudo, or a set-uid bit), gives it back: to SUDO_UID and SUDO_GID with
// that user's groups, or to the real user, with HOME and XDG_RUNTIME_DIR made theirs, so their
// own sound server is found. What was granted while root stays (ioperm's ports). Does nothing
// without root, or with a root login's own. Raises std::runtime_error where root cannot be
// given up: nothing may then run as root that the user did not ask to.
void giveUpLentRoot();

}  // namespace app
