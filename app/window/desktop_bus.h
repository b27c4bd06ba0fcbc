// The window on the session bus, where the desktop shows what it does outside the window: the
// media controls and media keys (MPRIS) and the progress on its taskbar button (LauncherEntry).
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <memory>

#include "app/playback_progress.h"

class QAbstractButton;
class QWidget;

namespace app {

class DesktopBus final : public QObject, protected QDBusContext {
    Q_OBJECT

public:
    // On the session bus as a media player whose Play and Stop press the window's buttons.
    // Null when there is no session bus: the window then plays on without it, and says nothing.
    static std::unique_ptr<DesktopBus> open(QWidget& window, QAbstractButton& play_on,
                                            QAbstractButton& exit_me,
                                            const PlaybackProgress& progress);
    ~DesktopBus() override;

    // A step started or a playback ended: tells the media controls and the taskbar button.
    void update();
    // The program ends next: takes the progress off the taskbar button and waits, briefly,
    // until everything sent has left.
    void leave();

    // What the media player's interfaces ask of the window.
    void play();
    void stop();
    void playPause();
    void raise();
    QString playbackStatus() const;
    QVariantMap metadata() const;
    qlonglong position() const { return progress_.position_us(); }
    QString identity() const;
    QString desktopEntry() const;

signals:
    // The position, in microseconds, jumped: a nested playback started, or the one it was
    // nested in resumed.
    void seeked(qlonglong);

private:
    DesktopBus(QDBusConnection connection, QWidget& window, QAbstractButton& play_on,
               QAbstractButton& exit_me, const PlaybackProgress& progress);
    // A call answered at once, before its button runs: "Start" returns only after a whole
    // playback, and "Sluta" never does.
    void answerNow();
    void launcherEntry(double progress, bool visible);

    QDBusConnection connection_;
    QString service_;
    QWidget& window_;
    QAbstractButton& play_on_;
    QAbstractButton& exit_me_;
    const PlaybackProgress& progress_;
    bool was_playing_ = false;
    int depth_ = 0;
    bool progress_shown_ = false;
};

}  // namespace app
