#pragma once

#include <QObject>
#include <QString>
#include <QtGlobal>

class TTunedeckform;

// The player's state as the main window shows it, read from the window's own controls (which
// of the transport buttons show, the status panels, the title) and its device. Nothing here
// keeps a state of its own: the window is the one source, and everyone outside it (the media
// keys' bus interface, assistive technology) reads it through a snapshot.
struct PlayerSnapshot {
    enum class Status { Stopped, Playing, Paused };
    Status status = Status::Stopped;
    // The file chosen for playing and its length; empty and 0 while stopped.
    QString fileName;
    qint64 lengthMs = 0;
    // Changes with every file the device opens, so the same file queued twice is two tracks.
    quint16 track = 0;
    double volume = 1.0;
    bool listEmpty = true;
    // Status panels 1, 3 and 5, the "Playing:" label's text and the window's title.
    QString statusText;
    QString lengthText;
    QString positionText;
    QString playingText;
    QString title;

    bool operator==(const PlayerSnapshot &) const = default;
};

// Watches the main window and raises changed() once after every handler that changed what it
// shows, and on the display timer's ticks; keeps the accessible names of the live texts (status
// panels, "Playing:" label, window) in step, each change announced as a name change. A child of
// the window (object name "PlayerState"); UI thread only.
class PlayerState : public QObject {
    Q_OBJECT

public:
    explicit PlayerState(TTunedeckform *form);

    static PlayerSnapshot read(const TTunedeckform *form);
    static QString statusName(PlayerSnapshot::Status status);
    const PlayerSnapshot &current() const { return m_current; }

    // Compares the window with the last snapshot now, raising changed() when they differ.
    void refresh();
    // The same after the running handler has returned; several requests make one refresh.
    void refreshSoon();

Q_SIGNALS:
    void changed(const PlayerSnapshot &before, const PlayerSnapshot &after);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateAccessibleTexts(const PlayerSnapshot &state);

    TTunedeckform *m_form;
    PlayerSnapshot m_current;
    bool m_refreshQueued = false;
};
