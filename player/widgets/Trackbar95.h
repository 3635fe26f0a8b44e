#pragma once

#include <QSlider>

#include <memory>

class QProxyStyle;

// A position bar with the four style properties of the program's own track bar: a fixed-length
// thumb, an optional selection range, an optional thumb and a thumb length in pixels. Changing
// a property to a new value re-applies the bar's styles (stylesApplied() reports each time);
// setting the current value does nothing. A widget: UI thread only.
class TTrackBar95 : public QSlider {
    Q_OBJECT
    Q_PROPERTY(bool FixedLength READ FixedLength WRITE setFixedLength)
    Q_PROPERTY(bool SelEnabled READ SelEnabled WRITE setSelEnabled)
    Q_PROPERTY(bool Thumb READ Thumb WRITE setThumb)
    Q_PROPERTY(int ThumbSize READ ThumbSize WRITE setThumbSize)

public:
    explicit TTrackBar95(Qt::Orientation orientation, QWidget *parent = nullptr);
    explicit TTrackBar95(QWidget *parent = nullptr);
    ~TTrackBar95() override;

    // Stored and applied, but the thumb keeps its fixed length either way: the bar's thumb
    // length only takes effect with the fixed-length style, which the bar always has.
    bool FixedLength() const { return m_fixedLength; }
    void setFixedLength(bool on);
    // When false the bar shows no selection range.
    bool SelEnabled() const { return m_selEnabled; }
    void setSelEnabled(bool on);
    // When false the bar has no thumb (and no thumb to drag).
    bool Thumb() const { return m_thumb; }
    void setThumb(bool on);
    // The thumb's length along the track, in pixels; 0 leaves the style's own length.
    int ThumbSize() const { return m_thumbSize; }
    void setThumbSize(int pixels);

    // The selection range in bar units, drawn only while SelEnabled is true.
    int selStart() const { return m_selStart; }
    int selEnd() const { return m_selEnd; }
    void setSelection(int start, int end);

    // Whether the selection range is being drawn (SelEnabled with a non-empty range).
    bool isSelectionShown() const;

Q_SIGNALS:
    // The styles were re-applied after a property changed value.
    void stylesApplied();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void applyStyles();

    bool m_fixedLength = false;
    bool m_selEnabled = false;
    bool m_thumb = true;
    int m_thumbSize = 0;
    int m_selStart = 0;
    int m_selEnd = 0;
    std::unique_ptr<QProxyStyle> m_style;
};
