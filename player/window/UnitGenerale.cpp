#include "UnitGenerale.h"

#include "FileNames.h"
#include "MenuButtonAccessible.h"
#include "MessageBoxes.h"
#include "Player.h"
#include "TMediaPlayer.h"
#include "Texts.h"
#include "Trackbar95.h"
#include "TunedeckApplication.h"
#include "TunedeckFormUnit.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <sys/stat.h>

namespace texts = tunedeck::texts;
using tunedeck::MessageKind;
using tunedeck::showMessage;

// Marks the position bar's changes as the program's own for as long as it lives, so that
// PosBarChange does not take them for the user's (they must never seek).
class PosBarQuietScope {
public:
    explicit PosBarQuietScope(TTunedeckform *form)
        : m_form(form)
        , m_wasQuiet(form->m_posBarQuiet)
    {
        m_form->m_posBarQuiet = true;
    }
    ~PosBarQuietScope() { m_form->m_posBarQuiet = m_wasQuiet; }
    PosBarQuietScope(const PosBarQuietScope &) = delete;
    PosBarQuietScope &operator=(const PosBarQuietScope &) = delete;

private:
    TTunedeckform *m_form;
    bool m_wasQuiet;
};

// The window's side of the player interface: reads the window's controls and device, and runs
// its handlers.
class WindowPlayer final : public tunedeck::Player {
public:
    explicit WindowPlayer(TTunedeckform *form)
        : Player(form)
        , m_form(form)
    {
        setObjectName(QStringLiteral("Player"));
    }

    State state() const override { return m_state; }
    QString entry() const override
    {
        return isOpen() ? m_form->LettoreMidi->FileName() : QString();
    }
    quint16 entryNumber() const override { return isOpen() ? m_form->LettoreMidi->DeviceId() : 0; }
    qint64 positionMs() const override { return isOpen() ? m_form->LettoreMidi->GetPosition() : 0; }
    qint64 lengthMs() const override { return isOpen() ? m_form->CurrentLength : 0; }
    tunedeck::SongText text() const override
    {
        return isOpen() ? m_form->LettoreMidi->Text() : tunedeck::SongText {};
    }
    double volume() const override { return m_form->LettoreMidi->Volume(); }
    qsizetype listSize() const override { return m_form->Lista->count(); }

    void play() override { m_form->PlayButtClick(); }
    void pause() override { m_form->PauseButtClick(); }
    void resume() override { m_form->ResButtClick(); }
    void stop() override { m_form->StopButtClick(); }
    void skip() override { m_form->SkipButtClick(); }
    void prepare() override
    {
        m_form->LettoreMidi->Prepare();
        m_form->readNextAhead(); // entries queued before the device was there
    }
    void seek(qint64 positionMs) override
    {
        // Exactly where asked: the bar's rule against small moves is the bar's own. The bar
        // then shows the new place.
        m_form->SeekTo(static_cast<quint32>(std::clamp<qint64>(positionMs, 0, UINT32_MAX)));
        m_form->TimerPlayTimer();
    }
    void setVolume(double volume) override
    {
        if (!std::isfinite(volume))
            return;
        m_form->LettoreMidi->SetVolume(std::clamp(volume, 0.0, 1.0));
        Q_EMIT volumeChanged();
    }
    double rate() const override { return m_form->LettoreMidi->Rate(); }
    bool loopTrack() const override { return m_form->LettoreMidi->Repeat(); }
    void setRate(double rate) override
    {
        if (!std::isfinite(rate))
            return;
        const double before = this->rate();
        m_form->LettoreMidi->SetRate(rate);
        if (this->rate() != before)
            Q_EMIT rateOrLoopChanged();
    }
    void setLoopTrack(bool loop) override
    {
        if (loop == loopTrack())
            return;
        m_form->LettoreMidi->SetRepeat(loop);
        Q_EMIT rateOrLoopChanged();
    }
    void append(const tunedeck::PathList &entries) override { m_form->appendEntries(entries); }
    void raise() override
    {
        m_form->showNormal();
        m_form->raise();
        m_form->activateWindow();
    }
    void quit() override { m_form->Exit1Click(); }

