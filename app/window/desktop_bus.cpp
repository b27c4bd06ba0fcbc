// MPRIS and LauncherEntry for the Qt window. A call from the bus arrives through the window's
// event loop like a click, so Play during a step's wait nests a playback exactly as "Start" does.
#include "app/window/desktop_bus.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QGuiApplication>
#include <QStringList>
#include <QVariantList>
#include <QWidget>

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

// org.mpris.MediaPlayer2: who the player is.
class MprisRootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)

public:
    explicit MprisRootAdaptor(DesktopBus& bus) : QDBusAbstractAdaptor(&bus), bus_(bus) {}
    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QString::fromLatin1(kTitle); }
    QString desktopEntry() const { return bus_.desktopEntry(); }
    QStringList none() const { return {}; }

public slots:
    void Raise() { bus_.raise(); }
    // As "Sluta".
    void Quit() { bus_.stop(); }

private:
    DesktopBus& bus_;
};

// org.mpris.MediaPlayer2.Player: the two buttons, and where the playback stands. The chip's
// wait cannot pause, and one song has nothing to skip to or seek in.
class MprisPlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double Rate READ one)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(double Volume READ one)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanControl READ yes)
    Q_PROPERTY(bool CanPause READ no)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanGoNext READ no)
    Q_PROPERTY(bool CanGoPrevious READ no)

public:
    explicit MprisPlayerAdaptor(DesktopBus& bus) : QDBusAbstractAdaptor(&bus), bus_(bus) {
        connect(&bus, &DesktopBus::seeked, this, &MprisPlayerAdaptor::Seeked);
    }
    QString playbackStatus() const { return bus_.playbackStatus(); }
    QVariantMap metadata() const { return bus_.metadata(); }
    qlonglong position() const { return bus_.position(); }
    double one() const { return 1.0; }
    bool yes() const { return true; }
    bool no() const { return false; }

public slots:
    // As "Start", also during a playback: a whole playback nested in the current step.
    void Play() { bus_.play(); }
    // As "Sluta": the voices keyed off and the program ended.
    void Stop() { bus_.stop(); }
    // The keyboard's play key: starts a playback when none runs.
    void PlayPause() { bus_.playPause(); }
    void Pause() {}
    void Next() {}
    void Previous() {}
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

signals:
    void Seeked(qlonglong Position);

private:
    DesktopBus& bus_;
};

}  // namespace

std::unique_ptr<DesktopBus> DesktopBus::open(QWidget& window, QAbstractButton& play_on,
                                             QAbstractButton& exit_me,
                                             const PlaybackProgress& progress) {
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
    window_.show();
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

#include "desktop_bus.moc"
