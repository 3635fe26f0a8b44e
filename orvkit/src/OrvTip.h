#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class QCheckBox;
class QFile;
class QIODevice;
class QPushButton;

// The tip dialog: one tip of a text file of tips, under a small picture, with "&Next >>" to step
// through the tips in file order and a "&Show this when app starts" box whose state the caller
// passes in and gets back. Each call starts afresh; nothing is kept between calls. GUI thread
// only: the dialog is modal and runs on the caller's thread.
namespace orvkit {

// The most bytes of a tip line that are kept and shown. Lines may be of any length, but a few
// KiB already fill the tip area many times over, and a longer text would only cost memory and
// drawing time.
inline constexpr qsizetype kTipHeadBytes = 4096;

// Lines of the tip file (see TipFile.h), counted to its end or to kMaxTips, whichever comes
// first. A read error ends the count where it happened.
std::uint16_t countTips(QIODevice &file);

// Line `number` (1-based) of the tip file, read afresh from its beginning: that line, the last
// line read when the file now has fewer, or "Error loading tip" for 0 or an empty file. Only the
// line's first kTipHeadBytes bytes are read into memory and shown.
QString readTip(QIODevice &file, std::uint16_t number);

// The tip a dialog opens on: uniform over 1 to tipCount (at least 1) from a generator seeded
// with `seed`; the same seed gives the same tip.
std::uint16_t chooseFirstTip(std::uint16_t tipCount, std::uint32_t seed);

// Milliseconds since midnight, UTC: each dialog's seed for its first choice.
std::uint32_t timeOfDayMs();

// The tip area: the picture on light yellow with the current tip below it, word-wrapped and
// clipped. It takes no focus and does nothing when clicked; screen readers get the tip as its
// description.
class TipArea final : public QWidget {
    Q_OBJECT

public:
    explicit TipArea(QWidget *parent);
    QString tip() const { return m_tip; }
    void setTip(const QString &tip);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_tip;
};

// "Tool Tips Window". It reads its tips from `file`, which it keeps open until it is destroyed.
// It ends by "&Close", the close box or Alt+F4, with 1 when the check box is ticked and 0 when
// not; Escape does nothing.
class TipDialog final : public QDialog {
    Q_OBJECT

public:
    TipDialog(QWidget *owner, std::unique_ptr<QFile> file, std::uint16_t tipCount,
        std::uint16_t firstTip, bool showAtStart);
    ~TipDialog() override;

    std::uint16_t tipIndex() const { return m_tipIndex; }
    QString currentTip() const;

    // "&Next >>": the following tip in file order, after the last the first, read from the
    // file's content as it is now.
    void showNextTip();

    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void closeWithBoxState();

    std::unique_ptr<QFile> m_file;
    std::uint16_t m_tipCount = 0;
    std::uint16_t m_tipIndex = 0;
    QCheckBox *m_showAtStart = nullptr;
    QPushButton *m_close = nullptr;
    QPushButton *m_next = nullptr;
    TipArea *m_tipArea = nullptr;
};

// Shows the dialog for the tip file `fileName` (8-bit, local encoding; null for none) owned by
// `owner`, and waits until it closes. Returns -1 when the check box was ticked at the end and 0
// when not; returns showAtStart unchanged when no dialog is shown (no name, a file that cannot
// be opened or is not a regular file, or a file without lines). Only the low 16 bits of
// showAtStart tick the box.
std::intptr_t runTipDialog(QWidget *owner, const char *fileName, std::intptr_t showAtStart);

} // namespace orvkit
