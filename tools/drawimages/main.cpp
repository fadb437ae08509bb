// drawimages: draws every image that the program compiles in (splash screen, window icon and the
// action icons) and the icons it installs for the desktop (the application and its three file
// types, as PNG at the usual sizes and as SVG), and writes them into the folder named on the
// command line. The images are ours alone and are re-rendered from this code rather than edited
// by hand, so that the set stays coherent: one palette, one stroke width, one padlock.

#include "Version.h"

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <QSvgGenerator>
#include <QTextStream>

#include <functional>
#include <vector>

namespace {

// The palette, shared by every image.
const QColor ink(0x2b, 0x36, 0x4a);         // outlines and dark details
const QColor paper(0xff, 0xff, 0xff);       // pages and key faces
const QColor paperShade(0xd9, 0xe1, 0xec);  // folded corners, key sides
const QColor blue(0x35, 0x74, 0xc4);        // primary colour
const QColor blueLight(0xcd, 0xe3, 0xf8);   // glass, light blue areas
const QColor gold(0xf2, 0xb1, 0x2e);        // padlocks, pencil
const QColor goldShade(0xd8, 0x93, 0x16);   // the padlock's lower band
const QColor steel(0xa9, 0xb6, 0xc8);       // shackles, disk shutter
const QColor folderBack(0xe3, 0xa6, 0x4a);  // folder back and tab
const QColor folderFront(0xf7, 0xcb, 0x6e); // folder front

// Every icon is drawn on a 32-unit grid with this outline width; icons of other sizes scale the
// grid, so their outlines scale with them. Only the splash screen, which shows the emblem many
// times larger, thins it for a while (LineWidthScope).
qreal stroke = 2.0;

// Sets a different outline width for as long as it lives.
class LineWidthScope
{
public:
    explicit LineWidthScope(qreal width) : previous(stroke) { stroke = width; }
    ~LineWidthScope() { stroke = previous; }
    LineWidthScope(const LineWidthScope&) = delete;
    LineWidthScope& operator=(const LineWidthScope&) = delete;

private:
    const qreal previous;
};

// While set, shapes are drawn with this area left out. It keeps a margin free around a shape that
// is drawn over others afterwards, by geometry instead of by erasing pixels, so that it works
// for SVG as well as for raster images.
QPainterPath cutOut;

// Sets the cut-out for as long as it lives.
class CutOutScope
{
public:
    explicit CutOutScope(const QPainterPath& area) { cutOut = area; }
    ~CutOutScope() { cutOut = QPainterPath(); }
    CutOutScope(const CutOutScope&) = delete;
    CutOutScope& operator=(const CutOutScope&) = delete;
};

// The area a pen covers along a path.
QPainterPath strokeArea(const QPainterPath& path, const QPen& pen)
{
    QPainterPathStroker stroker(pen);
    return stroker.createStroke(path);
}

void paintFill(QPainter& painter, const QPainterPath& path, const QBrush& brush)
{
    painter.fillPath(cutOut.isEmpty() ? path : path.subtracted(cutOut), brush);
}

void paintStroke(QPainter& painter, const QPainterPath& path, const QPen& pen)
{
    if (cutOut.isEmpty())
        painter.strokePath(path, pen);
    else
        painter.fillPath(strokeArea(path, pen).subtracted(cutOut), pen.brush());
}

QPen outlinePen(const QColor& color = ink, qreal width = stroke)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QImage transparentCanvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Sets up a painter for an icon of the given pixel size drawn on the 32-unit grid.
void beginIcon(QPainter& painter, int pixels)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.scale(pixels / 32.0, pixels / 32.0);
}

void fillAndOutline(QPainter& painter, const QPainterPath& path, const QColor& fill)
{
    if (!cutOut.isEmpty()) {
        paintFill(painter, path, fill);
        paintStroke(painter, path, outlinePen());
        return;
    }
    painter.setPen(outlinePen());
    painter.setBrush(fill);
    painter.drawPath(path);
}

// A line drawn as a coloured band with an ink edge, so that it keeps its outline like the filled
// shapes do.
void drawBand(QPainter& painter, const QPainterPath& path, qreal width, const QColor& fill)
{
    painter.setBrush(Qt::NoBrush);
    painter.setPen(outlinePen(ink, width + 2 * stroke));
    painter.drawPath(path);
    painter.setPen(outlinePen(fill, width));
    painter.drawPath(path);
}

