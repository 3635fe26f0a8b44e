#include "OrvTip.h"

#include <orvkit/orvkit.h>

#include "OrvGraphics.h"
#include "OrvOwner.h"
#include "OrvShell.h"
#include "TipFile.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStringDecoder>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvkit {

namespace {

constexpr const char *kTitle = "Tool Tips Window";
constexpr const char *kShowAtStartText = "&Show this when app starts";
constexpr const char *kCloseText = "&Close";
constexpr const char *kNextText = "&Next >>";

// The dialog is laid out in the dialog units of its 8-point "Helv" face on a 96-dpi screen,
// whose average character cell is 6 x 13 pixels: a unit is 6/4 pixel across and 13/8 pixel
// down, rounded to the nearest pixel as the window system's MulDiv rounds.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
constexpr int unitsAcross(int units)
{
    return (units * kBaseUnitX + 2) / 4;
}
constexpr int unitsDown(int units)
{
    return (units * kBaseUnitY + 4) / 8;
}
constexpr QRect unitRect(int x, int y, int width, int height)
{
    return QRect(unitsAcross(x), unitsDown(y), unitsAcross(width), unitsDown(height));
}

constexpr QSize kDialogSize(unitsAcross(260), unitsDown(136));
constexpr QRect kShowAtStartRect = unitRect(5, 115, 136, 21);
constexpr QRect kCloseRect = unitRect(203, 116, 50, 16);
constexpr QRect kNextRect = unitRect(148, 116, 50, 16);
constexpr QRect kGroupRect = unitRect(5, 1, 249, 113);
constexpr QRect kTipAreaRect = unitRect(9, 9, 241, 101);
// 8 points at 96 dpi, the size the layout above was made for.
constexpr int kDialogFontPixels = 11;

// The tip area's colours and picture.
constexpr ColorValue kLightYellow = 0xCCFFFF;
constexpr ColorValue kBlack = 0x000000;
constexpr int kTipPoints = 8;
constexpr const char *kTipFace = "Arial";
constexpr const char *kPicturePath = ":/orvkit/DYK";
// The block copied from the picture's top-left corner, larger than the 142 x 34 picture itself;
// what lies beyond the picture stays light yellow.
constexpr QRect kPictureBlock(5, 5, 149, 42);

// The tip file is read in chunks of this many bytes, so its size does not matter.
constexpr qint64 kReadChunkBytes = 64 * 1024;

// Feeds the whole file, from its beginning, to the reader until the reader has what it wants.
// A read error stops the pass where it happened, without the unfinished line.
void readThrough(QIODevice &file, TipLineReader &reader)
{
    if (!file.seek(0))
        return;
    std::vector<char> chunk(kReadChunkBytes);
    while (!reader.ended()) {
        const qint64 got = file.read(chunk.data(), kReadChunkBytes);
        if (got < 0)
            return;
        if (got == 0) {
            reader.finish();
            return;
        }
        reader.feed(std::string_view(chunk.data(), std::size_t(got)));
    }
}

// `bytes` without a UTF-8 sequence that its end cuts short: a lead byte among the last four
// that announces more bytes than follow it, and those that follow.
std::string_view withoutCutSequence(std::string_view bytes)
{
    const std::size_t size = bytes.size();
    for (std::size_t back = 1; back <= std::min<std::size_t>(4, size); ++back) {
        const auto byte = static_cast<unsigned char>(bytes[size - back]);
        if ((byte & 0xC0) == 0x80)
            continue;
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? bytes.substr(0, size - back) : bytes;
    }
    return bytes;
}

// Tip files are 8-bit text: UTF-8 when the bytes are valid UTF-8, otherwise the Windows code
// page they were written in on the maker's platform. More than kTipHeadBytes bytes mark a line
// that was cut: it is shown to kTipHeadBytes, less a UTF-8 character the cut splits.
QString decodeTip(std::string_view bytes)
{
    const bool cut = bytes.size() > std::size_t(kTipHeadBytes);
    if (cut)
        bytes = bytes.substr(0, std::size_t(kTipHeadBytes));
    const std::string_view utf8Bytes = cut ? withoutCutSequence(bytes) : bytes;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(utf8Bytes.data(), qsizetype(utf8Bytes.size())));
    if (!utf8.hasError())
        return text;
    const QByteArrayView view(bytes.data(), qsizetype(bytes.size()));
    QStringDecoder windows1252("windows-1252");
    if (windows1252.isValid())
        return windows1252(view);
    return QString::fromLatin1(view);
}

} // namespace

