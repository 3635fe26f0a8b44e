#include "PlayerState.h"

#include "TMediaPlayer.h"
#include "Trackbar95.h"
#include "TunedeckFormUnit.h"

#include <QAbstractItemModel>
#include <QAccessible>
#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kStatePanel = 1;
constexpr int kLengthPanel = 3;
constexpr int kPositionPanel = 5;

} // namespace

PlayerState::PlayerState(TTunedeckform *form)
    : QObject(form)
    , m_form(form)
{
    setObjectName(QStringLiteral("PlayerState"));
    // Connected after the window's own handlers, so a refresh sees what they did.
    for (QPushButton *button :
        { form->PlayButt, form->StopButt, form->PauseButt, form->ResButt, form->SkipButt })
        connect(button, &QPushButton::clicked, this, &PlayerState::refreshSoon);
    connect(form->LettoreMidi, &TMediaPlayer::OnNotify, this, &PlayerState::refreshSoon);
    connect(form->TimerPlay, &QTimer::timeout, this, &PlayerState::refresh);
    QAbstractItemModel *list = form->Lista->model();
    connect(list, &QAbstractItemModel::rowsInserted, this, &PlayerState::refreshSoon);
    connect(list, &QAbstractItemModel::rowsRemoved, this, &PlayerState::refreshSoon);
    connect(list, &QAbstractItemModel::modelReset, this, &PlayerState::refreshSoon);
    form->installEventFilter(this);
    m_current = read(form);
    updateAccessibleTexts(m_current);
}

PlayerSnapshot PlayerState::read(const TTunedeckform *form)
{
    PlayerSnapshot state;
    if (form->StopButt->isHidden())
        state.status = PlayerSnapshot::Status::Stopped;
    else if (!form->ResButt->isHidden())
        state.status = PlayerSnapshot::Status::Paused;
    else
        state.status = PlayerSnapshot::Status::Playing;
    TMediaPlayer *device = form->LettoreMidi;
    if (state.status != PlayerSnapshot::Status::Stopped && device->IsOpen()) {
        state.fileName = device->FileName();
        state.lengthMs = form->CurrentLength;
        state.track = device->DeviceId();
    }
    state.volume = device->Volume();
    state.listEmpty = form->Lista->count() == 0;
    state.statusText = form->StatusBar->panelText(kStatePanel);
    state.lengthText = form->StatusBar->panelText(kLengthPanel);
    state.positionText = form->StatusBar->panelText(kPositionPanel);
    state.playingText = form->FNPlay->text();
    state.title = form->windowTitle();
    return state;
}

QString PlayerState::statusName(PlayerSnapshot::Status status)
{
    switch (status) {
    case PlayerSnapshot::Status::Playing:
        return QStringLiteral("Playing");
    case PlayerSnapshot::Status::Paused:
        return QStringLiteral("Paused");
    case PlayerSnapshot::Status::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

void PlayerState::refresh()
{
    m_refreshQueued = false;
    const PlayerSnapshot now = read(m_form);
    if (now == m_current)
        return;
    const PlayerSnapshot before = std::exchange(m_current, now);
    updateAccessibleTexts(now);
    Q_EMIT changed(before, now);
}

void PlayerState::refreshSoon()
{
    if (m_refreshQueued)
        return;
    m_refreshQueued = true;
    QMetaObject::invokeMethod(this, &PlayerState::refresh, Qt::QueuedConnection);
}

bool PlayerState::eventFilter(QObject *watched, QEvent *event)
{
    // The title follows the file chosen for playing, together with the "Playing:" label.
    if (watched == m_form && event->type() == QEvent::WindowTitleChange)
        refreshSoon();
    return QObject::eventFilter(watched, event);
}

namespace {

// Gives `widget` its new accessible name and announces the change to assistive technology.
void setLiveName(QWidget *widget, const QString &name)
{
    if (widget->accessibleName() == name)
        return;
    widget->setAccessibleName(name);
    QAccessibleEvent changed(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

} // namespace

void PlayerState::updateAccessibleTexts(const PlayerSnapshot &state)
{
    TStatusBar *bar = m_form->StatusBar;
    setLiveName(bar->panel(kStatePanel), QStringLiteral("Status: ") + state.statusText);
    setLiveName(bar->panel(kLengthPanel), QStringLiteral("Length: ") + state.lengthText);
    setLiveName(bar->panel(kPositionPanel), QStringLiteral("Position: ") + state.positionText);
    setLiveName(m_form->FNPlay,
        state.playingText.isEmpty() ? QStringLiteral("Playing: nothing")
                                    : QStringLiteral("Playing: ") + state.playingText);
    setLiveName(m_form, state.title.trimmed());
}