QPainterPath roundedRect(const QRectF& rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// Text as a path centred on the given point: glyphs as outlines centre exactly, whatever the font
// metrics say about ascent and descent.
QPainterPath centredText(const QString& text, const QFont& font, const QPointF& centre)
{
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF bounds = path.boundingRect();
    return path.translated(centre - bounds.center());
}

QFont boldFont(qreal pixelSize)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(qRound(pixelSize));
    font.setBold(true);
    return font;
}

// --- Shared motifs -------------------------------------------------------------------------------

// A sheet of paper with a folded top-right corner; optional text lines for the logo.
void drawPage(QPainter& painter, const QRectF& rect, qreal fold, int textLines)
{
    QPainterPath sheet;
    sheet.moveTo(rect.topLeft());
    sheet.lineTo(rect.right() - fold, rect.top());
    sheet.lineTo(rect.right(), rect.top() + fold);
    sheet.lineTo(rect.bottomRight());
    sheet.lineTo(rect.bottomLeft());
    sheet.closeSubpath();
    fillAndOutline(painter, sheet, paper);

    QPainterPath corner;
    corner.moveTo(rect.right() - fold, rect.top());
    corner.lineTo(rect.right() - fold, rect.top() + fold);
    corner.lineTo(rect.right(), rect.top() + fold);
    corner.closeSubpath();
    fillAndOutline(painter, corner, paperShade);

    const qreal left = rect.left() + 4;
    QPainterPath lines;
    for (int line = 0; line < textLines; ++line) {
        const qreal y = rect.top() + fold + 4 + line * 4;
        const qreal right = rect.right() - (line % 2 == 0 ? 4 : 7);
        lines.moveTo(left, y);
        lines.lineTo(right, y);
    }
    paintStroke(painter, lines, outlinePen(steel, stroke));
}

// The padlock that marks everything secret, as shapes: the shackle as a centre line drawn as a
// band, and the case. `body` is the case; the shackle rises above it, lifted and swung free on the
// left when `open`.
struct Padlock
{
    QRectF body;
    QPainterPath shackle;
    qreal shackleWidth;
    QPainterPath lockCase;
};

Padlock padlockShape(const QRectF& body, bool open)
{
    const qreal inset = body.width() * 0.25;
    const qreal legLeft = body.left() + inset;
    const qreal legRight = body.right() - inset;
    const qreal radius = (legRight - legLeft) / 2;
    const qreal lift = open ? body.height() * 0.25 : 0;
    const qreal archBottom = body.top() - body.height() * 0.2 - lift;

    Padlock lock{body, QPainterPath(), body.width() * 0.13, roundedRect(body, body.width() * 0.12)};
    lock.shackle.moveTo(legRight, body.top() + 1);
    lock.shackle.lineTo(legRight, archBottom);
    lock.shackle.arcTo(QRectF(legLeft, archBottom - radius, 2 * radius, 2 * radius), 0, 180);
    lock.shackle.lineTo(legLeft, open ? archBottom : body.top() + 1);
    return lock;
}

// The same margin as an area, for CutOutScope.
QPainterPath padlockGap(const Padlock& lock, qreal gap)
{
    QPainterPath loop = lock.shackle;
    loop.closeSubpath();
    const auto roundPen = [](qreal width) {
        return QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    };
    return strokeArea(loop, roundPen(lock.shackleWidth + 2 * stroke + 2 * gap))
        .united(loop)
        .united(strokeArea(lock.lockCase, roundPen(stroke + 2 * gap)))
        .united(lock.lockCase);
}

