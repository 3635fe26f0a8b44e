#pragma once

#include <QColor>
#include <QFont>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <vector>

class QPainter;
class QWidget;
class TGradientCaption;
class GradientCaptionBar;

// One part of a gradient caption: a text with its own font and colours. Owned by its
// TCaptionPartList; changing a property repaints the owner's caption. UI thread only.
class TCaptionPart : public QObject {
    Q_OBJECT

public:
    QString Caption() const { return m_caption; }
    void setCaption(const QString &caption);
    // The part's font and text colour. Setting either clears ParentFont.
    QFont Font() const { return m_font; }
    void setFont(const QFont &font);
    QColor FontColor() const { return m_fontColor; }
    void setFontColor(const QColor &color);
    // True: the part uses a copy of the owner's font; setting it true copies that font again.
    bool ParentFont() const { return m_parentFont; }
    void setParentFont(bool on);
    // Text colour while the form is inactive.
    QColor InactiveColor() const { return m_inactiveColor; }
    void setInactiveColor(const QColor &color);
    // This part and the next one give way together when the caption is too narrow.
    bool GlueNext() const { return m_glueNext; }
    void setGlueNext(bool on);
    bool Visible() const { return m_visible; }
    void setVisible(bool on);

private:
    friend class TCaptionPartList;
    friend class TGradientCaption;
    explicit TCaptionPart(TGradientCaption *owner);
    void changed();

    TGradientCaption *m_owner;
    QString m_caption;
    QFont m_font;
    QColor m_fontColor;
    QColor m_inactiveColor;
    bool m_parentFont = true;
    bool m_glueNext = false;
    bool m_visible = true;
};

// The caption's parts, left to right.
class TCaptionPartList {
public:
    explicit TCaptionPartList(TGradientCaption *owner);
    ~TCaptionPartList();

    int count() const { return static_cast<int>(m_parts.size()); }
    TCaptionPart *item(int index) const
    {
        return m_parts.at(static_cast<std::size_t>(index)).get();
    }
    // Appends a part with the default properties (a copy of the owner's font).
    TCaptionPart *add();
    void remove(int index);
    void clear();

private:
    TGradientCaption *m_owner;
    std::vector<std::unique_ptr<TCaptionPart>> m_parts;
};

// Paints a form's title bar as a colour gradient with its small icon and a row of caption
// parts. Window managers draw the title bars of ordinary windows, so while Active the form goes
// frameless and the caption paints a strip of its own above the form's client area: the
// client area keeps its size, and the form grows by the strip's height. The strip has the
// minimise, (disabled) maximise and close boxes, moves the window when dragged and opens the
// system menu (or PopupMenu) from the icon or a right click. While not Active, the form has its
// native frame. The caption watches its form through an event filter. UI thread only.
class TGradientCaption : public QObject {
    Q_OBJECT

public:
    enum class THideDirection { hdLeftToRight, hdRightToLeft };

    // Attaches to `form`, a top-level widget, which also owns the caption. Call refresh() (or
    // set Active) once the form's components exist; the form is hooked from then on.
    explicit TGradientCaption(QWidget *form);
    ~TGradientCaption() override;

    bool Active() const { return m_active; }
    void setActive(bool on);
    TCaptionPartList &Captions() { return m_parts; }
    bool DefaultFont() const { return m_defaultFont; }
    void setDefaultFont(bool on);
    QString FormCaption() const { return m_formCaption; }
    void setFormCaption(const QString &text);
    // Font and colour of FormCaption, and of the parts that use the parent font. Changing either
    // clears DefaultFont and copies the font into every part with ParentFont.
    QFont Font() const { return m_font; }
    void setFont(const QFont &font);
    QColor FontColor() const { return m_fontColor; }
    void setFontColor(const QColor &color);
    QColor FontInactiveColor() const { return m_fontInactiveColor; }
    void setFontInactiveColor(const QColor &color);
    bool GradientActive() const { return m_gradientActive; }
    void setGradientActive(bool on);
    bool GradientInactive() const { return m_gradientInactive; }
    void setGradientInactive(bool on);
    // Number of colour bands; only the low 8 bits count.
    int GradientSteps() const { return m_gradientSteps; }
    void setGradientSteps(int steps);
    THideDirection HideDirection() const { return m_hideDirection; }
    void setHideDirection(THideDirection direction);
    // Shown on a right click in the caption instead of the system menu; cleared when the menu
    // is destroyed.
    QMenu *PopupMenu() const { return m_popupMenu; }
    void setPopupMenu(QMenu *menu);
    QColor StartColor() const { return m_startColor; }
    void setStartColor(const QColor &color);

    // The colour the gradient runs to in the form's current state.
    QColor endColor() const;
    // Whether the form counts as active (from its last activation change).
    bool formActive() const { return m_formActive; }
    // The strip while Active (a child of the form named "GradientCaptionBar"), else null.
    QWidget *captionBar() const;
    // Height of the strip in pixels, from the style's title-bar metrics.
    int captionHeight() const;
    // Width of each title-bar box, from the style's metrics.
    int buttonWidth() const;

    // Re-reads the form's state, hooks or unhooks it as Active says, and repaints.
    void refresh();
    // Paints the caption (gradient, icon, parts) into a strip `width` pixels wide.
    void paintCaption(QPainter &painter, int width) const;

    // The gradient from `start` to `end` over `rect` in `steps` bands (low 8 bits), the rest of
    // the width in `end`; fewer than 2 steps give a plain `start`.
    static void fillGradient(
        QPainter &painter, const QRect &rect, const QColor &start, const QColor &end, int steps);
    // `text` if it fits `width` pixels in `font`, else the longest start of it followed by
    // "...", down to "..." alone.
    static QString shortenText(const QString &text, const QFont &font, int width);
    // The system's caption font: the title font, bold.
    static QFont systemCaptionFont();

Q_SIGNALS:
    void OnActivate();
    void OnDeactivate();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class TCaptionPart;
    friend class TCaptionPartList;
    friend class GradientCaptionBar;
    void partChanged(const TCaptionPart *part, bool colourOnly);
    void hook();
    void unhook();
    void repaint();
    bool gradientDue() const;
    QColor textColor(const QColor &activeColor, const QColor &inactiveColor) const;
    // Draws `text` at x (advancing it) up to `right`; see paintCaption().
    void drawText(QPainter &painter, const QString &text, const QFont &font, const QColor &color,
        int &x, int &right, int height) const;
    void paintPartsLeftToRight(QPainter &painter, int x, int right, int height) const;
    void paintPartsRightToLeft(QPainter &painter, int x, int right, int height) const;
    bool rightToLeft() const;
    void showSystemMenu(const QPoint &globalPos);

    QWidget *m_form;
    TCaptionPartList m_parts;
    QPointer<GradientCaptionBar> m_bar;
    QPointer<QMenu> m_popupMenu;
    QFont m_font;
    QColor m_fontColor;
    QColor m_fontInactiveColor;
    QColor m_startColor;
    QString m_formCaption;
    Qt::WindowFlags m_nativeFlags; // The form's own flags while the strip stands in for its frame.
    int m_gradientSteps = 64;
    THideDirection m_hideDirection = THideDirection::hdLeftToRight;
    bool m_active = true;
    bool m_defaultFont = true;
    bool m_gradientActive = true;
    bool m_gradientInactive = false;
    bool m_formActive = false;
    bool m_hooked = false;
    bool m_destroying = false;
};
