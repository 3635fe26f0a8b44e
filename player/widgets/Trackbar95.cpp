#include "Trackbar95.h"

#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionSlider>

namespace {

// Lends the bar's thumb length to the platform style, so that hit-testing, dragging and
// painting all use the same thumb geometry.
class ThumbLengthStyle : public QProxyStyle {
public:
    explicit ThumbLengthStyle(const TTrackBar95 *bar)
        // A base style of its own, so that the base style's internal metric queries come back
        // through this proxy.
        : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
        , m_bar(bar)
    { }

    int pixelMetric(
        PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        // The base style asks for some metrics without naming the widget; this style serves
        // one bar only.
        if (metric == PM_SliderLength && m_bar->ThumbSize() > 0)
            return m_bar->ThumbSize();
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

private:
    const TTrackBar95 *m_bar;
};

} // namespace

TTrackBar95::TTrackBar95(Qt::Orientation orientation, QWidget *parent)
    : QSlider(orientation, parent)
    , m_style(std::make_unique<ThumbLengthStyle>(this))
{
    setStyle(m_style.get());
}

TTrackBar95::TTrackBar95(QWidget *parent)
    : TTrackBar95(Qt::Horizontal, parent)
{ }

TTrackBar95::~TTrackBar95()
{
    // The widget must stop using the style before the style goes.
    setStyle(nullptr);
}

void TTrackBar95::setFixedLength(bool on)
{
    if (on == m_fixedLength)
        return;
    m_fixedLength = on;
    applyStyles();
}

void TTrackBar95::setSelEnabled(bool on)
{
    if (on == m_selEnabled)
        return;
    m_selEnabled = on;
    applyStyles();
}

void TTrackBar95::setThumb(bool on)
{
    if (on == m_thumb)
        return;
    m_thumb = on;
    applyStyles();
}

void TTrackBar95::setThumbSize(int pixels)
{
    if (pixels == m_thumbSize)
        return;
    m_thumbSize = pixels;
    applyStyles();
}

void TTrackBar95::setSelection(int start, int end)
{
    m_selStart = start;
    m_selEnd = end;
    update();
}

bool TTrackBar95::isSelectionShown() const
{
    return m_selEnabled && m_selEnd > m_selStart;
}

void TTrackBar95::applyStyles()
{
    // The thumb's geometry comes from the style: make it recompute and lay the bar out again.
    QStyle *proxy = m_style.get();
    setStyle(nullptr);
    setStyle(proxy);
    updateGeometry();
    update();
    Q_EMIT stylesApplied();
}

void TTrackBar95::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderGroove;
    if (m_thumb)
        option.subControls |= QStyle::SC_SliderHandle;
    if (tickPosition() != NoTicks)
        option.subControls |= QStyle::SC_SliderTickmarks;
    if (m_selEnabled && m_selEnd > m_selStart) {
        // The selection stands on the groove as a band between its two ends.
        const QRect groove
            = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
        const int span = maximum() > minimum() ? maximum() - minimum() : 1;
        const auto toPixel = [&](int value) {
            const int clamped = qBound(minimum(), value, maximum());
            if (orientation() == Qt::Horizontal)
                return groove.left() + (clamped - minimum()) * groove.width() / span;
            return groove.top() + (clamped - minimum()) * groove.height() / span;
        };
        style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
        QRect band = groove;
        if (orientation() == Qt::Horizontal) {
            band.setLeft(toPixel(m_selStart));
            band.setRight(toPixel(m_selEnd));
            band.adjust(0, groove.height() / 4, 0, -groove.height() / 4);
        } else {
            band.setTop(toPixel(m_selStart));
            band.setBottom(toPixel(m_selEnd));
            band.adjust(groove.width() / 4, 0, -groove.width() / 4, 0);
        }
        painter.fillRect(band, palette().highlight());
        if (m_thumb) {
            // The thumb stays on top of the band.
            option.subControls = QStyle::SC_SliderHandle;
            style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
        }
        return;
    }
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}