    // Called after the transport buttons change: stopped is the look with Stop hidden, paused
    // the one with Resume showing.
    void transportShown()
    {
        const State now = m_form->StopButt->isHidden() ? State::Stopped
            : m_form->ResButt->isHidden()              ? State::Playing
                                                       : State::Paused;
        if (std::exchange(m_state, now) != now)
            Q_EMIT stateChanged();
        // A button the one over it covers (Play under Stop, Pause under Resume) keeps its
        // accelerator but leaves the Tab order, where it would take the focus unseen; a focus it
        // had goes to the button the user sees there.
        for (const auto &[under, over] : { std::pair { m_form->PlayButt, m_form->StopButt },
                 std::pair { m_form->PauseButt, m_form->ResButt } }) {
            const bool covered = !over->isHidden();
            setCovered(under, covered);
            under->setFocusPolicy(covered ? Qt::NoFocus : over->focusPolicy());
            if (covered && under->hasFocus())
                over->setFocus(Qt::OtherFocusReason);
        }
        // The display follows a song while one plays or is paused; once stopped, its next tick
        // clears the display and ends it, so nothing wakes the program at rest.
        if (now != State::Stopped && !m_form->TimerPlay->isActive())
            m_form->TimerPlay->start();
    }
    void entryShown() { Q_EMIT entryChanged(); }
    void seekDone(qint64 positionMs)
    {
        m_shownMs = positionMs;
        Q_EMIT seeked(positionMs);
    }
    // Called when the display timer moves the bar: a repeating entry that went back to its
    // start by itself is announced as a seek there.
    void barShown()
    {
        const quint16 number = entryNumber();
        const qint64 position = positionMs();
        const bool wrapped = number != 0 && number == m_shownEntry && position < m_shownMs
            && loopTrack() && m_state == State::Playing;
        m_shownEntry = number;
        m_shownMs = position;
        if (wrapped)
            Q_EMIT seeked(position);
    }

private:
    bool isOpen() const { return m_state != State::Stopped && m_form->LettoreMidi->IsOpen(); }

    TTunedeckform *m_form;
    State m_state = State::Stopped;
    quint16 m_shownEntry = 0;
    qint64 m_shownMs = 0;
};

namespace {

WindowPlayer *playerOf(TTunedeckform *form)
{
    return static_cast<WindowPlayer *>(form->player());
}

// Playback state changes and the files started, for automation (off unless enabled with
// QT_LOGGING_RULES="tunedeck.sequencer.debug=true").
Q_LOGGING_CATEGORY(lcSequencer, "tunedeck.sequencer", QtWarningMsg)

// Status panels the sequencer writes.
constexpr int kStatePanel = 1;
constexpr int kLengthPanel = 3;
constexpr int kPositionPanel = 5;

// Within this many seconds of the playing position a move of the bar is not worth a seek: one
// arrow-key step or one page step must not restart the sound.
constexpr int kSeekToleranceSeconds = 3;

QString twoDigits(qint64 number)
{
    return QString::number(number).rightJustified(2, u'0');
}

// Removes leading and trailing blanks and control characters (everything up to U+0020).
QString trimBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= u' ')
        ++first;
    while (last > first && text.at(last - 1).unicode() <= u' ')
        --last;
    return text.mid(first, last - first);
}

// Hides a transport button that covers another (Stop over Play, Resume over Pause). A focus it
// had goes first to the one under it, the button the user then sees at that place; hidden with
// the focus, it would pass the focus on along the Tab order (to Skip).
void uncover(QPushButton *over, QPushButton *under)
{
    if (over->hasFocus()) {
        under->setFocusPolicy(over->focusPolicy());
        under->setFocus(Qt::OtherFocusReason);
    }
    over->hide();
}

void setState(TTunedeckform *form, const QString &state)
{
    if (form->StatusBar->panelText(kStatePanel) != state)
        qCDebug(lcSequencer, "status %s", qUtf8Printable(state));
    form->StatusBar->setPanelText(kStatePanel, state);
}

} // namespace

QString FormatTime(qint64 ms)
{
    if (ms < 0)
        ms = 0;
    const qint64 minutes = ms / 60000;
    const qint64 seconds = (ms / 1000) % 60;
    return twoDigits(minutes) + u':' + twoDigits(seconds);
}