void drawPadlock(QPainter& painter, const Padlock& lock)
{
    drawBand(painter, lock.shackle, lock.shackleWidth, steel);
    fillAndOutline(painter, lock.lockCase, gold);

    // A darker lower band gives the case some body without adding lines. Intersected rather than
    // clipped: SVG output knows no clipping.
    const QRectF& body = lock.body;
    QPainterPath band;
    band.addRect(
        QRectF(body.left(), body.center().y() + body.height() * 0.22, body.width(), body.height()));
    painter.fillPath(band.intersected(lock.lockCase), goldShade);
    painter.setPen(outlinePen());
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(lock.lockCase);

    // Keyhole: a round head and a tapering slot.
    const QPointF head(body.center().x(), body.top() + body.height() * 0.42);
    const qreal headRadius = body.width() * 0.1;
    QPainterPath keyhole;
    keyhole.addEllipse(head, headRadius, headRadius);
    QPainterPath slot;
    slot.moveTo(head.x() - headRadius * 0.55, head.y());
    slot.lineTo(head.x() + headRadius * 0.55, head.y());
    slot.lineTo(head.x() + headRadius * 0.85, head.y() + body.height() * 0.3);
    slot.lineTo(head.x() - headRadius * 0.85, head.y() + body.height() * 0.3);
    slot.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawPath(keyhole.united(slot));
}

// The back of a folder with its tab, spanning `rect`.
void drawFolderBack(QPainter& painter, const QRectF& rect)
{
    QPainterPath back;
    back.moveTo(rect.left(), rect.bottom());
    back.lineTo(rect.left(), rect.top());
    back.lineTo(rect.left() + 9, rect.top());
    back.lineTo(rect.left() + 12, rect.top() + 3);
    back.lineTo(rect.right(), rect.top() + 3);
    back.lineTo(rect.right(), rect.bottom());
    back.closeSubpath();
    fillAndOutline(painter, back, folderBack);
}

// A floppy disk filling the 32-unit grid's box (4, 4)–(28, 28), before any transform.
void drawDisk(QPainter& painter)
{
    QPainterPath body;
    body.moveTo(6, 4);
    body.lineTo(24, 4);
    body.lineTo(28, 8);
    body.lineTo(28, 26);
    body.quadTo(28, 28, 26, 28);
    body.lineTo(6, 28);
    body.quadTo(4, 28, 4, 26);
    body.lineTo(4, 6);
    body.quadTo(4, 4, 6, 4);
    body.closeSubpath();
    fillAndOutline(painter, body, blue);

    // Metal shutter with its window.
    fillAndOutline(painter, roundedRect(QRectF(10, 4, 12, 8), 0.5), steel);
    QPainterPath window;
    window.addRect(QRectF(17, 6, 3, 4));
    paintFill(painter, window, ink);

    // Label.
    fillAndOutline(painter, roundedRect(QRectF(8, 16, 16, 12), 1), paper);
}

// A key cap seen slightly from the front: white top face on a steel base, with a bold legend.
void drawKeycap(QPainter& painter, const QRectF& rect, const QString& legend)
{
    fillAndOutline(painter, roundedRect(rect, 4), steel);
    const QRectF face(rect.left() + 2.5, rect.top() + 2, rect.width() - 5, rect.height() - 7);
    paintFill(painter, roundedRect(face, 2.5), paper);
    if (!legend.isEmpty())
        paintFill(painter, centredText(legend, boldFont(face.height() * 1.25), face.center()), ink);
}

// The key cap shared by the three Type Selection icons, drawn in the upper left so that a sign can
// sit at the lower right.
void drawTypingKey(QPainter& painter)
{
    drawKeycap(painter, QRectF(2, 2, 22, 22), QStringLiteral("a"));
}

