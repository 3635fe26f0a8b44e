#include "GradientCaption.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QShortcut>
#include <QStyle>
#include <QWindow>

#include <algorithm>
#include <cstdint>

namespace {

constexpr int kSmallIconSize = 16;
// Qt has no caption roles for inactive windows; these are the classic desktop's values.
const QColor kInactiveCaptionEnd(192, 192, 192);
const QColor kInactiveCaptionText(192, 192, 192);
const QString kEllipsis = QStringLiteral("...");

// a * b / c rounded to the nearest integer, halves away from zero.
int mulDiv(int a, int b, int c)
{
    const std::int64_t product = static_cast<std::int64_t>(a) * b;
    const bool negative = (product < 0) != (c < 0);
    return static_cast<int>(negative ? (product - c / 2) / c : (product + c / 2) / c);
}

QColor activeCaptionEnd(const QWidget *form)
{
    return form->palette().color(QPalette::Active, QPalette::Highlight);
}

QColor activeCaptionText(const QWidget *form)
{
    return form->palette().color(QPalette::Active, QPalette::HighlightedText);
}

int textWidth(const QString &text, const QFont &font)
{
    return QFontMetrics(font).horizontalAdvance(text);
}

} // namespace

// One of the three boxes at the right end of the strip.
class CaptionButton : public QAbstractButton {
public:
    enum class Kind { Minimise, Maximise, Close };

    CaptionButton(Kind kind, QWidget *parent)
        : QAbstractButton(parent)
        , m_kind(kind)
    {
        static const char *const kNames[] = { "Minimise", "Maximise", "Close" };
        const QString name = QString::fromLatin1(kNames[static_cast<int>(kind)]);
        setObjectName(QStringLiteral("Caption") + name + QStringLiteral("Button"));
        setAccessibleName(name);
        setToolTip(name);
        setFocusPolicy(Qt::NoFocus); // As on every title bar: Alt+Space reaches the same commands.
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const QPalette &pal = palette();
        QRect box = rect().adjusted(1, 2, -1, -2);
        painter.fillRect(box, pal.color(QPalette::Button));
        const bool sunken = isDown();
        const QColor light = pal.color(QPalette::Light);
        const QColor dark = pal.color(QPalette::Dark);
        const QColor shadow = pal.color(QPalette::Shadow);
        painter.setPen(sunken ? shadow : light);
        painter.drawLine(box.topLeft(), box.topRight());
        painter.drawLine(box.topLeft(), box.bottomLeft());
        painter.setPen(sunken ? light : shadow);
        painter.drawLine(box.bottomLeft(), box.bottomRight());
        painter.drawLine(box.topRight(), box.bottomRight());
        painter.setPen(dark);
        painter.drawLine(box.bottomLeft() + QPoint(1, -1), box.bottomRight() + QPoint(-1, -1));
        painter.drawLine(box.topRight() + QPoint(-1, 1), box.bottomRight() + QPoint(-1, -1));

        const QColor glyph = isEnabled() ? pal.color(QPalette::ButtonText) : dark;
        const QRect g = box.adjusted(4, 3, -5, -4).translated(sunken ? 1 : 0, sunken ? 1 : 0);
        painter.setPen(QPen(glyph, 2));
        switch (m_kind) {
        case Kind::Minimise:
            painter.drawLine(g.left(), g.bottom(), g.left() + g.width() * 2 / 3, g.bottom());
            break;
        case Kind::Maximise:
            painter.setPen(QPen(glyph, 1));
            painter.drawRect(g);
            painter.drawLine(g.topLeft() + QPoint(0, 1), g.topRight() + QPoint(0, 1));
            break;
        case Kind::Close:
            painter.setRenderHint(QPainter::Antialiasing);
            painter.drawLine(g.topLeft(), g.bottomRight());
            painter.drawLine(g.topRight(), g.bottomLeft());
            break;
        }
    }

private:
    Kind m_kind;
};