void ShowPlayingTitle(const QString &name)
{
    TTunedeckform *form = Tunedeckform;
    if (!form)
        return;
    // A name with a line break (which only this system's names can hold) stays on one line, in
    // the label as in the title bar.
    QString shown = tunedeck::pathTail(name);
    shown.replace(u'\n', u' ').replace(u'\r', u' ');
    form->FNPlay->setText(shown);
    form->FNPlay->adjustSize();
    tunedeck::setLiveName(form->FNPlay,
        shown.isEmpty() ? QStringLiteral("Playing: nothing") : QStringLiteral("Playing: ") + shown);
    if (!trimBlanks(name).isEmpty())
        TunedeckApplication::setTitle(QStringLiteral("Tunedeck [") + shown + u']');
    else
        TunedeckApplication::setTitle(texts::kApplicationTitle);
}

void ShowStopped()
{
    TTunedeckform *form = Tunedeckform;
    if (!form)
        return;
    uncover(form->StopButt, form->PlayButt);
    uncover(form->ResButt, form->PauseButt);
    playerOf(form)->transportShown();
    form->repaint();
    setState(form, texts::kStatusStopped);
    ShowPlayingTitle(QString());
}

void StopPlayback()
{
    TTunedeckform *form = Tunedeckform;
    if (!form)
        return;
    ShowStopped();
    // A restart still pending from a seek would play a file that is no longer open.
    form->ResTimer->stop();
    // Stopping needs an open file; with none (the first entry was missing, say) there is
    // nothing to stop and nothing to report.
    if (form->LettoreMidi->IsOpen()) {
        form->LettoreMidi->Stop();
        form->LettoreMidi->Close();
    }
    form->LettoreMidi->setFileName(QString());
    playerOf(form)->entryShown();
}