std::uint16_t countTips(QIODevice &file)
{
    std::uint16_t count = 0;
    TipLineReader reader(TipLineReader::Text::Drop, [&count](std::string_view) {
        ++count;
        return count == kMaxTips ? TipLineReader::Next::Stop : TipLineReader::Next::More;
    });
    readThrough(file, reader);
    return count;
}

QString readTip(QIODevice &file, std::uint16_t number)
{
    std::string text { kErrorLoadingTip };
    if (number == 0)
        return decodeTip(text);
    // One byte past the head tells decodeTip that the line was cut.
    TipLineReader reader(
        TipLineReader::Text::Keep,
        [&](std::string_view line) {
            text = line;
            return --number == 0 ? TipLineReader::Next::Stop : TipLineReader::Next::More;
        },
        std::size_t(kTipHeadBytes) + 1);
    readThrough(file, reader);
    return decodeTip(text);
}

std::uint16_t chooseFirstTip(std::uint16_t tipCount, std::uint32_t seed)
{
    const int last = std::max<int>(tipCount, 1);
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> pick(1, last);
    return static_cast<std::uint16_t>(std::min(pick(generator), last));
}

std::uint32_t timeOfDayMs()
{
    return static_cast<std::uint32_t>(
        QDateTime::currentDateTimeUtc().time().msecsSinceStartOfDay());
}

TipArea::TipArea(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("TipArea"));
    setAccessibleName(QStringLiteral("Tip"));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TipArea::setTip(const QString &tip)
{
    m_tip = tip;
    setAccessibleDescription(tip);
    update();
}

void TipArea::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor lightYellow = ResolveColor(kLightYellow);
    painter.fillRect(rect(), lightYellow);

    Canvas picture = LoadCanvas(QString::fromLatin1(kPicturePath));
    if (!picture.isNull()) {
        CopyBlock(painter, kPictureBlock.x(), kPictureBlock.y(), kPictureBlock.width(),
            kPictureBlock.height(), *picture.image(), 0, 0);
    }
    FreeCanvas(picture);

    // The tip is drawn as it stands: an '&' in it is text, not a mnemonic.
    SetContextFont(painter, kTipPoints, QString::fromLatin1(kTipFace), kBlack, 0);
    const QRect textRect(QPoint(10, 50), QPoint(width() - 20 - 1, height() - 10 - 1));
    painter.setClipRect(textRect);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_tip);
}

