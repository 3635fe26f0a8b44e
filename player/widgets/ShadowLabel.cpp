#include "ShadowLabel.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>

TShadowLabel::TShadowLabel(QWidget *parent)
    : TShadowLabel(QString(), parent)
{ }

TShadowLabel::TShadowLabel(const QString &text, QWidget *parent)
    : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    // Text starts at the top-left corner, where the layout's position puts it.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QColor TShadowLabel::shadowColor() const
{
    return m_shadowColor.isValid() ? m_shadowColor : palette().color(QPalette::Light);
}

void TShadowLabel::setShadowColor(const QColor &color)
{
    m_shadowColor = color;
    update();
}

void TShadowLabel::setShadowSize(int sizePx)
{
    m_shadowSizePx = std::max(0, sizePx);
    updateGeometry();
    update();
}

void TShadowLabel::setShadowPosition(ShadowPosition position)
{
    m_position = position;
    update();
}

QSize TShadowLabel::sizeHint() const
{
    return QLabel::sizeHint() + QSize(m_shadowSizePx, m_shadowSizePx);
}

QSize TShadowLabel::minimumSizeHint() const
{
    return QLabel::minimumSizeHint() + QSize(m_shadowSizePx, m_shadowSizePx);
}

void TShadowLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect place = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const int flags = QStyle::visualAlignment(layoutDirection(), alignment())
        | (wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine);

    const bool left
        = m_position == ShadowPosition::UpperLeft || m_position == ShadowPosition::LowerLeft;
    const bool up
        = m_position == ShadowPosition::UpperLeft || m_position == ShadowPosition::UpperRight;
    const QPoint offset(
        left ? -m_shadowSizePx : m_shadowSizePx, up ? -m_shadowSizePx : m_shadowSizePx);

    painter.setFont(font());
    if (m_shadowSizePx > 0) {
        painter.setPen(shadowColor());
        painter.drawText(place.translated(offset), flags, text());
    }
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    painter.drawText(place, flags, text());
}