// A sign at the lower right of the typing key, in blue, kept apart from the key by a gap.
void drawKeySign(QPainter& painter, const QPainterPath& sign, qreal width)
{
    {
        const CutOutScope gap(strokeArea(
            sign, QPen(Qt::black, width + 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)));
        drawTypingKey(painter);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(blue, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(sign);
}

// An arrow head pointing right with its tip at `tip`.
QPainterPath arrowHead(const QPointF& tip, qreal size)
{
    QPainterPath head;
    head.moveTo(tip + QPointF(-size, -size));
    head.lineTo(tip);
    head.lineTo(tip + QPointF(-size, size));
    return head;
}

// --- The images ----------------------------------------------------------------------------------

void drawNew(QPainter& painter)
{
    drawPage(painter, QRectF(6, 3, 20, 26), 7, 0);
}

void drawOpen(QPainter& painter)
{
    drawFolderBack(painter, QRectF(3, 6, 23, 21));

    // A sheet standing in the opened folder.
    fillAndOutline(painter, roundedRect(QRectF(7, 11, 16, 12), 0.5), paper);

    // The front flap, tilted open towards the viewer.
    QPainterPath front;
    front.moveTo(3, 27);
    front.lineTo(8, 15);
    front.lineTo(30, 15);
    front.lineTo(25, 27);
    front.closeSubpath();
    fillAndOutline(painter, front, folderFront);
}

void drawSave(QPainter& painter)
{
    drawDisk(painter);
}

void drawSaveAs(QPainter& painter)
{
    // A pencil writing towards the lower left, laid across the disk's corner, with a gap
    // around it cut out of the smaller disk.
    QTransform pencil;
    pencil.translate(22.5, 22.5);
    pencil.rotate(45);
    QTransform disk;
    disk.translate(-2, -2);
    disk.scale(0.9, 0.9);
    QPainterPath outline;
    outline.addRect(QRectF(-3.2, -11, 6.4, 15));
    const QPainterPath gap = strokeArea(outline, QPen(Qt::black, 2 * stroke + 3, Qt::SolidLine,
                                                      Qt::RoundCap, Qt::RoundJoin))
                                 .united(outline);
    painter.save();
    painter.setTransform(disk, true);
    {
        const CutOutScope cut((pencil * disk.inverted()).map(gap));
        drawDisk(painter);
    }
    painter.restore();

    painter.setTransform(pencil, true);
    fillAndOutline(painter, roundedRect(QRectF(-3.2, -12, 6.4, 4), 1), steel);
    fillAndOutline(painter, roundedRect(QRectF(-3.2, -8, 6.4, 12), 0.3), gold);
    QPainterPath tip;
    tip.moveTo(-3.2, 4);
    tip.lineTo(3.2, 4);
    tip.lineTo(0, 10);
    tip.closeSubpath();
    fillAndOutline(painter, tip, paper);
    QPainterPath lead;
    lead.moveTo(-1.1, 7.9);
    lead.lineTo(1.1, 7.9);
    lead.lineTo(0, 10);
    lead.closeSubpath();
    painter.setBrush(ink);
    painter.drawPath(lead);
}

void drawSecretsFolder(QPainter& painter)
{
    const Padlock lock = padlockShape(QRectF(17, 19, 13, 11), false);
    {
        const CutOutScope gap(padlockGap(lock, 1.5));
        drawFolderBack(painter, QRectF(2, 5, 26, 20));
        fillAndOutline(painter, roundedRect(QRectF(2, 11, 26, 14), 0.5), folderFront);
    }
    drawPadlock(painter, lock);
}

void drawFind(QPainter& painter)
{

    QPainterPath handle;
    handle.moveTo(19.5, 19.5);
    handle.lineTo(27.5, 27.5);
    drawBand(painter, handle, 4, blue);

    QPainterPath lens;
    lens.addEllipse(QPointF(13, 13), 9, 9);
    painter.setPen(QPen(ink, stroke * 1.5));
    painter.setBrush(blueLight);
    painter.drawPath(lens);

    // A glint on the glass.
    painter.setPen(QPen(paper, stroke, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(7.5, 7.5, 11, 11), 100 * 16, 70 * 16);
}

void drawHelp(QPainter& painter)
{
    QPainterPath circle;
    circle.addEllipse(QPointF(16, 16), 13, 13);
    fillAndOutline(painter, circle, blue);
    painter.setPen(Qt::NoPen);
    painter.setBrush(paper);
    painter.drawPath(centredText(QStringLiteral("?"), boldFont(21), QPointF(16, 16)));
}

void drawType(QPainter& painter)
{

    // A text cursor (I-beam) where the typed letter lands.
    QPainterPath cursor;
    cursor.moveTo(27, 15);
    cursor.lineTo(27, 29);
    cursor.moveTo(24.5, 15);
    cursor.lineTo(29.5, 15);
    cursor.moveTo(24.5, 29);
    cursor.lineTo(29.5, 29);
    drawKeySign(painter, cursor, 2.5);
}

void drawTypeTab(QPainter& painter)
{

    // Tab: an arrow running into a bar, →|.
    QPainterPath sign;
    sign.moveTo(15, 25);
    sign.lineTo(27, 25);
    sign.addPath(arrowHead(QPointF(27, 25), 4));
    sign.moveTo(30, 20);
    sign.lineTo(30, 30);
    drawKeySign(painter, sign, 2.5);
}

void drawTypeReturn(QPainter& painter)
{

    // Return: down from the right, then left into an arrow head, ↵.
    QPainterPath sign;
    sign.moveTo(29, 16);
    sign.lineTo(29, 26);
    sign.lineTo(17, 26);
    QPainterPath head;
    head.moveTo(21, 22);
    head.lineTo(17, 26);
    head.lineTo(21, 30);
    sign.addPath(head);
    drawKeySign(painter, sign, 2.5);
}

// Encrypt and Decrypt are 28 pixels wide: the padlock is drawn on the 32-unit grid and scaled.
void drawEncrypt(QPainter& painter)
{
    drawPadlock(painter, padlockShape(QRectF(6, 16, 20, 14), false));
}

void drawDecrypt(QPainter& painter)
{
    drawPadlock(painter, padlockShape(QRectF(6, 16, 20, 14), true));
}

// The program's emblem: a written page guarded by the padlock. Drawn on the 32-unit grid.
void drawEmblem(QPainter& painter)
{
    const Padlock lock = padlockShape(QRectF(16, 19, 14, 11), false);
    {
        const CutOutScope gap(padlockGap(lock, 1.25));
        drawPage(painter, QRectF(3, 1, 20, 27), 6, 4);
    }
    drawPadlock(painter, lock);
}

void drawLogo(QPainter& painter)
{
    drawEmblem(painter);
}

// --- Desktop icons -------------------------------------------------------------------------------

// The file types Varnisk writes, each drawn as a page holding what the file holds, locked.
enum class FileKind
{
    Secrets, // .stxt: lines of text
    Data,    // .sdat: any bytes, shown as bits
    Image,   // .simg: a picture
};

// Rows of bits, some set (filled) and some clear (outlined), for an encrypted data file.
void drawBits(QPainter& painter, const QRectF& page)
{
    static const char* const rows[] = {"1011", "0110", "1101"};
    const qreal size = 3;
    const qreal step = 4.5;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column) {
            const QRectF bit(page.left() + 3.5 + column * step, page.top() + 9 + row * step, size,
                             size);
            QPainterPath square;
            square.addRect(bit);
            if (rows[row][column] == '1')
                paintFill(painter, square, blue);
            else
                paintStroke(painter, square, QPen(blue, 1.0));
        }
    }
}

// A small landscape in a frame, for an encrypted image.
void drawPicture(QPainter& painter, const QRectF& page)
{
    const QRectF frame(page.left() + 3, page.top() + 8, page.width() - 6, 12);
    paintFill(painter, roundedRect(frame, 0.5), blueLight);
    QPainterPath sun;
    sun.addEllipse(QPointF(frame.right() - 3.5, frame.top() + 3.5), 2, 2);
    paintFill(painter, sun, gold);
    QPainterPath hills;
    hills.moveTo(frame.left(), frame.bottom());
    hills.lineTo(frame.left() + 5, frame.top() + 5);
    hills.lineTo(frame.left() + 9, frame.top() + 9);
    hills.lineTo(frame.left() + 12, frame.top() + 6.5);
    hills.lineTo(frame.right(), frame.bottom());
    hills.closeSubpath();
    paintFill(painter, hills.intersected(roundedRect(frame, 0.5)), blue);
    paintStroke(painter, roundedRect(frame, 0.5), outlinePen(ink, stroke * 0.75));
}

void drawFileIcon(QPainter& painter, FileKind kind)
{
    const QRectF page(5, 1, 21, 28);
    const Padlock lock = padlockShape(QRectF(17, 19, 13, 11), false);
    {
        const CutOutScope gap(padlockGap(lock, 1.25));
        drawPage(painter, page, 6, kind == FileKind::Secrets ? 4 : 0);
        if (kind == FileKind::Data)
            drawBits(painter, page);
        else if (kind == FileKind::Image)
            drawPicture(painter, page);
    }
    drawPadlock(painter, lock);
}

struct DesktopIcon
{
    const char* context; // the hicolor subfolder: apps or mimetypes
    const char* name;    // the icon name: the desktop file's Icon=, or the MIME type with '-'
    std::function<void(QPainter&)> draw; // on the 32-unit grid
};

const std::vector<DesktopIcon>& desktopIcons()
{
    static const std::vector<DesktopIcon> icons = {
        {"apps", "org.nembrow.Varnisk", drawEmblem},
        {"mimetypes", "application-x-varnisk-secrets",
         [](QPainter& painter) { drawFileIcon(painter, FileKind::Secrets); }},
        {"mimetypes", "application-x-varnisk-data",
         [](QPainter& painter) { drawFileIcon(painter, FileKind::Data); }},
        {"mimetypes", "application-x-varnisk-image",
         [](QPainter& painter) { drawFileIcon(painter, FileKind::Image); }},
    };
    return icons;
}

// Writes every desktop icon under `folder`/hicolor, laid out as the icon theme is installed.
bool writeDesktopIcons(const QDir& folder, QTextStream& err)
{
    static const int sizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
    for (const DesktopIcon& icon : desktopIcons()) {
        const QString name = QString::fromLatin1(icon.name);
        for (const int size : sizes) {
            const QString dir = QStringLiteral("hicolor/%1x%1/%2").arg(size).arg(icon.context);
            const QString path = folder.filePath(dir + QLatin1Char('/') + name + ".png");
            QImage image = transparentCanvas(size, size);
            QPainter painter(&image);
            beginIcon(painter, size);
            icon.draw(painter);
            painter.end();
            if (!folder.mkpath(dir) || !image.save(path)) {
                err << "cannot write " << path << "\n";
                return false;
            }
        }
        const QString dir = QStringLiteral("hicolor/scalable/%1").arg(icon.context);
        const QString path = folder.filePath(dir + QLatin1Char('/') + name + ".svg");
        if (!folder.mkpath(dir)) {
            err << "cannot create " << folder.filePath(dir) << "\n";
            return false;
        }
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(QSize(32, 32));
        svg.setViewBox(QRect(0, 0, 32, 32));
        svg.setTitle(name);
        svg.setDescription(QStringLiteral("Varnisk"));
        QPainter painter(&svg);
        beginIcon(painter, 32);
        icon.draw(painter);
        if (!painter.end()) {
            err << "cannot write " << path << "\n";
            return false;
        }
    }
    return true;
}

// The emblem at splash size, on its own transparent layer so that its gaps show the ground.
QImage splashEmblem()
{
    constexpr int scale = 7;
    QImage layer = transparentCanvas(32 * scale, 32 * scale);
    QPainter painter(&layer);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    const LineWidthScope thinLines(0.9);
    drawEmblem(painter);
    return layer;
}

// A blurred dark copy of a layer's silhouette; shrinking and enlarging it smoothly is blur enough.
QImage softShadow(const QImage& layer)
{
    QImage shadow = layer;
    QPainter painter(&shadow);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(shadow.rect(), QColor(0, 0, 0, 90));
    painter.end();
    return shadow.scaled(layer.size() / 10, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(layer.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage drawSplash()
{
    const QSize size(550, 383);
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    const QPointF emblemCentre(140, 184);

    // A calm night-blue ground, lighter where the emblem stands.
    QLinearGradient ground(0, 0, size.width(), size.height());
    ground.setColorAt(0, QColor(0x1f, 0x2f, 0x4b));
    ground.setColorAt(1, QColor(0x12, 0x1c, 0x2e));
    painter.fillRect(image.rect(), ground);
    QRadialGradient glow(emblemCentre, 230);
    glow.setColorAt(0, QColor(0x4a, 0x7d, 0xc0, 110));
    glow.setColorAt(1, QColor(0x4a, 0x7d, 0xc0, 0));
    painter.fillRect(image.rect(), glow);

    // Faint rings around the emblem, like the tumblers of a lock.
    painter.setBrush(Qt::NoBrush);
    for (int ring = 0; ring < 4; ++ring) {
        painter.setPen(QPen(QColor(255, 255, 255, 18 - ring * 3), 1.5));
        const qreal radius = 130 + ring * 38;
        painter.drawEllipse(emblemCentre, radius, radius);
    }

    const QImage emblem = splashEmblem();
    const QPointF emblemAt = emblemCentre - QPointF(emblem.width(), emblem.height()) / 2;
    painter.drawImage(emblemAt + QPointF(0, 8), softShadow(emblem));
    painter.drawImage(emblemAt, emblem);

    const qreal textLeft = 286;
    QFont nameFont(QStringLiteral("DejaVu Sans"));
    nameFont.setPixelSize(52);
    nameFont.setBold(true);
    nameFont.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    painter.setFont(nameFont);
    painter.setPen(paper);
    painter.drawText(QPointF(textLeft, 176), QStringLiteral("Varnisk"));

    painter.setPen(QPen(gold, 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(textLeft + 2, 198), QPointF(textLeft + 62, 198));

    QFont taglineFont(QStringLiteral("DejaVu Sans"));
    taglineFont.setPixelSize(22);
    painter.setFont(taglineFont);
    painter.setPen(blueLight);
    painter.drawText(QPointF(textLeft, 234), QStringLiteral("Secrets editor"));

    QFont versionFont(QStringLiteral("DejaVu Sans"));
    versionFont.setPixelSize(16);
    painter.setFont(versionFont);
    painter.setPen(QColor(0x9f, 0xb3, 0xcf));
    painter.drawText(QPointF(textLeft, 264), QStringLiteral("Version %1.%2")
                                                 .arg(static_cast<int>(Version::major))
                                                 .arg(static_cast<int>(Version::minor)));
    return image;
}

// Writes what `draw` paints on the 32-unit grid as an SVG file of that grid.
bool writeSvg(const QString& path, const QString& title, const std::function<void(QPainter&)>& draw)
{
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(32, 32));
    svg.setViewBox(QRect(0, 0, 32, 32));
    svg.setTitle(title);
    svg.setDescription(QStringLiteral("Varnisk"));
    QPainter painter(&svg);
    beginIcon(painter, 32);
    draw(painter);
    return painter.end();
}

struct IconFile
{
    const char* name; // without the size
    int pixels;
    std::function<void(QPainter&)> draw;
};

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 2) {
        err << "usage: drawimages <output folder>\n";
        return 2;
    }
    const QDir output(arguments.at(1));
    if (!QDir().mkpath(output.absolutePath())) {
        err << "cannot create " << output.absolutePath() << "\n";
        return 1;
    }

    if (!drawSplash().save(output.filePath(QStringLiteral("splash.jpg")), nullptr, 92)) {
        err << "cannot write splash.jpg\n";
        return 1;
    }
    // The emblem as the splash screen shows it, with thinner lines.
    {
        const LineWidthScope thinLines(0.9);
        if (!writeSvg(output.filePath(QStringLiteral("splash-emblem.svg")),
                      QStringLiteral("emblem"), drawEmblem)) {
            err << "cannot write splash-emblem.svg\n";
            return 1;
        }
    }

    const std::vector<IconFile> icons = {
        {"logo", 48, drawLogo},
        {"new", 32, drawNew},
        {"open", 32, drawOpen},
        {"save", 32, drawSave},
        {"saveAs", 32, drawSaveAs},
        {"secretsFolder", 32, drawSecretsFolder},
        {"find", 32, drawFind},
        {"help", 32, drawHelp},
        {"type", 32, drawType},
        {"typeTab", 32, drawTypeTab},
        {"typeReturn", 32, drawTypeReturn},
        {"encrypt", 28, drawEncrypt},
        {"decrypt", 28, drawDecrypt},
    };
    for (const IconFile& icon : icons) {
        const QString name = QString::fromLatin1(icon.name);
        QImage image = transparentCanvas(icon.pixels, icon.pixels);
        QPainter painter(&image);
        beginIcon(painter, icon.pixels);
        icon.draw(painter);
        painter.end();
        // The PNG keeps its historical name: the 28-pixel icons are called ...32 too.
        const QString png = output.filePath(name + QStringLiteral("32.png"));
        const QString svg = output.filePath(name + QStringLiteral(".svg"));
        if (!image.save(icon.pixels == 48 ? output.filePath(QStringLiteral("logo48.png")) : png) ||
            !writeSvg(svg, name, icon.draw)) {
            err << "cannot write " << name << "\n";
            return 1;
        }
    }
    return writeDesktopIcons(QDir(output.filePath(QStringLiteral("icons"))), err) ? 0 : 1;
}