namespace {

// Whether `name` is a regular file, found by the name's own bytes: QFileInfo would look for the
// UTF-8 form of a name that is not UTF-8 and not find it.
bool isRegularFile(const QString &name)
{
    struct stat info { };
    return ::stat(tunedeck::fileNameToBytes(name).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

// The missing-soundfont box's text for the engine's account of what it looked for.
QString soundfontProblemText(const QString &lookedFor)
{
    QString text = texts::kNoSoundfont;
    if (!lookedFor.isEmpty())
        text += texts::kLineBreak + lookedFor.left(1).toUpper() + lookedFor.mid(1) + u'.';
    return text + texts::kLineBreak + texts::kSoundfontAdvice;
}

} // namespace

void PlayNextEntry()
{
    TTunedeckform *form = Tunedeckform;
    if (!form)
        return;
    // A song that cannot play for want of a soundfont is passed over, so the entries after it
    // (wave files need none) still play.
    for (;;) {
        if (form->Lista->count() == 0) {
            StopPlayback();
            return;
        }
        const QString name = form->takeFirstEntry();
        ShowPlayingTitle(name);

        if (!isRegularFile(name)) {
            showMessage(
                MessageKind::Information, texts::kUnableToPlayFile + texts::kLineBreak + name);
            StopPlayback();
            return;
        }

        TMediaPlayer *device = form->LettoreMidi;
        qCDebug(lcSequencer, "start %s", qUtf8Printable(name));
        device->setFileName(name);
        try {
            device->Open();
        } catch (const EMCIDeviceError &) {
            form->ResTimer->stop();
            const quint32 code = device->LastError();
            if (code == TMediaPlayer::rcNoSoundfont) {
                qCDebug(lcSequencer, "no soundfont for %s", qUtf8Printable(name));
                const QString problem = device->ErrorDetail();
                if (problem != form->SoundfontProblemShown) {
                    form->SoundfontProblemShown = problem;
                    showMessage(MessageKind::Error, soundfontProblemText(problem));
                }
                continue;
            }
            ShowStopped();
            if (code == TMediaPlayer::rcNoOutput) {
                setState(form, texts::kStatusNoSound);
                showMessage(MessageKind::Error,
                    texts::kUnableToPlayFile + texts::kLineBreak + name + texts::kLineBreak
                        + device->ErrorReason());
            } else {
                showMessage(MessageKind::Error, texts::kUnknowFormat + texts::kLineBreak + name);
            }
            return;
        }
        break;
    }
    TMediaPlayer *device = form->LettoreMidi;
    device->SetMillisecondFormat();
    form->CurrentLength = qint64(device->GetLength());
    qCDebug(lcSequencer, "length %lld ms", qlonglong(form->CurrentLength));
    playerOf(form)->entryShown();
    try {
        device->Play(TMediaPlayer::Notice::Requested);
    } catch (const EMCIDeviceError &) {
        ShowStopped();
        showMessage(
            MessageKind::Error, texts::kUnableToPlayAudio + texts::kLineBreak + device->FileName());
        return;
    }
}

void SkipEntry()
{
    TTunedeckform *form = Tunedeckform;
    if (!form || playerOf(form)->state() == tunedeck::Player::State::Stopped)
        return;
    if (playerOf(form)->state() == tunedeck::Player::State::Paused) {
        uncover(form->ResButt, form->PauseButt);
        playerOf(form)->transportShown();
        setState(form, texts::kStatusPlaying);
    }
    if (form->LettoreMidi->IsOpen())
        form->LettoreMidi->Stop();
    PlayNextEntry();
}

void ResetPosBar()
{
    TTunedeckform *form = Tunedeckform;
    if (!form)
        return;
    PosBarQuietScope quiet(form);
    form->PosBar->setMaximum(10);
    form->PosBar->setValue(0);
    if (form->PosBar->isEnabled())
        form->PosBar->setEnabled(false);
}

void TTunedeckform::PlayButtClick()
{
    if (Lista->count() == 0) {
        showMessage(MessageKind::Warning, texts::kNoMidiToPlay);
        return;
    }
    setState(this, texts::kStatusPlaying);
    StopButt->show();
    m_player->transportShown();
    repaint();
    PlayNextEntry();
    repaint();
}

void TTunedeckform::StopButtClick()
{
    StopPlayback();
}

void TTunedeckform::PauseButtClick()
{
    if (m_player->state() == tunedeck::Player::State::Stopped)
        return;
    setState(this, texts::kStatusPaused);
    LettoreMidi->Pause();
    ResButt->show();
    m_player->transportShown();
}

void TTunedeckform::ResButtClick()
{
    setState(this, texts::kStatusPlaying);
    // Without a notice of its own: the one the file's first Play asked for is still pending and
    // reports the end.
    LettoreMidi->Play(TMediaPlayer::Notice::None);
    uncover(ResButt, PauseButt);
    m_player->transportShown();
}

void TTunedeckform::SkipButtClick()
{
    SkipEntry();
}

void TTunedeckform::LettoreMidiNotify()
{
    repaint();
    switch (LettoreMidi->NotifyResult()) {
    case TMediaPlayer::TMPNotifyValues::nvSuccessful:
        PlayNextEntry();
        break;
    case TMediaPlayer::TMPNotifyValues::nvFailure: {
        // Stopped as after any failure. When the sound output is gone the window says so; a
        // file found faulty while it was read or played gets the box a failed open gives.
        const quint32 code = LettoreMidi->LastError();
        if (code == TMediaPlayer::rcNoSoundfont) {
            // The soundfont found could not be loaded for the song: said once, as when none is
            // found at its open, and the song is passed over.
            const QString problem = LettoreMidi->ErrorDetail();
            if (problem != SoundfontProblemShown) {
                SoundfontProblemShown = problem;
                showMessage(MessageKind::Error, soundfontProblemText(problem));
            }
            PlayNextEntry();
            break;
        }
        const QString name = LettoreMidi->FileName();
        const QString reason = LettoreMidi->ErrorReason();
        StopPlayback();
        qCDebug(lcSequencer, "failure %s", qUtf8Printable(reason));
        if (code == TMediaPlayer::rcOutputLost || code == TMediaPlayer::rcNoOutput) {
            setState(this, texts::kStatusNoSound);
            showMessage(MessageKind::Error,
                texts::kPlayingStopped + texts::kLineBreak + name + texts::kLineBreak + reason);
        } else if (code != TMediaPlayer::rcSynthFailed) {
            showMessage(MessageKind::Error, texts::kUnknowFormat + texts::kLineBreak + name);
        }
        break;
    }
    case TMediaPlayer::TMPNotifyValues::nvSuperseded:
    case TMediaPlayer::TMPNotifyValues::nvAborted:
        break;
    }
}

void TTunedeckform::TimerPlayTimer()
{
    // A file whose opening failed is not shown: its name is kept, but nothing is open.
    if (LettoreMidi->FileName().isEmpty() || !LettoreMidi->IsOpen()) {
        ResetPosBar();
        StatusBar->setPanelText(kLengthPanel, texts::kZeroTime);
        StatusBar->setPanelText(kPositionPanel, texts::kZeroTime);
        if (m_player->state() == tunedeck::Player::State::Stopped)
            TimerPlay->stop();
        return;
    }
    // A large song's length is known only once it has been read, after it was opened.
    if (CurrentLength == 0) {
        CurrentLength = qint64(LettoreMidi->GetLength());
        if (CurrentLength != 0)
            m_player->entryShown();
    }
    m_player->barShown();
    const auto positionMs = qint64(LettoreMidi->GetPosition());
    const auto lengthSeconds = static_cast<qint32>(CurrentLength / 1000);
    const auto positionSeconds = static_cast<qint32>(positionMs / 1000);
    StatusBar->setPanelText(kLengthPanel, FormatTime(CurrentLength));
    StatusBar->setPanelText(kPositionPanel, FormatTime(positionMs));
    if (lengthSeconds <= 0) {
        ResetPosBar();
        return;
    }
    PosBarQuietScope quiet(this);
    if (!PosBar->isEnabled())
        PosBar->setEnabled(true);
    if (PosBar->maximum() != lengthSeconds)
        PosBar->setMaximum(lengthSeconds);
    if (PosBar->value() != positionSeconds)
        PosBar->setValue(positionSeconds);
}

void TTunedeckform::PosBarChange()
{
    // Seeking needs an open file; after a failed open there is none to move in.
    if (!LettoreMidi->IsOpen())
        return;
    const auto positionSeconds = static_cast<qint32>(LettoreMidi->GetPosition() / 1000);
    if (std::abs(positionSeconds - PosBar->value()) <= kSeekToleranceSeconds)
        return;
    SeekTo(static_cast<quint32>(PosBar->value()) * 1000);
}

void TTunedeckform::SeekTo(quint32 positionMs)
{
    if (!LettoreMidi->IsOpen())
        return;
    ResTimer->stop();
    LettoreMidi->Seek(positionMs);
    const qint64 reachedMs = LettoreMidi->GetPosition();
    StatusBar->setPanelText(kPositionPanel, FormatTime(reachedMs));
    ResTimer->start();
    m_player->seekDone(reachedMs);
}

void TTunedeckform::ResTimerTimer()
{
    ResTimer->stop();
    // While paused a seek only moves the position; Resume plays from there.
    if (m_player->state() != tunedeck::Player::State::Paused && LettoreMidi->IsOpen())
        LettoreMidi->Play(TMediaPlayer::Notice::Requested);
}

tunedeck::Player *TTunedeckform::player() const
{
    return m_player;
}

void TTunedeckform::createPlayer()
{
    m_player = new WindowPlayer(this);
    QAbstractItemModel *list = Lista->model();
    for (auto change : { &QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved })
        connect(list, change, m_player, &tunedeck::Player::listChanged);
    connect(list, &QAbstractItemModel::modelReset, m_player, &tunedeck::Player::listChanged);
    // Queued: the list and the paths beside it change one after the other.
    connect(m_player, &tunedeck::Player::listChanged, this, &TTunedeckform::readNextAhead,
        Qt::QueuedConnection);
}

void TTunedeckform::readNextAhead()
{
    // Read while the window waits for Play or while a song plays, so it starts without a pause.
    LettoreMidi->Prefetch(PlayListPaths.value(0));
}

void TTunedeckform::appendEntries(const tunedeck::PathList &entries)
{
    QStringList shown;
    shown.reserve(entries.size());
    PlayListPaths.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i) {
        PlayListPaths.appendBytes(entries.bytesAt(i));
        shown.append(entries.displayNameAt(i));
    }
    Lista->addItems(shown);
}

QString TTunedeckform::takeFirstEntry()
{
    const QString name = PlayListPaths.value(0);
    delete Lista->takeItem(0);
    if (!PlayListPaths.isEmpty())
        PlayListPaths.removeFirst();
    return name;
}