// The painted title bar: a child strip at the top of the form while the caption is active.
class GradientCaptionBar : public QWidget {
public:
    explicit GradientCaptionBar(TGradientCaption *caption, QWidget *form)
        : QWidget(form)
        , m_caption(caption)
    {
        setObjectName(QStringLiteral("GradientCaptionBar"));
        setAccessibleName(QStringLiteral("Title bar"));
        setAttribute(Qt::WA_OpaquePaintEvent);
        m_minimise = new CaptionButton(CaptionButton::Kind::Minimise, this);
        m_maximise = new CaptionButton(CaptionButton::Kind::Maximise, this);
        m_maximise->setEnabled(false); // The window has a fixed size.
        m_close = new CaptionButton(CaptionButton::Kind::Close, this);
        connect(m_minimise, &QAbstractButton::clicked, form, &QWidget::showMinimized);
        connect(m_close, &QAbstractButton::clicked, form, &QWidget::close);
    }

    // Width of the part the caption paints (the boxes take the rest).
    int captionWidth() const { return std::max(0, width() - 3 * m_caption->buttonWidth()); }
    QRect iconRect() const { return { 0, 0, height(), height() }; }

    void layoutButtons()
    {
        const int bw = m_caption->buttonWidth();
        const int x = captionWidth();
        m_minimise->setGeometry(x, 0, bw, height());
        m_maximise->setGeometry(x + bw, 0, bw, height());
        m_close->setGeometry(x + 2 * bw, 0, bw, height());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        // Behind the boxes the bar shows the end colour, as a plain caption would.
        painter.fillRect(rect(), m_caption->endColor());
        painter.setClipRect(0, 0, captionWidth(), height());
        m_caption->paintCaption(painter, captionWidth());
    }

    void resizeEvent(QResizeEvent *) override { layoutButtons(); }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::RightButton) {
            m_rightPressed = true;
            return;
        }
        if (event->button() != Qt::LeftButton)
            return;
        if (iconRect().contains(event->position().toPoint())
            && m_caption->m_form->windowType() != Qt::Tool) {
            m_caption->showSystemMenu(mapToGlobal(QPoint(0, height())));
            return;
        }
        // The window manager moves the window where it can; without one (a bare X server), we
        // follow the mouse ourselves.
        QWindow *window = m_caption->m_form->windowHandle();
        if (window && window->startSystemMove())
            return;
        m_dragging = true;
        m_dragOffset
            = event->globalPosition().toPoint() - m_caption->m_form->frameGeometry().topLeft();
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (m_dragging)
            m_caption->m_form->move(event->globalPosition().toPoint() - m_dragOffset);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            m_dragging = false;
        if (event->button() == Qt::RightButton && m_rightPressed) {
            m_rightPressed = false;
            const QPoint global = event->globalPosition().toPoint();
            if (QMenu *menu = m_caption->PopupMenu())
                menu->popup(global);
            else
                m_caption->showSystemMenu(global);
        }
    }

    // A double click would maximise or close a native caption; this window does neither.
    void mouseDoubleClickEvent(QMouseEvent *event) override { event->accept(); }

private:
    TGradientCaption *m_caption;
    CaptionButton *m_minimise;
    CaptionButton *m_maximise;
    CaptionButton *m_close;
    QPoint m_dragOffset;
    bool m_dragging = false;
    bool m_rightPressed = false;
};

// ----- TCaptionPart -----

TCaptionPart::TCaptionPart(TGradientCaption *owner)
    : m_owner(owner)
    , m_font(owner->Font())
    , m_fontColor(owner->FontColor())
    , m_inactiveColor(kInactiveCaptionText)
{ }

void TCaptionPart::changed()
{
    m_owner->partChanged(this, false);
}

void TCaptionPart::setCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    changed();
}

void TCaptionPart::setFont(const QFont &font)
{
    m_font = font;
    m_parentFont = false;
    changed();
}

void TCaptionPart::setFontColor(const QColor &color)
{
    m_fontColor = color;
    m_parentFont = false;
    changed();
}

void TCaptionPart::setParentFont(bool on)
{
    m_parentFont = on;
    if (on) {
        m_font = m_owner->Font();
        m_fontColor = m_owner->FontColor();
    }
    changed();
}

void TCaptionPart::setInactiveColor(const QColor &color)
{
    if (color == m_inactiveColor)
        return;
    m_inactiveColor = color;
    m_owner->partChanged(this, true);
}

void TCaptionPart::setGlueNext(bool on)
{
    if (on == m_glueNext)
        return;
    m_glueNext = on;
    changed();
}

