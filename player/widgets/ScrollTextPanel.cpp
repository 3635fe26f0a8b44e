#include "ScrollTextPanel.h"

#include "TickTimer.h"

#include <QBitmap>
#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Drawing a frame copies at most this many characters of a line; the full line still counts
// for the width of a horizontal pass.
constexpr int kMaxDrawnChars = 255;
// Gap in pixels between the bevels and the text area, and between the glyph and the text.
constexpr int kTextInsetPx = 3;

bool isBlank(const QString &line)
{
    return std::all_of(line.cbegin(), line.cend(), [](QChar c) { return c.unicode() <= 32; });
}

// At most kMaxDrawnChars characters, never ending inside a surrogate pair.
QString drawnPart(const QString &line)
{
    if (line.size() <= kMaxDrawnChars)
        return line;
    int length = kMaxDrawnChars;
    if (line.at(length - 1).isHighSurrogate())
        --length;
    return line.left(length);
}

// Rectangle from Windows-style edges: right and bottom lie just outside.
QRect fromEdges(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left, bottom - top);
}

// A bevel `widthPx` thick along the inside of `rect`, which then shrinks inside it.
void drawBevel(
    QPainter &painter, QRect &rect, const QColor &topLeft, const QColor &bottomRight, int widthPx)
{
    for (int i = 0; i < widthPx && rect.width() > 0 && rect.height() > 0; ++i) {
        const int l = rect.x(), t = rect.y(), r = rect.x() + rect.width(),
                  b = rect.y() + rect.height();
        painter.fillRect(fromEdges(l, t, r - 1, t + 1), topLeft);
        painter.fillRect(fromEdges(l, t, l + 1, b - 1), topLeft);
        painter.fillRect(fromEdges(r - 1, t, r, b), bottomRight);
        painter.fillRect(fromEdges(l, b - 1, r, b), bottomRight);
        rect.adjust(1, 1, -1, -1);
    }
}

// A copy of `font` sharing nothing with it, so one thread's use does not touch the other's.
QFont unsharedCopy(const QFont &font)
{
    QFont copy;
    copy.fromString(font.toString());
    return copy;
}

} // namespace

