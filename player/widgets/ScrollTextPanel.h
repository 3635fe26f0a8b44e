#pragma once

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class QPainter;
class TTickTimer;

// A bevelled panel that, while active, scrolls its lines through its interior one pixel per
// tick, upward (vertical) or from right to left (horizontal), with an optional glyph beside the
// text. Activation hides the child widgets that were visible and deactivation shows those again.
// At the end of a pass the panel starts the pass again (Cycled) or deactivates itself, raising
// OnStopPlay.
//
// Threads: the panel is a widget, so every property is set, and every signal raised, on the UI
// thread. With AsyncDrawing (the default) each tick runs on the worker of its TTickTimer: it
// composes the frame into an off-screen QImage under the image lock and leaves a copy in a
// mutex-guarded mailbox that paintEvent() draws from. The end of a pass is handed to the UI
// thread. Deactivation takes the image lock, so a frame in progress completes first and no frame
// touches the image after it is released. A subclass that overrides tick() or paintBackground()
// must deactivate the panel in its own destructor, before the worker could call into a half-
// destroyed object.
class TScrollTextPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Active READ isActive WRITE setActive)
    Q_PROPERTY(TAlignment Alignment READ alignment WRITE setAlignment)
    Q_PROPERTY(bool AsyncDrawing READ asyncDrawing WRITE setAsyncDrawing)
    Q_PROPERTY(bool Cycled READ cycled WRITE setCycled)
    Q_PROPERTY(QPixmap Glyph READ glyph WRITE setGlyph)
    Q_PROPERTY(TGlyphLayout GlyphLayout READ glyphLayout WRITE setGlyphLayout)
    Q_PROPERTY(quint32 Interval READ intervalMs WRITE setIntervalMs)
    Q_PROPERTY(QStringList Lines READ lines WRITE setLines)
    Q_PROPERTY(TScrollDirection ScrollDirection READ scrollDirection WRITE setScrollDirection)
    Q_PROPERTY(TPanelBevel TextStyle READ textStyle WRITE setTextStyle)
    Q_PROPERTY(TPanelBevel BevelOuter READ bevelOuter WRITE setBevelOuter)
    Q_PROPERTY(TPanelBevel BevelInner READ bevelInner WRITE setBevelInner)
    Q_PROPERTY(int BevelWidth READ bevelWidth WRITE setBevelWidth)
    Q_PROPERTY(int BorderWidth READ borderWidth WRITE setBorderWidth)
    Q_PROPERTY(QColor Color READ color WRITE setColor)

public:
    enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
    Q_ENUM(TAlignment)
    enum class TGlyphLayout { glGlyphLeft, glGlyphRight, glGlyphTop, glGlyphBottom };
    Q_ENUM(TGlyphLayout)
    enum class TScrollDirection { sdVertical, sdHorizontal };
    Q_ENUM(TScrollDirection)
    // Bevels of the panel's frame, and the embossing of the text (TextStyle).
    enum class TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };
    Q_ENUM(TPanelBevel)

    // Paints the background of `rect` on `canvas` instead of the plain fill with the canvas
    // brush. Called on the UI thread when the panel paints and, with AsyncDrawing, on the worker
    // for each frame: it must only draw, and may not touch widgets.
    using TPaintClientEvent
        = std::function<void(TScrollTextPanel *sender, QPainter &canvas, const QRect &rect)>;

    explicit TScrollTextPanel(QWidget *parent = nullptr);
    // Deactivates the panel (raising OnStopPlay when it was active) and joins the worker.
    ~TScrollTextPanel() override;

    // true while the text scrolls. Setting the current value does nothing.
    bool isActive() const { return m_active; }
    void setActive(bool active);

    // Horizontal alignment of each line in its line rectangle; taCenter by default.
    TAlignment alignment() const { return m_alignment; }
    void setAlignment(TAlignment alignment);
    // true (the default): ticks and frames run on the worker; false: on the UI thread.
    bool asyncDrawing() const { return m_asyncDrawing; }
    void setAsyncDrawing(bool asyncDrawing);
    // At the end of a pass: true starts it again, false (the default) stops the panel.
    bool cycled() const { return m_cycled.load(); }
    void setCycled(bool cycled) { m_cycled.store(cycled); }
    // A picture beside the text while active; without an alpha channel its bottom-left pixel's
    // colour is transparent.
    QPixmap glyph() const { return m_glyph; }
    void setGlyph(const QPixmap &glyph);
    TGlyphLayout glyphLayout() const { return m_glyphLayout; }
    void setGlyphLayout(TGlyphLayout layout);
    // Pause between ticks in milliseconds, 30 by default; 0 stops the ticks.
    quint32 intervalMs() const;
    void setIntervalMs(quint32 intervalMs);
    // The text, one entry per line. Assigning restarts a running pass.
    QStringList lines() const { return m_lines; }
    void setLines(const QStringList &lines);
    TScrollDirection scrollDirection() const { return m_direction; }
    void setScrollDirection(TScrollDirection direction);
    // Embossing of the text; anything but bvNone makes lines one pixel taller.
    TPanelBevel textStyle() const { return m_textStyle; }
    void setTextStyle(TPanelBevel style);

    // The frame: bvLowered outer bevel, no inner bevel, 1 px bevels, no border by default.
    TPanelBevel bevelOuter() const { return m_bevelOuter; }
    void setBevelOuter(TPanelBevel bevel);
    TPanelBevel bevelInner() const { return m_bevelInner; }
    void setBevelInner(TPanelBevel bevel);
    int bevelWidth() const { return m_bevelWidthPx; }
    void setBevelWidth(int widthPx);
    int borderWidth() const { return m_borderWidthPx; }
    void setBorderWidth(int widthPx);
    // Background colour; follows the palette's button colour until set.
    QColor color() const;
    void setColor(const QColor &color);

    void setOnPaintClient(TPaintClientEvent onPaintClient);

    // Advances the scroll by one pixel and draws the frame; at the end of a pass starts again or
    // hands the deactivation to the UI thread. The tick worker calls it; callers on the UI
    // thread may drive the panel with it directly (it does nothing while inactive).
    virtual void tick();

    // Layout as last computed (on activation and on changes), in panel pixels.
    int scrollOffset() const;
    int scrollLimit() const;
    int lineHeight() const;
    QRect textArea() const;
    QRect paintArea() const;
    QPoint glyphOrigin() const;

    // The worker that produces the ticks; owned by the panel.
    TTickTimer *tickTimer() const { return m_tickTimer.get(); }