void TCaptionPart::setVisible(bool on)
{
    if (on == m_visible)
        return;
    m_visible = on;
    changed();
}

// ----- TCaptionPartList -----

TCaptionPartList::TCaptionPartList(TGradientCaption *owner)
    : m_owner(owner)
{ }

TCaptionPartList::~TCaptionPartList() = default;

TCaptionPart *TCaptionPartList::add()
{
    m_parts.push_back(std::unique_ptr<TCaptionPart>(new TCaptionPart(m_owner)));
    m_owner->partChanged(m_parts.back().get(), false);
    return m_parts.back().get();
}

void TCaptionPartList::remove(int index)
{
    m_parts.erase(m_parts.begin() + index);
    m_owner->partChanged(nullptr, false);
}

void TCaptionPartList::clear()
{
    m_parts.clear();
    m_owner->partChanged(nullptr, false);
}

// ----- TGradientCaption -----

TGradientCaption::TGradientCaption(QWidget *form)
    : QObject(form)
    , m_form(form)
    , m_parts(this)
    , m_font(systemCaptionFont())
    , m_fontColor(activeCaptionText(form))
    , m_fontInactiveColor(kInactiveCaptionText)
    , m_startColor(form->palette().color(QPalette::Active, QPalette::WindowText))
{
    setObjectName(QStringLiteral("GradientCaption1"));
    // Alt+Space opens the system menu, so every caption command works from the keyboard.
    auto *systemMenuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), form);
    connect(systemMenuKey, &QShortcut::activated, this, [this] {
        if (m_hooked && m_bar)
            showSystemMenu(m_bar->mapToGlobal(QPoint(0, m_bar->height())));
    });
}

TGradientCaption::~TGradientCaption()
{
    m_destroying = true;
    disconnect(this, &TGradientCaption::OnActivate, nullptr, nullptr);
    disconnect(this, &TGradientCaption::OnDeactivate, nullptr, nullptr);
    if (m_hooked)
        unhook();
}

QFont TGradientCaption::systemCaptionFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    return font;
}

int TGradientCaption::captionHeight() const
{
    return std::max(kSmallIconSize + 2,
        m_form->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, m_form));
}

int TGradientCaption::buttonWidth() const
{
    const int button = m_form->style()->pixelMetric(QStyle::PM_TitleBarButtonSize, nullptr, m_form);
    return std::clamp(button + 2, 16, captionHeight());
}

QWidget *TGradientCaption::captionBar() const
{
    return m_bar.data();
}

void TGradientCaption::setActive(bool on)
{
    if (on == m_active)
        return;
    m_active = on;
    refresh();
    if (!m_destroying)
        Q_EMIT(on ? OnActivate() : OnDeactivate());
}

void TGradientCaption::setDefaultFont(bool on)
{
    if (on == m_defaultFont)
        return;
    m_defaultFont = on;
    if (on) {
        m_font = systemCaptionFont();
        m_fontColor = activeCaptionText(m_form);
        for (int i = 0; i < m_parts.count(); ++i) {
            if (TCaptionPart *part = m_parts.item(i); part->ParentFont()) {
                part->m_font = m_font;
                part->m_fontColor = m_fontColor;
            }
        }
    }
    if (m_active)
        refresh();
}

void TGradientCaption::setFormCaption(const QString &text)
{
    if (text == m_formCaption)
        return;
    m_formCaption = text;
    if (m_active)
        refresh();
}

void TGradientCaption::setFont(const QFont &font)
{
    m_font = font;
    m_defaultFont = false;
    for (int i = 0; i < m_parts.count(); ++i) {
        if (TCaptionPart *part = m_parts.item(i); part->ParentFont())
            part->m_font = font;
    }
    refresh();
}

void TGradientCaption::setFontColor(const QColor &color)
{
    m_fontColor = color;
    m_defaultFont = false;
    for (int i = 0; i < m_parts.count(); ++i) {
        if (TCaptionPart *part = m_parts.item(i); part->ParentFont())
            part->m_fontColor = color;
    }
    refresh();
}

void TGradientCaption::setFontInactiveColor(const QColor &color)
{
    if (color == m_fontInactiveColor)
        return;
    m_fontInactiveColor = color;
    if (m_active && !m_formActive)
        refresh();
}

