// setgroups/setgid/setuid, in the one order that cannot leave a privileged group behind.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/platform/privileges.h"

namespace app {

namespace {

std::optional<unsigned long> idFrom(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long id = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return id;
}

[[noreturn]] void cannot(const std::string& step) {
    throw std::runtime_error("cannot give up root (" + step + ": " + std::strerror(errno) +
                             "); not running as root for what does not need it");
}

}  // namespace

void giveUpLentRoot() {
    if (geteuid() != 0) return;
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (uid == 0) {
        // Root through sudo: the user who ran it. Without it, a root login's own root.
        const auto sudo_uid = idFrom("SUDO_UID");
        const auto sudo_gid = idFrom("SUDO_GID");
        if (!sudo_uid || *sudo_uid == 0) return;
        uid = static_cast<uid_t>(*sudo_uid);
        gid = sudo_gid ? static_cast<gid_t>(*sudo_gid) : static_cast<gid_t>(*sudo_uid);
    }
    const passwd* user = getpwuid(uid);
    // The user's own groups (audio, lp, dialout), and none of root's.
    if (user != nullptr ? initgroups(user->pw_name, gid) != 0 : setgroups(1, &gid) != 0)
        cannot("setgroups");
    if (setgid(gid) != 0) cannot("setgid");
    if (setuid(uid) != 0) cannot("setuid");
    // setuid as root changes every user id at once; were root still within reach, it was not.
    if (setuid(0) == 0) {
        errno = EPERM;
        cannot("root could be taken back");
    }
    if (user != nullptr) setenv("HOME", user->pw_dir, 1);
    // The user's sound server and session bus live in their runtime folder, which sudo does
    // not pass on.
    const std::string runtime = "/run/user/" + std::to_string(uid);
    struct stat folder {};
    if (stat(runtime.c_str(), &folder) == 0 && folder.st_uid == uid)
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    unsetenv("SUDO_UID");
    unsetenv("SUDO_GID");
}

}  // namespace app
