#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include <cstdint>
#include <memory>

class QPainter;

// The drawing helpers shared by the about box, the splash screen and the tip dialog: off-screen
// canvases, fonts chosen by point size and style flags, and colour values that may name a
// system colour. They keep no state; every canvas belongs to whoever made it.
//
// A "drawing context" here is a QPainter that is active on a QImage: it carries the current
// font, the text colour (its pen) and the brush, as a device context did. A canvas may be used
// by one thread at a time; the thread may change when the hand-over itself is synchronised
// (starting a thread, a mutex).
namespace orvkit {

// A colour as the maker's routines pass it. Zero or positive: red in the lowest byte, then
// green, then blue (0x00BBGGRR; 0x00FFFF is yellow, 0xFF0000 blue). Negative: a system colour,
// whose index is the lowest byte (0x8000000F is index 15, the button face); the other bits are
// ignored.
using ColorValue = std::int32_t;

// Builds a ColorValue from its three components, each 0 to 255.
constexpr ColorValue rgbValue(int red, int green, int blue)
{
    return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}

// A system colour index as a negative ColorValue.
constexpr ColorValue systemColor(int index)
{
    return static_cast<ColorValue>(0x80000000u | static_cast<std::uint32_t>(index & 0xFF));
}

// System colour indices the library uses.
constexpr int kColorButtonFace = 15;

// Font styles, or-ed together. Only these four bits count; higher bits change nothing.
enum StyleFlag : unsigned {
    StyleBold = 1, // weight 700 instead of 400
    StyleItalic = 2,
    StyleUnderline = 4,
    StyleStrikeOut = 8,
};

// How a block copy combines the source with the destination.
enum class RasterOp {
    Copy, // the source replaces the destination
    And, // bitwise AND: white leaves the destination, black blackens it
};

// Returns the RGB colour of a ColorValue. System colours come from the application's palette
// (a default palette without an application), so call it on the GUI thread for those; plain
// RGB values may be resolved on any thread. An index that names no system colour gives black.
QColor ResolveColor(ColorValue color);

// An off-screen picture with a drawing context of its own. The painter stays active on the
// bitmap from creation until FreeCanvas, keeping its last brush, font and text colour; the
// bitmap is heap-held so that the painter's device stays put when the record moves. A canvas
// whose bitmap could not be made or loaded has no bitmap and no context; every helper then
// does nothing and measures 0.
struct Canvas {
    std::unique_ptr<QImage> bitmap; // the canvas's own pixels, QImage::Format_RGB32
    std::unique_ptr<QPainter> context; // active on *bitmap; destroyed before it
    bool hasBrush = false; // set by SetCanvasBrush

    Canvas();
    Canvas(Canvas &&) noexcept;
    Canvas &operator=(Canvas &&) noexcept;
    ~Canvas();

    bool isNull() const { return !context; }
    QImage *image() const { return bitmap.get(); }
    QPainter *painter() const { return context.get(); }
};

// A new canvas of width x height pixels, entirely white, with the default resolution of the
// display. A width or height of 0 or less gives a null canvas.
Canvas CreateCanvas(int width, int height);

// A canvas holding the picture at path (a Qt resource path such as ":/orvkit/BACK", or a file),
// of the picture's own size. A picture that cannot be read gives a null canvas.
Canvas LoadCanvas(const QString &path);

// A canvas holding the bitmap named by a module and a bitmap argument of the exported
// routines, as orvkit.h describes them (module 0: this library's resources; bitmap: a name or a
// numeric identifier). A bitmap that cannot be found gives a null canvas.
Canvas LoadCanvas(std::uintptr_t module, std::uintptr_t bitmap);

// The path that LoadCanvas(module, bitmap) reads, as orvkit.h describes it; empty when bitmap
// is 0. Reads the caller's strings, so both must be 0 or point at zero-terminated text.
QString BitmapResourcePath(std::uintptr_t module, std::uintptr_t bitmap);

// Ends the canvas's drawing context and releases its bitmap and brush; the record becomes a
// null canvas and may be filled anew. Freeing a null canvas does nothing.
void FreeCanvas(Canvas &canvas);

// Selects a solid brush of the colour into the canvas's context; it replaces the previous one.
void SetCanvasBrush(Canvas &canvas, ColorValue color);

// SetContextFont on the canvas's context. Returns the font selected (a default QFont for a null
// canvas).
QFont SetCanvasFont(
    Canvas &canvas, int points, const QString &face, ColorValue color, unsigned flags);

// Selects a font of the given size in points, converted to a character height in pixels at the
// context's horizontal resolution (its device's logicalDpiX, not the vertical one), rounded to
// the nearest pixel: at 96 pixels per inch, 8 points are 11 pixels, 10 are 13 and 26 are 35.
// Sets the text colour to the colour and returns the font.
QFont SetContextFont(
    QPainter &context, int points, const QString &face, ColorValue color, unsigned flags);

// Selects a font of the given height in pixels (negative: the character height, as
// SetContextFont gives; positive heights are taken as the same size), with weight 700 for
// StyleBold and 400 otherwise, italic, underline and strike-out from the flags; 0 gives the
// face's default size. Sets the text colour to the colour and returns the font.
QFont CreateContextFont(
    QPainter &context, int height, const QString &face, ColorValue color, unsigned flags);

// Width and height, in pixels, of the whole text in the context's current font. The height is
// the font's line height (ascent plus descent), whatever the text.
int TextWidth(QPainter &context, const QString &text);
int TextHeight(QPainter &context, const QString &text);

// Draws the text with its cell's top-left corner at x, y in the context's font and text colour,
// over a transparent background.
void DrawTextAt(QPainter &context, int x, int y, const QString &text);

// Copies the width x height block of source at sourceX, sourceY into the context's device at
// x, y, combined by op. Parts of the block outside the source are left unchanged.
void CopyBlock(QPainter &context, int x, int y, int width, int height, const QImage &source,
    int sourceX, int sourceY, RasterOp op = RasterOp::Copy);

// Inverts the rectangle with the context's brush colour: a bitwise exclusive OR of the colour
// into every pixel, so that inverting twice restores the picture.
void InvertWithBrush(QPainter &context, const QRect &rect);

// The top-left corner for a window of width x height centred in the primary screen's available
// area: each coordinate is (available size - window size) / 2, truncated toward zero. The area's
// own left and top are not added, as the maker's routines never did. Call on the GUI thread.
QPoint CentreOnWorkArea(int width, int height);

} // namespace orvkit