void TGradientCaption::setGradientActive(bool on)
{
    if (on == m_gradientActive)
        return;
    m_gradientActive = on;
    if (m_active && m_formActive)
        refresh();
}

void TGradientCaption::setGradientInactive(bool on)
{
    if (on == m_gradientInactive)
        return;
    m_gradientInactive = on;
    if (m_active && !m_formActive)
        refresh();
}

void TGradientCaption::setGradientSteps(int steps)
{
    if (steps == m_gradientSteps)
        return;
    m_gradientSteps = steps;
    if (m_active && gradientDue())
        refresh();
}

void TGradientCaption::setHideDirection(THideDirection direction)
{
    if (direction == m_hideDirection)
        return;
    m_hideDirection = direction;
    if (m_active)
        refresh();
}

void TGradientCaption::setPopupMenu(QMenu *menu)
{
    m_popupMenu = menu; // QPointer: cleared when the menu is destroyed.
}

void TGradientCaption::setStartColor(const QColor &color)
{
    if (color == m_startColor)
        return;
    m_startColor = color;
    if (m_active)
        refresh();
}

void TGradientCaption::partChanged(const TCaptionPart *, bool colourOnly)
{
    if (!m_active)
        return;
    if (colourOnly) {
        if (!m_formActive)
            repaint();
        return;
    }
    refresh();
}

QColor TGradientCaption::endColor() const
{
    return m_formActive ? activeCaptionEnd(m_form) : kInactiveCaptionEnd;
}

bool TGradientCaption::gradientDue() const
{
    return m_formActive ? m_gradientActive : m_gradientInactive;
}

bool TGradientCaption::rightToLeft() const
{
    return QGuiApplication::isRightToLeft() && m_form->layoutDirection() == Qt::RightToLeft;
}

QColor TGradientCaption::textColor(const QColor &activeColor, const QColor &inactiveColor) const
{
    return m_formActive ? activeColor : inactiveColor;
}

void TGradientCaption::refresh()
{
    if (m_active && !m_hooked)
        hook();
    else if (!m_active && m_hooked)
        unhook();
    m_formActive = m_active && m_form->isActiveWindow();
    repaint();
}

void TGradientCaption::repaint()
{
    if (m_bar)
        m_bar->update();
}

void TGradientCaption::hook()
{
    m_hooked = true;
    const int height = captionHeight();
    const bool wasVisible = m_form->isVisible();

    // The client area moves down below the strip and keeps its size.
    const QList<QWidget *> children = m_form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *child : children) {
        if (!child->isWindow())
            child->move(child->x(), child->y() + height);
    }
    const QSize client = m_form->size();
    if (m_form->minimumSize() == m_form->maximumSize())
        m_form->setFixedSize(client.width(), client.height() + height);
    else
        m_form->resize(client.width(), client.height() + height);

    // Qt drops FramelessWindowHint from a customised window that asks for title-bar buttons, so
    // the buttons' hints go while the strip draws its own boxes; they come back with unhook().
    constexpr Qt::WindowFlags kTitleBarHints = Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint
        | Qt::WindowContextHelpButtonHint;
    m_nativeFlags = m_form->windowFlags();
    m_form->setWindowFlags(
        (m_nativeFlags & ~kTitleBarHints) | Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    auto *bar = new GradientCaptionBar(this, m_form);
    bar->setGeometry(0, 0, m_form->width(), height);
    bar->layoutButtons();
    bar->show();
    m_bar = bar;
    m_form->installEventFilter(this);
    if (wasVisible)
        m_form->show();
}

void TGradientCaption::unhook()
{
    m_hooked = false;
    m_form->removeEventFilter(this);
    const int height = m_bar ? m_bar->height() : captionHeight();
    delete m_bar.data();
    if (m_destroying)
        return; // The form is going too; nothing to give back.

    const bool wasVisible = m_form->isVisible();
    const QList<QWidget *> children = m_form->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *child : children) {
        if (!child->isWindow())
            child->move(child->x(), child->y() - height);
    }
    const QSize whole = m_form->size();
    if (m_form->minimumSize() == m_form->maximumSize())
        m_form->setFixedSize(whole.width(), whole.height() - height);
    else
        m_form->resize(whole.width(), whole.height() - height);
    m_form->setWindowFlags(m_nativeFlags);
    if (wasVisible)
        m_form->show();
}