TScrollTextPanel::TScrollTextPanel(QWidget *parent)
    : QWidget(parent)
    , m_uiThread(std::this_thread::get_id())
    , m_tickTimer(std::make_unique<TTickTimer>())
{
    m_tickTimer->setEnabled(false);
    m_tickTimer->setIntervalMs(30);
    m_tickTimer->setSyncEvent(false);
    m_tickTimer->setOnTimer([this] { tick(); });

    setAccessibleName(tr("Scrolling text"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TScrollTextPanel::~TScrollTextPanel()
{
    m_destroying = true;
    setActive(false);
}

void TScrollTextPanel::setActive(bool active)
{
    if (active == m_active)
        return;
    if (active)
        activate();
    else
        deactivate();
}

void TScrollTextPanel::activate()
{
    {
        std::lock_guard lock(m_imageMutex);
        m_active = true;
        ++m_generation;
        m_scrollOffset = 0;
        computeLayoutLocked();
    }
    {
        std::lock_guard lock(m_mailboxMutex);
        m_shownFrame = QImage();
    }
    try {
        m_tickTimer->setEnabled(true);
        started();
    } catch (...) {
        {
            std::lock_guard lock(m_imageMutex);
            m_active = false;
            m_image.reset();
        }
        m_tickTimer->setEnabled(false);
        throw;
    }
    if (!m_destroying) {
        for (QObject *child : children()) {
            auto *widget = qobject_cast<QWidget *>(child);
            if (widget && !widget->isWindow() && !widget->isHidden()) {
                m_hiddenChildren.emplace_back(widget);
                widget->hide();
            }
        }
    }
    update();
}

void TScrollTextPanel::deactivate()
{
    {
        // A frame being drawn finishes first; a later tick finds the panel inactive.
        std::lock_guard lock(m_imageMutex);
        m_active = false;
        m_tickTimer->setEnabled(false);
        m_scrollOffset = 0;
        m_image.reset();
    }
    {
        std::lock_guard lock(m_mailboxMutex);
        m_shownFrame = QImage();
    }
    const QPointer<TScrollTextPanel> alive(this);
    stopped();
    if (!alive || m_destroying)
        return; // A handler of OnStopPlay destroyed the panel, or it is being destroyed.
    for (const QPointer<QWidget> &child : m_hiddenChildren) {
        if (child) {
            child->show();
            child->update();
        }
    }
    m_hiddenChildren.clear();
    update();
}

void TScrollTextPanel::endPass(std::uint64_t generation)
{
    // The pass that ended may have been stopped, and another started, before this ran.
    if (m_active && generation == m_generation)
        setActive(false);
}

void TScrollTextPanel::started()
{
    Q_EMIT OnStartPlay();
}

void TScrollTextPanel::stopped()
{
    Q_EMIT OnStopPlay();
}

void TScrollTextPanel::setAlignment(TAlignment alignment)
{
    {
        std::lock_guard lock(m_imageMutex);
        m_alignment = alignment;
    }
    if (m_active)
        update();
}

void TScrollTextPanel::setAsyncDrawing(bool asyncDrawing)
{
    m_asyncDrawing = asyncDrawing;
    m_tickTimer->setSyncEvent(!asyncDrawing);
}

void TScrollTextPanel::setGlyph(const QPixmap &glyph)
{
    m_glyph = glyph;
    if (!m_glyph.isNull() && !m_glyph.hasAlphaChannel()) {
        const QColor transparent = m_glyph.toImage().pixelColor(0, m_glyph.height() - 1);
        m_glyph.setMask(m_glyph.createMaskFromColor(transparent, Qt::MaskInColor));
    }
    relayout(false);
}

void TScrollTextPanel::setGlyphLayout(TGlyphLayout layout)
{
    m_glyphLayout = layout;
    relayout(false);
}

quint32 TScrollTextPanel::intervalMs() const
{
    return m_tickTimer->intervalMs();
}

void TScrollTextPanel::setIntervalMs(quint32 intervalMs)
{
    m_tickTimer->setIntervalMs(intervalMs);
}

void TScrollTextPanel::setLines(const QStringList &lines)
{
    {
        std::lock_guard lock(m_imageMutex);
        m_lines = lines;
    }
    setAccessibleDescription(lines.join(QLatin1Char('\n')));
    relayout(true);
}

void TScrollTextPanel::setScrollDirection(TScrollDirection direction)
{
    {
        std::lock_guard lock(m_imageMutex);
        m_direction = direction;
    }
    relayout(true);
}

void TScrollTextPanel::setTextStyle(TPanelBevel style)
{
    {
        std::lock_guard lock(m_imageMutex);
        m_textStyle = style;
    }
    relayout(false);
}

void TScrollTextPanel::setBevelOuter(TPanelBevel bevel)
{
    m_bevelOuter = bevel;
    relayout(false);
    update();
}

void TScrollTextPanel::setBevelInner(TPanelBevel bevel)
{
    m_bevelInner = bevel;
    relayout(false);
    update();
}

void TScrollTextPanel::setBevelWidth(int widthPx)
{
    m_bevelWidthPx = std::max(0, widthPx);
    relayout(false);
    update();
}

void TScrollTextPanel::setBorderWidth(int widthPx)
{
    m_borderWidthPx = std::max(0, widthPx);
    relayout(false);
    update();
}

QColor TScrollTextPanel::color() const
{
    return m_color.isValid() ? m_color : palette().color(QPalette::Button);
}

void TScrollTextPanel::setColor(const QColor &color)
{
    m_color = color;
    relayout(false);
    update();
}

void TScrollTextPanel::setOnPaintClient(TPaintClientEvent onPaintClient)
{
    std::lock_guard lock(m_imageMutex);
    m_onPaintClient = std::move(onPaintClient);
}

int TScrollTextPanel::scrollOffset() const
{
    std::lock_guard lock(m_imageMutex);
    return m_scrollOffset;
}

int TScrollTextPanel::scrollLimit() const
{
    return m_scrollLimit;
}

int TScrollTextPanel::lineHeight() const
{
    return m_lineHeightPx;
}

QRect TScrollTextPanel::textArea() const
{
    return m_textArea;
}

QRect TScrollTextPanel::paintArea() const
{
    return m_paintArea;
}

QPoint TScrollTextPanel::glyphOrigin() const
{
    return m_glyphOrigin;
}

void TScrollTextPanel::relayout(bool restartPass)
{
    if (!m_active)
        return;
    {
        std::lock_guard lock(m_imageMutex);
        if (restartPass)
            m_scrollOffset = 0;
        computeLayoutLocked();
    }
    update();
}

QPoint TScrollTextPanel::placeGlyph(
    TGlyphLayout layout, QSize glyph, int b, int &l, int &t, int &r, int &bottom)
{
    const int glyphW = glyph.width(), glyphH = glyph.height();
    int x = 0, y = 0;
    switch (layout) {
    case TGlyphLayout::glGlyphLeft:
    case TGlyphLayout::glGlyphRight:
        x = layout == TGlyphLayout::glGlyphLeft ? l : r - glyphW;
        y = std::max(t, (t + bottom - glyphH) / 2);
        break;
    case TGlyphLayout::glGlyphTop:
    case TGlyphLayout::glGlyphBottom:
        y = layout == TGlyphLayout::glGlyphTop ? t : bottom - glyphH;
        x = std::max(l, (l + r - glyphW) / 2);
        break;
    }
    if (glyphW > 0 && glyphH > 0) {
        switch (layout) {
        case TGlyphLayout::glGlyphLeft:
            x += kTextInsetPx;
            l = x + glyphW + b + kTextInsetPx;
            break;
        case TGlyphLayout::glGlyphRight:
            x = std::max(l, x - kTextInsetPx);
            r = x - (b + kTextInsetPx);
            break;
        case TGlyphLayout::glGlyphTop:
            y += kTextInsetPx;
            t = y + glyphH + b + 2 * kTextInsetPx;
            break;
        case TGlyphLayout::glGlyphBottom:
            y = std::max(t, y - kTextInsetPx);
            bottom = y - (b + 2 * kTextInsetPx);
            break;
        }
    }
    return { x, y };
}

void TScrollTextPanel::computeLayoutLocked()
{
    if (!m_image)
        m_image.emplace();

    const int count = static_cast<int>(m_lines.size());
    m_firstTextLine = count;
    for (int i = 0; i < count; ++i) {
        if (!isBlank(m_lines.at(i))) {
            m_firstTextLine = i;
            break;
        }
    }

    const QFontMetrics metrics(font());
    m_lineHeightPx
        = std::max(1, metrics.lineSpacing() + (m_textStyle != TPanelBevel::bvNone ? 1 : 0));

    const int b = m_borderWidthPx + (m_bevelOuter != TPanelBevel::bvNone ? m_bevelWidthPx : 0)
        + (m_bevelInner != TPanelBevel::bvNone ? m_bevelWidthPx : 0);
    const QRect client = rect();
    m_paintArea = client.adjusted(b, b, -b, -b);
    const int inset = b + kTextInsetPx;
    int l = client.x() + inset, t = client.y() + inset;
    int r = client.x() + client.width() - inset, bottom = client.y() + client.height() - inset;

    m_glyphOrigin = placeGlyph(m_glyphLayout, m_glyph.size(), b, l, t, r, bottom);

    if (m_direction == TScrollDirection::sdHorizontal) {
        // Centre the block from the first to the last non-blank line vertically.
        int lastTextLine = m_firstTextLine - 1;
        for (int i = count - 1; i >= m_firstTextLine; --i) {
            if (!isBlank(m_lines.at(i))) {
                lastTextLine = i;
                break;
            }
        }
        const qint64 spare
            = qint64(bottom - t) - qint64(lastTextLine - m_firstTextLine + 1) * m_lineHeightPx;
        if (spare > 0) {
            t += static_cast<int>(spare / 2);
            bottom -= static_cast<int>(spare / 2);
        }
    }
    m_textArea = (r - l > 0 && bottom - t > 0) ? fromEdges(l, t, r, bottom) : QRect(0, 0, 0, 0);

    qint64 limit = m_textArea.height() + qint64(count - m_firstTextLine) * m_lineHeightPx;
    if (m_direction == TScrollDirection::sdHorizontal) {
        int widest = 0;
        for (int i = m_firstTextLine; i < count; ++i)
            widest = std::max(widest, metrics.horizontalAdvance(m_lines.at(i)));
        limit = qint64(widest) + m_textArea.width();
    }
    m_scrollLimit = static_cast<int>(std::min<qint64>(limit, INT_MAX - 1));

    if (m_textArea.isEmpty())
        *m_image = QImage();
    else if (m_image->size() != m_textArea.size())
        *m_image = QImage(m_textArea.size(), QImage::Format_ARGB32_Premultiplied);
    m_frameFont = unsharedCopy(font());
    m_frameColor = color();
    m_frameTextColor = palette().color(QPalette::WindowText);
    m_frameHighlightColor = palette().color(QPalette::Light);
    m_rightToLeft = layoutDirection() == Qt::RightToLeft;
}

void TScrollTextPanel::tick()
{
    std::unique_lock lock(m_imageMutex);
    if (!m_active)
        return;
    if (m_scrollOffset < m_scrollLimit) {
        ++m_scrollOffset;
        composeFrameLocked();
        return;
    }
    if (m_cycled.load()) {
        m_scrollOffset = 0;
        composeFrameLocked();
        return;
    }
    const std::uint64_t generation = m_generation;
    lock.unlock();
    // The last use of this panel in the tick: once the UI thread has run the procedure the panel
    // may be gone.
    m_tickTimer->synchronize([this, generation] { endPass(generation); });
}

void TScrollTextPanel::paintBackground(QPainter &canvas, const QRect &rect)
{
    if (m_onPaintClient)
        m_onPaintClient(this, canvas, rect);
    else
        canvas.fillRect(rect, canvas.brush());
}

void TScrollTextPanel::composeFrameLocked()
{
    if (m_lines.isEmpty() || m_textArea.isEmpty() || !m_image || m_image->isNull())
        return;
    QImage &image = *m_image;
    const int width = m_textArea.width(), height = m_textArea.height();
    const int count = static_cast<int>(m_lines.size());
    {
        QPainter painter(&image);
        painter.setBrush(m_frameColor);
        painter.setPen(Qt::NoPen);
        paintBackground(painter, m_paintArea.translated(-m_textArea.topLeft()));

        int left = 0, right = width, top = 0;
        if (m_direction == TScrollDirection::sdVertical) {
            top = height - m_scrollOffset;
        } else if (!m_rightToLeft) {
            left = width - m_scrollOffset;
            right = left + m_scrollLimit - width;
        } else {
            right = m_scrollOffset;
            left = right + width - m_scrollLimit;
        }

        int flags = Qt::TextSingleLine | Qt::TextExpandTabs | Qt::TextDontClip | Qt::AlignTop;
        switch (m_alignment) {
        case TAlignment::taLeftJustify:
            flags |= Qt::AlignLeft;
            break;
        case TAlignment::taRightJustify:
            flags |= Qt::AlignRight;
            break;
        case TAlignment::taCenter:
            flags |= Qt::AlignHCenter;
            break;
        }
        painter.setLayoutDirection(m_rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        painter.setFont(m_frameFont);
        painter.setBrush(Qt::NoBrush);

        // Lines above the area cost one comparison; the first line below it ends the loop.
        for (int i = m_firstTextLine; i <= count; ++i, top += m_lineHeightPx) {
            if (top >= height)
                break;
            if (top + m_lineHeightPx <= 0)
                continue;
            const QRect lineRect = fromEdges(left, top, right, top + m_lineHeightPx);
            // One past the last line: a blank line, so the pass ends on an empty area.
            const QString text = i < count ? drawnPart(m_lines.at(i)) : QStringLiteral(" ");
            if (m_textStyle == TPanelBevel::bvLowered || m_textStyle == TPanelBevel::bvRaised) {
                const int shift = m_textStyle == TPanelBevel::bvLowered ? 1 : -1;
                painter.setPen(m_frameHighlightColor);
                painter.drawText(lineRect.translated(shift, shift), flags, text);
            }
            painter.setPen(m_frameTextColor);
            painter.drawText(lineRect, flags, text);
        }
    }

    {
        std::lock_guard lock(m_mailboxMutex);
        if (m_shownFrame.size() == image.size() && m_shownFrame.format() == image.format()
            && m_shownFrame.bytesPerLine() == image.bytesPerLine())
            std::memcpy(
                m_shownFrame.bits(), image.constBits(), static_cast<size_t>(image.sizeInBytes()));
        else
            m_shownFrame = image.copy();
        // From the worker, a frame left in a mailbox nobody has been asked to empty yet asks
        // the UI thread to show it; later frames replace it without asking again. The worker is
        // joined before this object goes, so the call always has a receiver.
        if (std::this_thread::get_id() != m_uiThread) {
            if (!std::exchange(m_framePosted, true))
                QMetaObject::invokeMethod(this, "showFrame", Qt::QueuedConnection);
            return;
        }
    }
    update(m_textArea);
}

// UI thread, after the worker left a frame in the mailbox.
void TScrollTextPanel::showFrame()
{
    {
        std::lock_guard lock(m_mailboxMutex);
        m_framePosted = false;
    }
    if (m_active)
        update(m_textArea);
}

void TScrollTextPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QRect rest = rect();
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor highlight = palette().color(QPalette::Light);
    const auto bevel = [&](TPanelBevel kind) {
        if (kind == TPanelBevel::bvNone)
            return;
        const bool lowered = kind == TPanelBevel::bvLowered;
        drawBevel(painter, rest, lowered ? shadow : highlight, lowered ? highlight : shadow,
            m_bevelWidthPx);
    };
    bevel(m_bevelOuter);
    drawBevel(painter, rest, color(), color(), m_borderWidthPx);
    bevel(m_bevelInner);

    painter.setClipRect(rest);
    painter.setBrush(color());
    painter.setPen(Qt::NoPen);
    paintBackground(painter, rest);

    if (!m_active)
        return;
    if (!m_glyph.isNull())
        painter.drawPixmap(m_glyphOrigin, m_glyph);
    std::lock_guard lock(m_mailboxMutex);
    if (!m_shownFrame.isNull() && m_shownFrame.size() == m_textArea.size())
        painter.drawImage(m_textArea.topLeft(), m_shownFrame);
}

void TScrollTextPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout(false);
}

void TScrollTextPanel::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::LayoutDirectionChange:
        relayout(false);
        break;
    default:
        break;
    }
}

bool TScrollTextPanel::event(QEvent *event)
{
    // The children were laid out again as a whole.
    if (event->type() == QEvent::LayoutRequest)
        relayout(false);
    return QWidget::event(event);
}
