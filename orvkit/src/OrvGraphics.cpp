#include "OrvGraphics.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPaintDevice>
#include <QPainter>
#include <QPalette>
#include <QScreen>

#include <cstring>
#include <utility>

namespace orvkit {

namespace {

// The library's own resource folder, where a module argument of 0 points.
constexpr const char *kOwnResourceFolder = ":/orvkit";

// Bitmap arguments up to this value are numeric identifiers rather than pointers to names, as
// the system's resource loader has always told them apart.
constexpr std::uintptr_t kLargestBitmapId = 0xFFFF;

struct SystemColorRole {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// The Windows system colour indices 0 to 30, in order, mapped onto the palette roles that play
// the same part in a Qt style.
constexpr SystemColorRole kSystemColorRoles[] = {
    { QPalette::Active, QPalette::Button }, // 0 scroll bar
    { QPalette::Active, QPalette::Dark }, // 1 desktop
    { QPalette::Active, QPalette::Highlight }, // 2 active caption
    { QPalette::Inactive, QPalette::Highlight }, // 3 inactive caption
    { QPalette::Active, QPalette::Window }, // 4 menu
    { QPalette::Active, QPalette::Base }, // 5 window
    { QPalette::Active, QPalette::Shadow }, // 6 window frame
    { QPalette::Active, QPalette::WindowText }, // 7 menu text
    { QPalette::Active, QPalette::Text }, // 8 window text
    { QPalette::Active, QPalette::HighlightedText }, // 9 caption text
    { QPalette::Active, QPalette::Button }, // 10 active border
    { QPalette::Inactive, QPalette::Button }, // 11 inactive border
    { QPalette::Active, QPalette::Dark }, // 12 application workspace
    { QPalette::Active, QPalette::Highlight }, // 13 highlight
    { QPalette::Active, QPalette::HighlightedText }, // 14 highlighted text
    { QPalette::Active, QPalette::Button }, // 15 button face
    { QPalette::Active, QPalette::Dark }, // 16 button shadow
    { QPalette::Disabled, QPalette::Text }, // 17 grey text
    { QPalette::Active, QPalette::ButtonText }, // 18 button text
    { QPalette::Inactive, QPalette::HighlightedText }, // 19 inactive caption text
    { QPalette::Active, QPalette::Light }, // 20 button highlight
    { QPalette::Active, QPalette::Shadow }, // 21 3-D dark shadow
    { QPalette::Active, QPalette::Midlight }, // 22 3-D light
    { QPalette::Active, QPalette::ToolTipText }, // 23 info text
    { QPalette::Active, QPalette::ToolTipBase }, // 24 info background
    { QPalette::Active, QPalette::NoRole }, // 25 unused: black
    { QPalette::Active, QPalette::Link }, // 26 hot-tracked item
    { QPalette::Active, QPalette::Highlight }, // 27 gradient of the active caption
    { QPalette::Inactive, QPalette::Highlight }, // 28 gradient of the inactive caption
    { QPalette::Active, QPalette::Highlight }, // 29 menu highlight
    { QPalette::Active, QPalette::Window }, // 30 menu bar
};

// a * b / c rounded to the nearest integer, halves away from zero, computed in 64 bits.
int mulDiv(int a, int b, int c)
{
    const std::int64_t product = static_cast<std::int64_t>(a) * b;
    const std::int64_t half = (c < 0 ? -c : c) / 2;
    const bool negative = (product < 0) != (c < 0);
    const std::int64_t magnitude = ((product < 0 ? -product : product) + half) / (c < 0 ? -c : c);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

Canvas canvasOn(QImage image)
{
    Canvas canvas;
    if (image.isNull())
        return canvas;
    canvas.bitmap = std::make_unique<QImage>(std::move(image));
    canvas.context = std::make_unique<QPainter>(canvas.bitmap.get());
    if (!canvas.context->isActive())
        FreeCanvas(canvas);
    return canvas;
}

} // namespace

Canvas::Canvas() = default;
Canvas::Canvas(Canvas &&) noexcept = default;
Canvas::~Canvas() = default;

Canvas &Canvas::operator=(Canvas &&other) noexcept
{
    // The old painter must end before its bitmap goes.
    context = std::move(other.context);
    bitmap = std::move(other.bitmap);
    hasBrush = std::exchange(other.hasBrush, false);
    return *this;
}

QColor ResolveColor(ColorValue color)
{
    if (color >= 0)
        return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
    const unsigned index = static_cast<std::uint32_t>(color) & 0xFF;
    if (index >= std::size(kSystemColorRoles) || kSystemColorRoles[index].role == QPalette::NoRole)
        return QColor(Qt::black);
    const QPalette palette = qGuiApp ? QGuiApplication::palette() : QPalette();
    return palette.color(kSystemColorRoles[index].group, kSystemColorRoles[index].role);
}

Canvas CreateCanvas(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.fill(Qt::white);
    return canvasOn(std::move(image));
}

Canvas LoadCanvas(const QString &path)
{
    // Only a file is read: a pipe named here would hold the caller until something wrote to it.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return {};
    QImage image(path);
    if (image.isNull())
        return {};
    return canvasOn(image.convertToFormat(QImage::Format_RGB32));
}

Canvas LoadCanvas(std::uintptr_t module, std::uintptr_t bitmap)
{
    return LoadCanvas(BitmapResourcePath(module, bitmap));
}

QString BitmapResourcePath(std::uintptr_t module, std::uintptr_t bitmap)
{
    if (bitmap == 0)
        return {};
    const QString folder = module == 0 ? QString::fromLatin1(kOwnResourceFolder)
                                       : QString::fromUtf8(reinterpret_cast<const char *>(module));
    if (bitmap <= kLargestBitmapId)
        return folder + QStringLiteral("/#") + QString::number(bitmap);
    const QString name = QString::fromUtf8(reinterpret_cast<const char *>(bitmap));
    if (name.startsWith(QLatin1Char(':')) || name.startsWith(QLatin1Char('/')))
        return name;
    return folder + QLatin1Char('/') + name;
}

void FreeCanvas(Canvas &canvas)
{
    canvas.context.reset();
    canvas.bitmap.reset();
    canvas.hasBrush = false;
}

void SetCanvasBrush(Canvas &canvas, ColorValue color)
{
    if (canvas.isNull())
        return;
    canvas.context->setBrush(ResolveColor(color));
    canvas.hasBrush = true;
}

QFont SetCanvasFont(
    Canvas &canvas, int points, const QString &face, ColorValue color, unsigned flags)
{
    if (canvas.isNull())
        return {};
    return SetContextFont(*canvas.context, points, face, color, flags);
}

QFont SetContextFont(
    QPainter &context, int points, const QString &face, ColorValue color, unsigned flags)
{
    const int pixelsPerInch = context.device() ? context.device()->logicalDpiX() : 96;
    return CreateContextFont(context, -mulDiv(points, pixelsPerInch, 72), face, color, flags);
}

QFont CreateContextFont(
    QPainter &context, int height, const QString &face, ColorValue color, unsigned flags)
{
    QFont font(face);
    if (height != 0)
        font.setPixelSize(height < 0 ? -height : height);
    font.setWeight((flags & StyleBold) ? QFont::Bold : QFont::Normal);
    font.setItalic(flags & StyleItalic);
    font.setUnderline(flags & StyleUnderline);
    font.setStrikeOut(flags & StyleStrikeOut);
    context.setFont(font);
    context.setPen(ResolveColor(color));
    return context.font();
}

int TextWidth(QPainter &context, const QString &text)
{
    return context.fontMetrics().horizontalAdvance(text);
}

int TextHeight(QPainter &context, const QString &)
{
    return context.fontMetrics().height();
}

void DrawTextAt(QPainter &context, int x, int y, const QString &text)
{
    context.setBackgroundMode(Qt::TransparentMode);
    context.drawText(x, y + context.fontMetrics().ascent(), text);
}

void CopyBlock(QPainter &context, int x, int y, int width, int height, const QImage &source,
    int sourceX, int sourceY, RasterOp op)
{
    const QRect wanted(sourceX, sourceY, width, height);
    const QRect available = wanted.intersected(source.rect());
    if (available.isEmpty())
        return;
    const QPainter::CompositionMode previous = context.compositionMode();
    context.setCompositionMode(op == RasterOp::And ? QPainter::RasterOp_SourceAndDestination
                                                   : QPainter::CompositionMode_Source);
    const QPoint at(x + available.x() - sourceX, y + available.y() - sourceY);
    if (source.hasAlphaChannel()) {
        // A block copy takes the colours as they are stored: a painter would first weigh them
        // by their transparency, darkening a half-clear pixel and blackening a clear one.
        QImage block = source.copy(available);
        if (block.format() != QImage::Format_ARGB32
            && block.format() != QImage::Format_ARGB32_Premultiplied)
            block = block.convertToFormat(QImage::Format_ARGB32);
        for (int row = 0; row < block.height(); ++row) {
            auto *pixels = reinterpret_cast<QRgb *>(block.scanLine(row));
            for (int column = 0; column < block.width(); ++column)
                pixels[column] |= 0xFF000000u;
        }
        block.reinterpretAsFormat(QImage::Format_RGB32);
        context.drawImage(at, block);
    } else {
        context.drawImage(at, source, available);
    }
    context.setCompositionMode(previous);
}

void InvertWithBrush(QPainter &context, const QRect &rect)
{
    const QPainter::CompositionMode previous = context.compositionMode();
    context.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    context.fillRect(rect, context.brush().color());
    context.setCompositionMode(previous);
}

QPoint CentreOnWorkArea(int width, int height)
{
    const QScreen *screen = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
    if (!screen)
        return {};
    const QRect area = screen->availableGeometry();
    return QPoint(static_cast<int>((std::int64_t(area.width()) - width) / 2),
        static_cast<int>((std::int64_t(area.height()) - height) / 2));
}

} // namespace orvkit