bool TGradientCaption::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_form) {
        switch (event->type()) {
        case QEvent::ActivationChange:
            m_formActive = m_form->isActiveWindow();
            repaint();
            break;
        case QEvent::WindowIconChange:
        case QEvent::LayoutDirectionChange:
        case QEvent::PaletteChange:
            repaint();
            break;
        case QEvent::Resize:
            if (m_bar)
                m_bar->resize(m_form->width(), m_bar->height());
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TGradientCaption::showSystemMenu(const QPoint &globalPos)
{
    QMenu menu(m_form);
    menu.setAccessibleName(QStringLiteral("System menu"));
    menu.addAction(QStringLiteral("&Restore"))->setEnabled(false);
    QAction *move = menu.addAction(QStringLiteral("&Move"));
    menu.addAction(QStringLiteral("&Size"))->setEnabled(false);
    QAction *minimise = menu.addAction(QStringLiteral("Mi&nimize"));
    menu.addAction(QStringLiteral("Ma&ximize"))->setEnabled(false);
    menu.addSeparator();
    QAction *close = menu.addAction(QStringLiteral("&Close"));
    close->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    QPointer<QWidget> form = m_form;
    QAction *chosen = menu.exec(globalPos);
    if (!form || !chosen)
        return;
    if (chosen == move) {
        if (QWindow *window = form->windowHandle())
            window->startSystemMove();
    } else if (chosen == minimise) {
        form->showMinimized();
    } else if (chosen == close) {
        form->close();
    }
}

// ----- painting -----

void TGradientCaption::fillGradient(
    QPainter &painter, const QRect &rect, const QColor &start, const QColor &end, int steps)
{
    if (rect.isEmpty())
        return;
    const int k = steps & 0xFF;
    if (k < 2) {
        painter.fillRect(rect, start);
        return;
    }
    const int width = rect.width();
    const int bands = std::max(2, std::min(k, width));
    const int bandWidth = width / bands;
    if (bandWidth > 0) {
        for (int i = 0; i < bands; ++i) {
            const QColor colour(start.red() + mulDiv(i, end.red() - start.red(), bands - 1),
                start.green() + mulDiv(i, end.green() - start.green(), bands - 1),
                start.blue() + mulDiv(i, end.blue() - start.blue(), bands - 1));
            painter.fillRect(
                rect.left() + i * bandWidth, rect.top(), bandWidth, rect.height(), colour);
        }
    }
    const int remainder = width - bands * bandWidth;
    if (remainder > 0)
        painter.fillRect(rect.right() + 1 - remainder, rect.top(), remainder, rect.height(), end);
}

QString TGradientCaption::shortenText(const QString &text, const QFont &font, int width)
{
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    const qsizetype length = text.size();
    for (qsizetype i = 1; i <= length; ++i) {
        const QString candidate = text.left(std::max<qsizetype>(0, length - i - 1)) + kEllipsis;
        if (metrics.horizontalAdvance(candidate) <= width)
            return candidate;
    }
    return kEllipsis;
}

void TGradientCaption::drawText(QPainter &painter, const QString &text, const QFont &font,
    const QColor &color, int &x, int &right, int height) const
{
    const int width = textWidth(text, font);
    painter.setFont(font);
    painter.setPen(color);
    if (rightToLeft()) {
        painter.setLayoutDirection(Qt::RightToLeft);
        painter.drawText(QRect(x, 0, right - x, height),
            Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, text);
        right -= width;
    } else {
        painter.setLayoutDirection(Qt::LeftToRight);
        painter.drawText(QRect(x, 0, std::max(0, right - x), height),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip, text);
        x += width;
    }
}

void TGradientCaption::paintCaption(QPainter &painter, int width) const
{
    const int height = m_bar ? m_bar->height() : captionHeight();
    const QColor end = endColor();
    if (gradientDue())
        fillGradient(painter, QRect(-(width / 4), 0, width + width / 4, height), m_startColor, end,
            m_gradientSteps);
    else
        painter.fillRect(QRect(0, 0, width, height), end);

    int x = 0;
    if (m_form->windowType() != Qt::Tool) {
        QIcon icon = m_form->windowIcon();
        if (icon.isNull())
            icon = QApplication::windowIcon();
        if (icon.isNull())
            icon = m_form->style()->standardIcon(QStyle::SP_TitleBarMenuButton);
        const QPixmap pixmap = icon.pixmap(kSmallIconSize, kSmallIconSize);
        painter.drawPixmap(
            (height - kSmallIconSize) / 2 + 1, (height - kSmallIconSize) / 2, pixmap);
        x += height;
    }

    if (m_formCaption.isEmpty() && m_parts.count() == 0)
        return;
    x += 2;
    if (m_hideDirection == THideDirection::hdLeftToRight)
        paintPartsLeftToRight(painter, x, width, height);
    else
        paintPartsRightToLeft(painter, x, width, height);
}

void TGradientCaption::paintPartsLeftToRight(QPainter &painter, int x, int right, int height) const
{
    const int count = m_parts.count();
    std::vector<int> widths(static_cast<std::size_t>(count));
    int total = 2 + textWidth(m_formCaption, m_font);
    for (int i = 0; i < count; ++i) {
        const TCaptionPart *part = m_parts.item(i);
        widths[static_cast<std::size_t>(i)]
            = part->Visible() ? textWidth(part->Caption(), part->Font()) : 0;
        total += widths[static_cast<std::size_t>(i)];
    }

    // The first parts give way first, each with the parts glued after it.
    int first = 0;
    while (total > right - x && first < count) {
        bool glued = false;
        do {
            total -= widths[static_cast<std::size_t>(first)];
            glued = m_parts.item(first)->GlueNext();
            ++first;
        } while (glued && first < count);
    }

    for (int i = first; i < count; ++i) {
        const TCaptionPart *part = m_parts.item(i);
        if (!part->Visible())
            continue;
        const QString text = shortenText(part->Caption(), part->Font(), right - x);
        if (text == kEllipsis && text != part->Caption())
            continue;
        drawText(painter, text, part->Font(), textColor(part->FontColor(), part->InactiveColor()),
            x, right, height);
    }
    if (!m_formCaption.isEmpty()) {
        const QString text = shortenText(m_formCaption, m_font, right - x);
        drawText(
            painter, text, m_font, textColor(m_fontColor, m_fontInactiveColor), x, right, height);
    }
}

void TGradientCaption::paintPartsRightToLeft(QPainter &painter, int x, int right, int height) const
{
    const int count = m_parts.count();
    const int available = right - x;

    // The parts whose group begins while there is width left are the ones considered.
    int considered = 0;
    int running = 2;
    while (considered < count && running < available) {
        bool glued = false;
        do {
            const TCaptionPart *part = m_parts.item(considered);
            running += part->Visible() ? textWidth(part->Caption(), part->Font()) : 0;
            glued = part->GlueNext();
            ++considered;
        } while (glued && considered < count);
    }

    bool allWhole = true;
    for (int i = 0; i < considered; ++i) {
        const TCaptionPart *part = m_parts.item(i);
        if (!part->Visible())
            continue;
        const QString text = shortenText(part->Caption(), part->Font(), right - x);
        const bool shortened = text != part->Caption();
        if (shortened && text == kEllipsis) {
            const TCaptionPart *previous = i > 0 ? m_parts.item(i - 1) : nullptr;
            if (!previous || previous->GlueNext()) {
                const QColor colour = previous
                    ? textColor(previous->FontColor(), previous->InactiveColor())
                    : textColor(m_fontColor, m_fontInactiveColor);
                drawText(painter, kEllipsis, m_font, colour, x, right, height);
            }
            allWhole = false;
            break;
        }
        drawText(painter, text, part->Font(), textColor(part->FontColor(), part->InactiveColor()),
            x, right, height);
        if (shortened) {
            allWhole = false;
            break;
        }
        if (!part->GlueNext() && right - x <= 0)
            break;
    }
    if (allWhole && right - x > 0 && !m_formCaption.isEmpty()) {
        const QString text = shortenText(m_formCaption, m_font, right - x);
        drawText(
            painter, text, m_font, textColor(m_fontColor, m_fontInactiveColor), x, right, height);
    }
}
