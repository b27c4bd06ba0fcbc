// MPRIS and LauncherEntry for the Qt window. A call from the bus arrives through the window's
// event loop like a click, so Play during a step's wait nests a playback exactly as "Start" does.
#include "app/window/desktop_bus.h"

#include <sys/stat.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QGuiApplication>
#include <QStringList>
#include <QWidget>
#include <cstdlib>
#include <string>

#include "app/window/mpris_adaptors.h"

namespace app {

namespace {

constexpr char kMprisPath[] = "/org/mpris/MediaPlayer2";
constexpr char kMprisService[] = "org.mpris.MediaPlayer2.vesk";
constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
// The stored song is the one track there is.
constexpr char kTrackPath[] = "/io/github/vesk/tune";
constexpr char kTitle[] = "Vesk";
// Docks and task managers match the signal to a launcher by the desktop file's id.
constexpr char kLauncherPath[] = "/io/github/vesk";
constexpr char kLauncherInterface[] = "com.canonical.Unity.LauncherEntry";
// How long the program's end waits for the bus to take what was sent; a stalled bus must not
// keep the program from ending.
constexpr int kLeaveTimeout_ms = 500;

// The session bus is named by the environment, or is the user's bus in the runtime folder
// (systemd and dbus-broker put it there).
bool sessionBusNamed() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') return false;
    struct stat info {};
    return ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

}  // namespace

std::unique_ptr<DesktopBus> DesktopBus::open(QWidget& window, QAbstractButton& play_on,
                                             QAbstractButton& exit_me,
                                             const PlaybackProgress& progress) {
    // Without an address, libdbus would look for the user's bus in the runtime folder and then
    // autolaunch one through the X server, which starts a daemon the desktop never asked for and
    // can hold start-up for as long as dbus-launch takes. A session with no bus has no MPRIS.
    if (!sessionBusNamed()) return nullptr;
    QDBusConnection connection = QDBusConnection::sessionBus();
    if (!connection.isConnected()) return nullptr;
    std::unique_ptr<DesktopBus> bus(new DesktopBus(connection, window, play_on, exit_me, progress));
    if (!connection.registerObject(QString::fromLatin1(kMprisPath), bus.get(),
                                   QDBusConnection::ExportAdaptors))
        return nullptr;
    // A second instance takes a name of its own, as the MPRIS convention has it.
    for (const QString& name :
         {QString::fromLatin1(kMprisService), QStringLiteral("%1.instance%2")
                                                  .arg(QString::fromLatin1(kMprisService))
                                                  .arg(QCoreApplication::applicationPid())}) {
        if (connection.registerService(name)) {
            bus->service_ = name;
            return bus;
        }
    }
    return nullptr;
}

DesktopBus::DesktopBus(QDBusConnection connection, QWidget& window, QAbstractButton& play_on,
                       QAbstractButton& exit_me, const PlaybackProgress& progress)
    : connection_(std::move(connection)),
      window_(window),
      play_on_(play_on),
      exit_me_(exit_me),
      progress_(progress) {
    new MprisRootAdaptor(*this);
    new MprisPlayerAdaptor(*this);
}

DesktopBus::~DesktopBus() {
    if (!service_.isEmpty()) connection_.unregisterService(service_);
    connection_.unregisterObject(QString::fromLatin1(kMprisPath));
}

void DesktopBus::update() {
    const bool playing = progress_.playing();
    if (playing != was_playing_) {
        was_playing_ = playing;
        // org.freedesktop.DBus.Properties.PropertiesChanged: the interface, what changed, and
        // nothing invalidated.
        QDBusMessage changed = QDBusMessage::createSignal(
            QString::fromLatin1(kMprisPath), QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"));
        changed << QString::fromLatin1(kPlayerInterface)
                << QVariantMap{{QStringLiteral("PlaybackStatus"), playbackStatus()}}
                << QStringList();
        connection_.send(changed);
    }
    // A nested playback starts from 0; the one below it resumes where it stood.
    if (progress_.depth() != depth_) {
        if (playing && depth_ != 0) emit seeked(position());
        depth_ = progress_.depth();
    }
    launcherEntry(progress_.fraction(), playing);
}

void DesktopBus::leave() {
    if (progress_shown_) launcherEntry(0, false);
    // What is sent leaves through the bus's own thread, in order: once the bus has answered a
    // call made after it, all of it has gone.
    connection_.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("GetId")),
                     QDBus::Block, kLeaveTimeout_ms);
}

void DesktopBus::answerNow() {
    if (!calledFromDBus()) return;
    setDelayedReply(true);
    connection().send(message().createReply());
}

void DesktopBus::play() {
    answerNow();
    play_on_.click();
}

void DesktopBus::stop() {
    answerNow();
    exit_me_.click();
}

void DesktopBus::playPause() {
    if (progress_.playing()) {
        sendErrorReply(QDBusError::NotSupported, QStringLiteral("Vesk cannot pause"));
        return;
    }
    play();
}

void DesktopBus::raise() {
    window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
    window_.raise();
    window_.activateWindow();
}

QString DesktopBus::playbackStatus() const {
    return progress_.playing() ? QStringLiteral("Playing") : QStringLiteral("Stopped");
}

QVariantMap DesktopBus::metadata() const {
    return {
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kTrackPath)))},
        {QStringLiteral("mpris:length"),
         QVariant::fromValue(PlaybackProgress::playbackLength_us())},
        {QStringLiteral("xesam:title"), QString::fromLatin1(kTitle)},
    };
}

QString DesktopBus::identity() const { return QString::fromLatin1(kTitle); }

QString DesktopBus::desktopEntry() const { return QGuiApplication::desktopFileName(); }

void DesktopBus::launcherEntry(double progress, bool visible) {
    if (!visible && !progress_shown_) return;
    progress_shown_ = visible;
    QDBusMessage update = QDBusMessage::createSignal(QString::fromLatin1(kLauncherPath),
                                                     QString::fromLatin1(kLauncherInterface),
                                                     QStringLiteral("Update"));
    update << QStringLiteral("application://%1.desktop").arg(desktopEntry())
           << QVariantMap{{QStringLiteral("progress"), progress},
                          {QStringLiteral("progress-visible"), visible}};
    connection_.send(update);
}

}  // namespace app
