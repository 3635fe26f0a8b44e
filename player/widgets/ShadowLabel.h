#pragma once

#include <QColor>
#include <QLabel>

// A label that draws its text twice: first in the shadow colour, moved by the shadow size toward
// the shadow's corner, then in the font colour at its usual place. Plain text only. A widget: UI
// thread only.
class TShadowLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QColor ShadowColor READ shadowColor WRITE setShadowColor)
    Q_PROPERTY(int ShadowSize READ shadowSize WRITE setShadowSize)
    Q_PROPERTY(ShadowPosition ShadowPos READ shadowPosition WRITE setShadowPosition)

public:
    // Where the shadow lies relative to the text.
    enum class ShadowPosition { UpperLeft, UpperRight, LowerLeft, LowerRight };
    Q_ENUM(ShadowPosition)

    explicit TShadowLabel(QWidget *parent = nullptr);
    explicit TShadowLabel(const QString &text, QWidget *parent = nullptr);

    // The shadow's colour; by default the palette's light (button-highlight) colour, following
    // palette changes until set explicitly.
    QColor shadowColor() const;
    void setShadowColor(const QColor &color);
    // Offset of the shadow in pixels on each axis; 1 by default, never below 0.
    int shadowSize() const { return m_shadowSizePx; }
    void setShadowSize(int sizePx);
    // UpperLeft by default.
    ShadowPosition shadowPosition() const { return m_position; }
    void setShadowPosition(ShadowPosition position);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_shadowColor; // Invalid: follow the palette.
    int m_shadowSizePx = 1;
    ShadowPosition m_position = ShadowPosition::UpperLeft;
};
