// The two MPRIS interfaces of the window's media player, as QtDBus exports them: properties and
// methods named as the interfaces name them, each handed on to the DesktopBus.
#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "app/window/desktop_bus.h"

namespace app {

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
    QString identity() const { return bus_.identity(); }
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
    // The new position, in microseconds (unnamed, as moc names it).
    void Seeked(qlonglong);

private:
    DesktopBus& bus_;
};

}  // namespace app