TipDialog::TipDialog(QWidget *owner, std::unique_ptr<QFile> file, std::uint16_t tipCount,
    std::uint16_t firstTip, bool showAtStart)
    // A tool window with a caption and a close box, and no minimise, maximise or help button.
    : QDialog(owner,
        Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
    , m_file(std::move(file))
    , m_tipCount(tipCount)
    , m_tipIndex(firstTip)
{
    setObjectName(QStringLiteral("DLG_0100"));
    setWindowTitle(QString::fromLatin1(kTitle));
    QFont font;
    font.setFamilies({ QStringLiteral("Helv"), QStringLiteral("MS Sans Serif"),
        QStringLiteral("Liberation Sans"), QStringLiteral("Arial") });
    font.setPixelSize(kDialogFontPixels);
    setFont(font);
    setFixedSize(kDialogSize);

    // Created in tab order; the group box and the tip area take no focus.
    m_showAtStart = new QCheckBox(QString::fromLatin1(kShowAtStartText), this);
    m_showAtStart->setObjectName(QStringLiteral("ShowAtStart"));
    m_showAtStart->setGeometry(kShowAtStartRect);
    m_showAtStart->setChecked(showAtStart);

    m_close = new QPushButton(QString::fromLatin1(kCloseText), this);
    m_close->setObjectName(QStringLiteral("CloseButton"));
    m_close->setGeometry(kCloseRect);
    m_close->setDefault(true);

    m_next = new QPushButton(QString::fromLatin1(kNextText), this);
    m_next->setObjectName(QStringLiteral("NextButton"));
    m_next->setGeometry(kNextRect);

    auto *group = new QGroupBox(this);
    group->setObjectName(QStringLiteral("TipGroup"));
    group->setAccessibleName(QStringLiteral("Tips"));
    group->setGeometry(kGroupRect);

    m_tipArea = new TipArea(this);
    m_tipArea->setGeometry(kTipAreaRect);
    m_tipArea->setTip(readTip(*m_file, m_tipIndex));

    connect(m_close, &QPushButton::clicked, this, &TipDialog::closeWithBoxState);
    connect(m_next, &QPushButton::clicked, this, &TipDialog::showNextTip);
    m_showAtStart->setFocus();
}

TipDialog::~TipDialog() = default;

QString TipDialog::currentTip() const
{
    return m_tipArea->tip();
}

void TipDialog::showNextTip()
{
    m_tipIndex = m_tipIndex >= m_tipCount ? 1 : m_tipIndex + 1;
    m_tipArea->setTip(readTip(*m_file, m_tipIndex));
}

void TipDialog::reject()
{
    // Escape's cancel does nothing: the dialog ends only by Close, the close box or Alt+F4.
}

void TipDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Centred on the whole primary screen, not its work area nor the owner.
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect whole = screen->geometry();
    const QRect frame = frameGeometry();
    move(whole.x() + (whole.width() - frame.width()) / 2,
        whole.y() + (whole.height() - frame.height()) / 2);
}

void TipDialog::closeEvent(QCloseEvent *event)
{
    // The close box and Alt+F4 end the dialog exactly as Close does.
    if (isVisible())
        closeWithBoxState();
    event->accept();
}

void TipDialog::closeWithBoxState()
{
    done(m_showAtStart->isChecked() ? 1 : 0);
}

std::intptr_t runTipDialog(QWidget *owner, const char *fileName, std::intptr_t showAtStart)
{
    const std::uint32_t seed = timeOfDayMs();
    if (!fileName)
        return showAtStart;
    // Opened by its bytes, which are the name whatever their encoding, and without waiting for
    // a writer. Only a regular file: a directory cannot be read, and a device or pipe might
    // never end.
    const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return showAtStart;
    struct stat status { };
    auto file = std::make_unique<QFile>();
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)
        || !file->open(
            fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return showAtStart;
    }
    const std::uint16_t tipCount = countTips(*file);
    if (tipCount == 0)
        return showAtStart;

    const bool tick = (static_cast<std::uintptr_t>(showAtStart) & 0xFFFF) != 0;
    // On the heap and guarded: destroying the owner while the dialog runs destroys the dialog.
    QPointer<TipDialog> dialog
        = new TipDialog(owner, std::move(file), tipCount, chooseFirstTip(tipCount, seed), tick);
    const int result = dialog->exec();
    delete dialog.data();
    return result != 0 ? -1 : 0;
}

} // namespace orvkit

// The exported entry point. It catches everything at the library's edge: a C caller cannot take
// a C++ exception, and the library reports no errors of its own.
extern "C" ORVKIT_EXPORT intptr_t ToolTip(
    uintptr_t parent, uintptr_t, uintptr_t, uintptr_t tipFile, intptr_t showAtStart)
{
    try {
        if (!orvkit::onWidgetThread())
            return showAtStart;
        return orvkit::runTipDialog(
            orvkit::ownerWindow(parent), reinterpret_cast<const char *>(tipFile), showAtStart);
    } catch (...) {
        return showAtStart;
    }
}