Q_SIGNALS:
    // Raised on the UI thread when the panel becomes active, and when it stops being active
    // (also when an active panel is destroyed).
    void OnStartPlay();
    void OnStopPlay();

protected:
    // Fills `rect` with the canvas brush, or calls OnPaintClient. Any thread that draws.
    virtual void paintBackground(QPainter &canvas, const QRect &rect);
    // Raise OnStartPlay and OnStopPlay; UI thread.
    virtual void started();
    virtual void stopped();

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    void activate();
    void deactivate();
    void endPass(std::uint64_t generation);
    // Recomputes rectangles, line height, first line and scroll limit and prepares the image;
    // the caller holds m_imageMutex.
    void computeLayoutLocked();
    // Where the glyph stands inside the text edges (left, top, right, bottom) within a frame of
    // `border` pixels, which it moves to make room beside it.
    static QPoint placeGlyph(
        TGlyphLayout layout, QSize glyph, int border, int &l, int &t, int &r, int &bottom);
    // If active: layout under the image lock, optionally restarting the pass, and a repaint.
    void relayout(bool restartPass);
    void composeFrameLocked();
    Q_INVOKABLE void showFrame();

    // Guards everything a frame reads or writes: the image, the layout, the lines, the frame
    // font and colours, the scroll offset and the active flag. Written on the UI thread under
    // it, read by the worker under it; the UI thread reads without it.
    mutable std::mutex m_imageMutex;
    bool m_active = false;
    std::uint64_t m_generation = 0; // Counts activations; a stale end of pass is ignored.
    int m_scrollOffset = 0;
    int m_scrollLimit = 0;
    int m_lineHeightPx = 1;
    int m_firstTextLine = 0;
    QRect m_textArea;
    QRect m_paintArea;
    QPoint m_glyphOrigin;
    std::optional<QImage> m_image; // Exists only while active.
    QStringList m_lines;
    QFont m_frameFont; // An unshared copy of font(), for the thread that draws frames.
    QColor m_frameColor;
    QColor m_frameTextColor;
    QColor m_frameHighlightColor;
    bool m_rightToLeft = false;
    TAlignment m_alignment = TAlignment::taCenter;
    TScrollDirection m_direction = TScrollDirection::sdVertical;
    TPanelBevel m_textStyle = TPanelBevel::bvNone;
    TPaintClientEvent m_onPaintClient;

    // The latest finished frame, for paintEvent(), and whether a call to show it is on its way;
    // guarded by m_mailboxMutex.
    std::mutex m_mailboxMutex;
    QImage m_shownFrame;
    bool m_framePosted = false;

    std::atomic<bool> m_cycled = false;
    bool m_asyncDrawing = true;
    bool m_destroying = false;
    QPixmap m_glyph;
    TGlyphLayout m_glyphLayout = TGlyphLayout::glGlyphLeft;
    TPanelBevel m_bevelOuter = TPanelBevel::bvLowered;
    TPanelBevel m_bevelInner = TPanelBevel::bvNone;
    int m_bevelWidthPx = 1;
    int m_borderWidthPx = 0;
    QColor m_color; // Invalid: follow the palette.
    std::vector<QPointer<QWidget>> m_hiddenChildren;
    std::thread::id m_uiThread;
    // Last, so it goes first: its destructor joins the worker while everything a tick reads
    // still exists, and the pointer is never written while the worker could read it.
    const std::unique_ptr<TTickTimer> m_tickTimer;
};
