// Draws the two pictures shown by the main window and writes them as PNG:
//   header.png  377 x 89   wordmark with emblem, transparent background
//   guide.png   507 x 287  how to connect the station's controller board
// and, with --icons, the desktop icons of the package (the emblem alone,
// NxN.png at the usual hicolor sizes).
//
// Regenerate (the PNGs are committed, the build never runs this program):
//   cmake --build <dir> --target draw_pictures && <dir>/tools/draw_pictures <repo>/resources
//   <dir>/tools/draw_pictures --icons <repo>/packaging/icons
// Without a display, prefix the second command with QT_QPA_PLATFORM=offscreen.
// Fonts: DejaVu Sans (Debian package fonts-dejavu-core).

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QPolygonF>
#include <QRadialGradient>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QTextStream>

#include <cmath>
#include <initializer_list>

namespace {

// Palette shared by both pictures.
const QColor kInk(0x1d, 0x2b, 0x3a);        // headings, outlines
const QColor kInkSoft(0x5b, 0x6b, 0x7b);    // secondary text
const QColor kBlue(0x1f, 0x6f, 0xad);       // emblem
const QColor kBlueDark(0x12, 0x47, 0x75);
const QColor kRust(0xdd, 0x6b, 0x20);       // accent: call-outs, signal arcs
const QColor kRustLight(0xff, 0xa8, 0x55);

QFont makeFont(qreal pixelSize, int weight = QFont::Normal, qreal spacing = 0.0)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(static_cast<int>(std::lround(pixelSize)));
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setHintingPreference(QFont::PreferNoHinting);
    if (spacing != 0.0)
        f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return f;
}

QPen roundPen(const QColor &c, qreal w)
{
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void setPaint(QPainter &p, const QPen &pen, const QBrush &brush)
{
    p.setPen(pen);
    p.setBrush(brush);
}

// Two colours blending along the line from one point to another.
QLinearGradient ramp(QPointF from, QPointF to, const QColor &first, const QColor &last)
{
    QLinearGradient g(from, to);
    g.setColorAt(0.0, first);
    g.setColorAt(1.0, last);
    return g;
}

// ---------------------------------------------------------------- header --

// The emblem's mast on its 64-unit grid, mx being the mast's axis: ground
// line, tripod and mast, the cup anemometer on top (spindle, cross arm, a cup
// at each end).
void drawEmblemMast(QPainter &p, qreal mx)
{
    const QColor white(255, 255, 255);
    p.setPen(roundPen(QColor(255, 255, 255, 120), 2.0));
    p.drawLine(QPointF(12, 54), QPointF(44, 54));
    p.setPen(roundPen(white, 2.6));
    p.drawLine(QPointF(mx, 42), QPointF(18, 53.5));
    p.drawLine(QPointF(mx, 42), QPointF(34, 53.5));
    p.setPen(roundPen(white, 3.2));
    p.drawLine(QPointF(mx, 54), QPointF(mx, 17));

    p.setPen(roundPen(white, 2.2));
    p.drawLine(QPointF(mx - 10, 14.5), QPointF(mx + 10, 14.5));
    setPaint(p, Qt::NoPen, white);
    QPainterPath cupL;
    cupL.moveTo(mx - 9.5, 11.0);
    cupL.arcTo(QRectF(mx - 16.5, 11.0, 7.0, 7.0), 90, 180);
    cupL.closeSubpath();
    p.drawPath(cupL);
    QPainterPath cupR;
    cupR.moveTo(mx + 9.5, 11.0);
    cupR.arcTo(QRectF(mx + 9.5 - 3.5, 11.0, 7.0, 7.0), 90, -180);
    cupR.closeSubpath();
    p.drawPath(cupR);
    p.drawEllipse(QPointF(mx, 14.5), 2.6, 2.6);
}

// The logger box on the emblem's mast, its aerial and the radio arcs from the
// aerial's tip.
void drawEmblemLogger(QPainter &p, qreal mx)
{
    const QColor white(255, 255, 255);
    setPaint(p, Qt::NoPen, white);
    p.drawRoundedRect(QRectF(mx + 1.5, 29, 12, 10), 2.0, 2.0);
    p.setBrush(kBlueDark);
    p.drawRoundedRect(QRectF(mx + 4.0, 31.5, 7, 2.2), 0.8, 0.8);
    p.setPen(roundPen(white, 2.0));
    p.drawLine(QPointF(mx + 11, 29), QPointF(mx + 11, 24));

    const QPointF tip(mx + 11.0, 24.0);
    const qreal radii[] = {6.5, 12.0, 17.5};
    for (int i = 0; i < 3; ++i) {
        const qreal r = radii[i];
        QColor c = kRustLight;
        c.setAlpha(255 - i * 35);
        setPaint(p, roundPen(c, 2.6), Qt::NoBrush);
        p.drawArc(QRectF(tip.x() - r, tip.y() - r, 2 * r, 2 * r), -20 * 16, 80 * 16);
    }
}

// Emblem: a station mast with cup anemometer, housing box and radio arcs on
// a rounded blue tile. (x, y) is the tile's top-left corner, s its size.
void drawEmblem(QPainter &p, qreal x, qreal y, qreal s)
{
    p.save();
    p.translate(x, y);
    p.scale(s / 64.0, s / 64.0);   // drawn on a 64-unit grid

    // Soft drop shadow under the tile.
    for (int i = 3; i >= 1; --i) {
        setPaint(p, Qt::NoPen, QColor(0, 0, 0, 14));
        p.drawRoundedRect(QRectF(-i * 0.5, 1.0 + i * 0.6, 64 + i, 64), 14 + i, 14 + i);
    }
    setPaint(p, Qt::NoPen, ramp({0, 0}, {0, 64}, kBlue.lighter(118), kBlueDark));
    p.drawRoundedRect(QRectF(0, 0, 64, 64), 14, 14);
    // Gloss on the upper half.
    p.setBrush(ramp({0, 0}, {0, 34}, QColor(255, 255, 255, 60), QColor(255, 255, 255, 0)));
    p.drawRoundedRect(QRectF(1, 1, 62, 34), 13, 13);

    const qreal mastX = 26.0;
    drawEmblemMast(p, mastX);
    drawEmblemLogger(p, mastX);
    p.restore();
}

QImage drawHeader()
{
    QImage img(377, 89, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    const QFont word = makeFont(50, QFont::Bold, -1.2);
    const QFont sub = makeFont(13, QFont::Normal, 4.6);
    const QString name = QStringLiteral("kestrova");
    const QString line = QStringLiteral("configurator");
    const QFontMetricsF fmWord(word);
    const QFontMetricsF fmSub(sub);

    const qreal emblem = 66.0;
    const qreal gap = 16.0;
    const qreal wordW = fmWord.horizontalAdvance(name);
    const qreal total = emblem + gap + wordW;
    const qreal x0 = std::round((img.width() - total) / 2.0);
    const qreal ey = std::round((img.height() - emblem) / 2.0) - 1.0;

    drawEmblem(p, x0, ey, emblem);

    // Wordmark, its baseline a little below the middle of the tile.
    const qreal tx = x0 + emblem + gap;
    const qreal base = ey + 45.0;
    p.setFont(word);
    p.setPen(kInk);
    p.drawText(QPointF(tx, base), name);

    // Sub-line: spaced lower case, followed by a thin rust rule to the end
    // of the wordmark.
    p.setFont(sub);
    p.setPen(kInkSoft);
    const qreal subBase = ey + emblem - 4.0;
    const qreal subX = tx + 3.0;
    p.drawText(QPointF(subX, subBase), line);
    const qreal subEnd = subX + fmSub.horizontalAdvance(line) + 4.0;
    const qreal ruleEnd = tx + wordW - 3.0;
    if (ruleEnd > subEnd + 8.0) {
        p.setPen(QPen(kRust, 2.0, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(subEnd, subBase - 4.5), QPointF(ruleEnd, subBase - 4.5));
    }
    p.end();
    return img;
}

// ----------------------------------------------------------------- guide --

// Colours the guide's parts share.
const QColor kHousingEdge(0x4f, 0x5b, 0x67);   // housing, lid, glands, hinges
const QColor kPartEdge(0x6f, 0x7a, 0x85);      // thin outlines: cavity, hinge pins, parts
const QColor kPinMetal(0xc9, 0xcf, 0xd5);      // pins and tabs of parts
const QColor kGold(0xd9, 0xb2, 0x5a);          // plated pads and contacts
const QColor kCable(0x1c, 0x21, 0x26);         // coax and USB cable

void screwHead(QPainter &p, QPointF c, qreal r)
{
    QRadialGradient g(c - QPointF(r * 0.4, r * 0.4), r * 1.6);
    g.setColorAt(0.0, QColor(0xf4, 0xf6, 0xf8));
    g.setColorAt(1.0, QColor(0x8d, 0x97, 0xa1));
    setPaint(p, QPen(QColor(0x5e, 0x6a, 0x76), 0.9), g);
    p.drawEllipse(c, r, r);
    p.setPen(QPen(QColor(0x4a, 0x54, 0x5e), 1.0));
    p.drawLine(c + QPointF(-r * 0.55, -r * 0.55), c + QPointF(r * 0.55, r * 0.55));
    p.drawLine(c + QPointF(-r * 0.55, r * 0.55), c + QPointF(r * 0.55, -r * 0.55));
}

void smdPart(QPainter &p, QRectF r, const QColor &body, bool horizontal = true)
{
    setPaint(p, Qt::NoPen, QColor(0xd8, 0xdc, 0xe0));
    p.drawRect(r);
    p.setBrush(body);
    if (horizontal)
        p.drawRect(r.adjusted(r.width() * 0.25, 0, -r.width() * 0.25, 0));
    else
        p.drawRect(r.adjusted(0, r.height() * 0.25, 0, -r.height() * 0.25));
}

void trace(QPainter &p, std::initializer_list<QPointF> pts, qreal w = 1.6)
{
    QPolygonF poly;
    for (const QPointF &pt : pts)
        poly << pt;
    setPaint(p, roundPen(QColor(0x3f, 0x9c, 0x6c), w), Qt::NoBrush);
    p.drawPolyline(poly);
}

void via(QPainter &p, QPointF c)
{
    setPaint(p, Qt::NoPen, kGold);
    p.drawEllipse(c, 2.2, 2.2);
    p.setBrush(QColor(0x14, 0x4a, 0x33));
    p.drawEllipse(c, 0.9, 0.9);
}

void silk(QPainter &p, QPointF at, const QString &text, qreal px = 7.0)
{
    p.setFont(makeFont(px, QFont::Bold));
    p.setPen(QColor(255, 255, 255, 220));
    p.drawText(at, text);
}

// A numbered call-out: a ring round the part, a leader from the ring to the
// badge (horizontal from kneeX on), the badge, a caption and a smaller hint.
void callout(QPainter &p, int number, QPointF badge, QRectF part, QPointF target, qreal kneeX,
             const QString &caption, const QString &hint)
{
    const qreal r = 11.5;
    const QColor halo(255, 255, 255, 210);

    QPainterPath leader;
    leader.moveTo(target);
    leader.lineTo(QPointF(kneeX, badge.y()));
    leader.lineTo(QPointF(badge.x() - r, badge.y()));
    setPaint(p, roundPen(halo, 4.2), Qt::NoBrush);
    p.drawPath(leader);
    p.drawEllipse(part);
    p.setPen(roundPen(kRust, 1.7));
    p.drawPath(leader);
    p.drawEllipse(part);
    setPaint(p, Qt::NoPen, kRust);
    p.drawEllipse(target, 2.4, 2.4);

    // Badge.
    setPaint(p, Qt::NoPen, QColor(0, 0, 0, 30));
    p.drawEllipse(badge + QPointF(0, 1.2), r + 0.5, r + 0.5);
    setPaint(p, QPen(QColor(255, 255, 255), 1.6),
             ramp(badge - QPointF(0, r), badge + QPointF(0, r), kRust.lighter(112), kRust.darker(112)));
    p.drawEllipse(badge, r, r);
    p.setFont(makeFont(14, QFont::Bold));
    p.setPen(Qt::white);
    p.drawText(QRectF(badge.x() - r, badge.y() - r, 2 * r, 2 * r + 0.5), Qt::AlignCenter,
               QString::number(number));

    // Caption and hint.
    p.setFont(makeFont(14, QFont::Bold));
    p.setPen(kInk);
    p.drawText(QPointF(badge.x() + r + 8.0, badge.y() - 0.5), caption);
    p.setFont(makeFont(11));
    p.setPen(kInkSoft);
    p.drawText(QPointF(badge.x() + r + 8.0, badge.y() + 13.0), hint);
}

// Where the guide's pieces sit. What is on the board is placed from its edges
// (L, T, R, B) or from the parts the call-outs point at.
struct GuideLayout {
    QSize size{507, 287};
    QRectF body{96, 20, 206, 246};   // the housing, outside
    QRectF cavity = body.adjusted(11, 11, -11, -11);
    QRectF battery{cavity.left() + 10, cavity.bottom() - 50, 80, 42};
    QRectF board{cavity.left() + 7, cavity.top() + 9, 166, 148};
    qreal L = board.left(), T = board.top(), R = board.right(), B = board.bottom();
    QPointF mcu{L + 78, T + 80};     // microcontroller centre
    QPointF sw{R - 9, T + 30};       // power switch (slide)
    QPointF usb{L + 96, B};          // USB socket on the lower edge
    QPointF btn{R - 14, B - 14};     // push button
    QRectF modem{L + 16, T + 14, 56, 40};   // cellular modem
};

// Pale drawing sheet with a faint grid.
void drawSheet(QPainter &p, QSize size)
{
    p.fillRect(QRect(QPoint(0, 0), size),
               ramp({0, 0}, QPointF(0, size.height()), QColor(0xfb, 0xfc, 0xfd), QColor(0xec, 0xf0, 0xf4)));
    p.setPen(QPen(QColor(0x1f, 0x6f, 0xad, 16), 1.0));
    for (int x = 8; x < size.width(); x += 16)
        p.drawLine(QPointF(x + 0.5, 0), QPointF(x + 0.5, size.height()));
    for (int y = 8; y < size.height(); y += 16)
        p.drawLine(QPointF(0, y + 0.5), QPointF(size.width(), y + 0.5));
}

// A cable gland under the housing, its sensor cable running off the picture.
void drawCableGland(QPainter &p, const GuideLayout &g, qreal cx)
{
    setPaint(p, Qt::NoPen, QColor(0x33, 0x39, 0x40));
    p.drawRect(QRectF(cx - 3.5, g.body.bottom() + 8, 7, g.size.height()));
    QLinearGradient metal(cx - 9, 0, cx + 9, 0);
    metal.setColorAt(0.0, QColor(0x9a, 0xa3, 0xad));
    metal.setColorAt(0.5, QColor(0xe2, 0xe6, 0xea));
    metal.setColorAt(1.0, QColor(0x86, 0x90, 0x9a));
    setPaint(p, QPen(kHousingEdge, 0.9), metal);
    p.drawRoundedRect(QRectF(cx - 9, g.body.bottom() - 2, 18, 7), 1.5, 1.5);
    p.drawRoundedRect(QRectF(cx - 6.5, g.body.bottom() + 5, 13, 5), 1.5, 1.5);
}

// What shows round the housing's shell: its shadow, the antenna on top and
// the cable glands underneath.
void drawHousingSurround(QPainter &p, const GuideLayout &g)
{
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        p.setBrush(QColor(0x1d, 0x2b, 0x3a, 10));
        p.drawRoundedRect(g.body.translated(3, 4).adjusted(-i, -i, i, i), 12 + i, 12 + i);
    }
    p.setBrush(ramp({258, 0}, {274, 0}, QColor(0x3a, 0x42, 0x4a), QColor(0x1f, 0x25, 0x2b)));   // antenna
    p.drawRoundedRect(QRectF(258, 12, 16, 10), 2, 2);
    p.drawRoundedRect(QRectF(262, 2, 8, 14), 3, 3);
    drawCableGland(p, g, 136);
    drawCableGland(p, g, 164);
}

// The housing's shell, the cavity inside it and the screws in the rim's corners.
void drawHousingShell(QPainter &p, const GuideLayout &g)
{
    const QRectF &body = g.body, &cavity = g.cavity;
    setPaint(p, QPen(kHousingEdge, 1.4),
             ramp({body.left(), 0}, {body.right(), 0}, QColor(0xe9, 0xec, 0xef), QColor(0xd3, 0xd9, 0xdf)));
    p.drawRoundedRect(body, 11, 11);

    // Cavity: darker, shaded from the top-left wall.
    setPaint(p, QPen(kPartEdge, 1.0),
             ramp(cavity.topLeft(), cavity.bottomRight(), QColor(0xa9, 0xb2, 0xbb), QColor(0xc4, 0xcb, 0xd2)));
    p.drawRoundedRect(cavity, 5, 5);
    p.setPen(QPen(QColor(0x1d, 0x2b, 0x3a, 40), 3.0));
    p.drawLine(cavity.topLeft() + QPointF(5, 2), cavity.topRight() + QPointF(-5, 2));
    p.drawLine(cavity.topLeft() + QPointF(2, 5), cavity.bottomLeft() + QPointF(2, -5));

    screwHead(p, body.topLeft() + QPointF(5.8, 5.8), 3.3);
    screwHead(p, body.topRight() + QPointF(-5.8, 5.8), 3.3);
    screwHead(p, body.bottomLeft() + QPointF(5.8, -5.8), 3.3);
    screwHead(p, body.bottomRight() + QPointF(-5.8, -5.8), 3.3);
}

// The lid, swung open to the left on its hinges: seen from inside, the free
// edge nearer to the viewer and therefore taller. A gasket groove runs round
// its inside.
void drawLid(QPainter &p, const QRectF &body)
{
    QPolygonF lid;
    lid << QPointF(body.left() - 3, body.top() + 6) << QPointF(40, body.top() - 12)
        << QPointF(40, body.bottom() + 14) << QPointF(body.left() - 3, body.bottom() - 6);
    setPaint(p, QPen(kHousingEdge, 1.4, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin),
             ramp({40, 0}, {body.left(), 0}, QColor(0xf1, 0xf3, 0xf5), QColor(0xc9, 0xd0, 0xd7)));
    p.drawPolygon(lid);
    QPolygonF gasket;
    gasket << QPointF(body.left() - 9, body.top() + 14) << QPointF(47, body.top() - 1)
           << QPointF(47, body.bottom() + 3) << QPointF(body.left() - 9, body.bottom() - 14);
    setPaint(p, roundPen(QColor(0x2e, 0x35, 0x3c), 2.4), Qt::NoBrush);
    p.drawPolygon(gasket);
}

// Type label on the lid: a flat 40 x 70 card mapped onto the lid's plane.
void drawLidLabel(QPainter &p)
{
    QPolygonF flat;
    flat << QPointF(0, 0) << QPointF(40, 0) << QPointF(40, 70) << QPointF(0, 70);
    QPolygonF onLid;   // left edge on the free (taller) side
    onLid << QPointF(55, 88) << QPointF(80, 94) << QPointF(80, 164) << QPointF(55, 172);
    QTransform t;
    if (!QTransform::quadToQuad(flat, onLid, t))
        return;
    p.save();
    p.setTransform(t, true);
    setPaint(p, QPen(QColor(0x8f, 0x9a, 0xa5), 0.8), QColor(0xfa, 0xfb, 0xfc));
    p.drawRoundedRect(QRectF(0, 0, 40, 70), 3, 3);
    setPaint(p, Qt::NoPen, kBlue);
    p.drawRect(QRectF(0, 0, 40, 12));
    p.setBrush(QColor(0xb7, 0xc0, 0xc9));
    for (int i = 0; i < 5; ++i)
        p.drawRect(QRectF(6, 20 + i * 9, i % 2 ? 20 : 28, 3));
    p.restore();
}

// Hinges joining lid and body.
void drawHinges(QPainter &p, const QRectF &body)
{
    for (qreal hy : {body.top() + 40, body.bottom() - 58}) {
        p.setPen(QPen(kHousingEdge, 1.0));
        QLinearGradient hg(0, hy, 0, hy + 18);
        hg.setColorAt(0.0, QColor(0xb4, 0xbc, 0xc4));
        hg.setColorAt(0.5, QColor(0xef, 0xf1, 0xf3));
        hg.setColorAt(1.0, QColor(0x9a, 0xa3, 0xad));
        p.setBrush(hg);
        p.drawRoundedRect(QRectF(body.left() - 8, hy, 14, 18), 2.5, 2.5);
        p.setPen(QPen(kPartEdge, 1.0));
        p.drawLine(QPointF(body.left() - 1, hy + 1), QPointF(body.left() - 1, hy + 17));
    }
}

// Battery pack in the lower part of the cavity.
void drawBattery(QPainter &p, const QRectF &batt)
{
    setPaint(p, QPen(QColor(0x1a, 0x20, 0x26), 1.0),
             ramp({0, batt.top()}, {0, batt.bottom()}, QColor(0x3b, 0x47, 0x54), QColor(0x25, 0x2e, 0x37)));
    p.drawRoundedRect(batt, 4, 4);
    setPaint(p, Qt::NoPen, QColor(0xf2, 0xb5, 0x3c));
    p.drawRect(QRectF(batt.left() + 8, batt.top() + 13, 30, 16));
    p.setFont(makeFont(9, QFont::Bold));
    p.setPen(QColor(0x25, 0x2e, 0x37));
    p.drawText(QRectF(batt.left() + 8, batt.top() + 13, 30, 16), Qt::AlignCenter,
               QStringLiteral("12 V"));
    p.setPen(QColor(0xc7, 0xd0, 0xd9));
    p.setFont(makeFont(8));
    p.drawText(QPointF(batt.left() + 45, batt.top() + 19), QStringLiteral("Li-ion"));
    p.drawText(QPointF(batt.left() + 45, batt.top() + 30), QStringLiteral("7 Ah"));
}

// The controller board with its shadow and the screws in its mounting holes.
void drawBoard(QPainter &p, const GuideLayout &g)
{
    setPaint(p, Qt::NoPen, QColor(0, 0, 0, 45));
    p.drawRoundedRect(g.board.translated(2.5, 3), 4, 4);
    setPaint(p, QPen(QColor(0x10, 0x45, 0x2e), 1.2),
             ramp(g.board.topLeft(), g.board.bottomRight(), QColor(0x22, 0x7a, 0x52), QColor(0x18, 0x62, 0x42)));
    p.drawRoundedRect(g.board, 4, 4);
    for (QPointF c : {QPointF(g.L + 7, g.T + 7), QPointF(g.R - 7, g.T + 7), QPointF(g.L + 7, g.B - 7),
                      QPointF(g.R - 7, g.B - 7)}) {
        setPaint(p, Qt::NoPen, kGold);
        p.drawEllipse(c, 4.6, 4.6);
        screwHead(p, c, 3.0);
    }
}

// Copper traces and vias, drawn before the parts they join.
void drawTraces(QPainter &p, const GuideLayout &g)
{
    const qreal L = g.L, T = g.T, R = g.R, B = g.B;
    const QPointF mcu = g.mcu, sw = g.sw, usb = g.usb, btn = g.btn;
    trace(p, {QPointF(sw.x() - 8, sw.y() + 4), QPointF(R - 30, sw.y() + 4), QPointF(R - 40, T + 44),
              QPointF(R - 40, T + 58)}, 2.4);
    trace(p, {QPointF(sw.x() - 8, sw.y() - 6), QPointF(R - 26, sw.y() - 6), QPointF(R - 32, T + 18),
              QPointF(L + 80, T + 18)}, 2.4);
    trace(p, {QPointF(usb.x() - 3, B - 10), QPointF(usb.x() - 3, B - 28), QPointF(mcu.x() + 4, mcu.y() + 30),
              QPointF(mcu.x() + 4, mcu.y() + 18)});
    trace(p, {QPointF(usb.x() + 3, B - 10), QPointF(usb.x() + 3, B - 26), QPointF(mcu.x() + 10, mcu.y() + 29),
              QPointF(mcu.x() + 10, mcu.y() + 18)});
    trace(p, {QPointF(mcu.x() - 12, mcu.y() + 18), QPointF(mcu.x() - 12, B - 26), QPointF(L + 44, B - 26),
              QPointF(L + 30, B - 40)}, 1.2);
    trace(p, {QPointF(btn.x() - 8, btn.y()), QPointF(mcu.x() + 42, btn.y()), QPointF(mcu.x() + 26, mcu.y() + 10),
              QPointF(mcu.x() + 20, mcu.y() + 10)});
    for (int i = 0; i < 5; ++i) {
        const qreal y = mcu.y() - 12 + i * 5;
        trace(p, {QPointF(mcu.x() - 20, y), QPointF(L + 36, y), QPointF(L + 30, y - 6 - i * 2),
                  QPointF(L + 30, T + 66 - i * 2)}, 1.2);
    }
    for (int i = 0; i < 4; ++i) {
        const qreal x = mcu.x() - 8 + i * 6;
        trace(p, {QPointF(x, mcu.y() - 18), QPointF(x, T + 62), QPointF(x + 10 + i * 4, T + 52),
                  QPointF(R - 62, T + 52)}, 1.2);
    }
    for (int i = 0; i < 3; ++i) {
        const qreal y = mcu.y() + 2 + i * 5;
        trace(p, {QPointF(mcu.x() + 20, y), QPointF(R - 44, y), QPointF(R - 34, y + 10),
                  QPointF(R - 34, B - 50 + i * 4)}, 1.2);
    }
    for (QPointF c : {QPointF(L + 30, T + 66), QPointF(L + 30, T + 56), QPointF(R - 34, B - 50),
                      QPointF(R - 34, B - 42), QPointF(R - 40, T + 58), QPointF(L + 30, B - 40),
                      QPointF(L + 80, T + 18)})
        via(p, c);
}

// Cellular modem, a shielded module in the board's top-left corner, and the
// coax from its antenna connector up to the housing's antenna.
void drawModem(QPainter &p, const GuideLayout &g)
{
    const QRectF &modem = g.modem;
    setPaint(p, QPen(kPartEdge, 1.0),
             ramp(modem.topLeft(), modem.bottomRight(), QColor(0xee, 0xf0, 0xf2), QColor(0xa8, 0xb1, 0xba)));
    p.drawRoundedRect(modem, 2, 2);
    p.setPen(QPen(QColor(0x8d, 0x97, 0xa1), 0.8));
    p.drawRect(modem.adjusted(4, 4, -4, -4));
    p.setFont(makeFont(9, QFont::Bold));
    p.setPen(QColor(0x4f, 0x5b, 0x67));
    p.drawText(modem.adjusted(0, -2, 0, -8), Qt::AlignCenter, QStringLiteral("LTE"));
    p.setFont(makeFont(6));
    p.drawText(modem.adjusted(0, 14, 0, 0), Qt::AlignCenter, QStringLiteral("CAT-M1"));

    const QPointF ufl(modem.right() + 8, g.T + 12);
    QPainterPath coax;
    coax.moveTo(ufl);
    coax.cubicTo(ufl + QPointF(30, -6), QPointF(262, g.T - 6), QPointF(264, g.body.top() + 4));
    setPaint(p, roundPen(kCable, 2.6), Qt::NoBrush);
    p.drawPath(coax);
    setPaint(p, QPen(kPartEdge, 0.8), QColor(0xe4, 0xc5, 0x7a));
    p.drawEllipse(ufl, 3.6, 3.6);
    p.setBrush(kCable);
    p.drawEllipse(ufl, 1.4, 1.4);
}

// SIM holder under the modem, a card in it.
void drawSimHolder(QPainter &p, const GuideLayout &g)
{
    const QRectF sim(g.L + 14, g.T + 62, 30, 42);
    setPaint(p, QPen(kPartEdge, 0.9), QColor(0xcf, 0xd5, 0xdb));
    p.drawRoundedRect(sim, 2, 2);
    QPolygonF card;
    card << QPointF(sim.left() + 4, sim.top() + 8) << QPointF(sim.right() - 10, sim.top() + 8)
         << QPointF(sim.right() - 4, sim.top() + 14) << QPointF(sim.right() - 4, sim.bottom() - 4)
         << QPointF(sim.left() + 4, sim.bottom() - 4);
    p.setBrush(QColor(0xf4, 0xf1, 0xe8));
    p.drawPolygon(card);
    setPaint(p, Qt::NoPen, kGold);
    p.drawRoundedRect(QRectF(sim.left() + 8, sim.top() + 18, 13, 15), 2, 2);
    silk(p, QPointF(sim.left() + 6, sim.bottom() + 9), QStringLiteral("SIM"));
}

// Microcontroller (QFP) with pins on four sides, and its crystal.
void drawController(QPainter &p, QPointF mcu)
{
    const qreal h = 17.0;
    const QRectF chip(mcu.x() - h, mcu.y() - h, 2 * h, 2 * h);
    setPaint(p, Qt::NoPen, kPinMetal);
    for (int i = 0; i < 8; ++i) {
        const qreal o = -h + 4 + i * 4.1;
        p.drawRect(QRectF(mcu.x() + o - 0.9, chip.top() - 3.5, 1.8, 3.5));
        p.drawRect(QRectF(mcu.x() + o - 0.9, chip.bottom(), 1.8, 3.5));
        p.drawRect(QRectF(chip.left() - 3.5, mcu.y() + o - 0.9, 3.5, 1.8));
        p.drawRect(QRectF(chip.right(), mcu.y() + o - 0.9, 3.5, 1.8));
    }
    p.setBrush(ramp(chip.topLeft(), chip.bottomRight(), QColor(0x3a, 0x40, 0x46), QColor(0x1c, 0x20, 0x24)));
    p.drawRoundedRect(chip, 1.5, 1.5);
    p.setBrush(QColor(0x5a, 0x62, 0x6a));
    p.drawEllipse(QPointF(chip.left() + 5, chip.top() + 5), 1.8, 1.8);
    p.setFont(makeFont(6));
    p.setPen(QColor(0x9a, 0xa3, 0xad));
    p.drawText(chip, Qt::AlignCenter, QStringLiteral("MCU"));
    silk(p, QPointF(mcu.x() - 17, mcu.y() + 31), QStringLiteral("U1"));

    setPaint(p, QPen(kPartEdge, 0.8), QColor(0xe1, 0xe5, 0xe9));
    p.drawRoundedRect(QRectF(mcu.x() + 26, mcu.y() - 30, 16, 7), 3.5, 3.5);
}

// Capacitors and resistors scattered round the board.
void drawPassives(QPainter &p, const GuideLayout &g)
{
    const QPointF mcu = g.mcu, usb = g.usb;
    const QColor capC(0xb8, 0x8a, 0x56), resC(0x26, 0x2a, 0x2e);
    smdPart(p, QRectF(mcu.x() - 6, mcu.y() - 31, 9, 5), capC);
    smdPart(p, QRectF(mcu.x() + 4, mcu.y() - 31, 9, 5), resC);
    smdPart(p, QRectF(mcu.x() - 33, mcu.y() - 8, 5, 9), capC, false);
    smdPart(p, QRectF(mcu.x() - 33, mcu.y() + 4, 5, 9), resC, false);
    smdPart(p, QRectF(mcu.x() + 26, mcu.y() + 22, 9, 5), capC);
    smdPart(p, QRectF(mcu.x() - 4, mcu.y() + 36, 9, 5), resC);
    smdPart(p, QRectF(usb.x() - 22, g.B - 20, 9, 5), resC);
    smdPart(p, QRectF(usb.x() + 13, g.B - 20, 9, 5), resC);
    smdPart(p, QRectF(g.R - 32, g.T + 66, 5, 9), capC, false);
}

// Voltage regulator with its electrolytic capacitor.
void drawRegulator(QPainter &p, const GuideLayout &g)
{
    const QRectF reg(g.R - 52, g.T + 64, 16, 12);
    setPaint(p, Qt::NoPen, kPinMetal);
    p.drawRect(QRectF(reg.left() + 3, reg.top() - 4, 10, 4));
    p.drawRect(QRectF(reg.left() + 2, reg.bottom(), 2, 3));
    p.drawRect(QRectF(reg.right() - 4, reg.bottom(), 2, 3));
    p.setBrush(QColor(0x2a, 0x2f, 0x34));
    p.drawRect(reg);
    const QPointF c(g.R - 64, g.T + 94);
    QRadialGradient eg(c - QPointF(2, 2), 8);
    eg.setColorAt(0.0, QColor(0x5b, 0x7d, 0xb8));
    eg.setColorAt(1.0, QColor(0x1e, 0x3a, 0x6a));
    setPaint(p, QPen(QColor(0x14, 0x24, 0x40), 0.8), eg);
    p.drawEllipse(c, 6.5, 6.5);
    p.setPen(QPen(QColor(0xb6, 0xc4, 0xdc), 1.0));
    p.drawLine(c + QPointF(-3, 0), c + QPointF(3, 0));
    p.drawLine(c + QPointF(0, -3), c + QPointF(0, 3));
}

// Status LEDs, green and red, on the lower edge.
void drawStatusLeds(QPainter &p, const GuideLayout &g)
{
    for (int i = 0; i < 2; ++i) {
        const QPointF c(g.L + 57 + i * 10, g.B - 9);
        setPaint(p, Qt::NoPen, QColor(0xe6, 0xe9, 0xec));
        p.drawRect(QRectF(c.x() - 3, c.y() - 2, 6, 4));
        p.setBrush(i ? QColor(0xe2, 0x4b, 0x3b) : QColor(0x4c, 0xc7, 0x6c));
        p.drawRect(QRectF(c.x() - 1.6, c.y() - 2, 3.2, 4));
    }
}

// Two-way screw terminal on the lower edge, the battery's leads in it.
void drawBatteryTerminal(QPainter &p, const GuideLayout &g)
{
    const QRectF term(g.L + 17, g.B - 15, 28, 13);
    const QColor leadColour[] = {QColor(0xc6, 0x2f, 0x2a), QColor(0x22, 0x26, 0x2a)};
    for (int i = 0; i < 2; ++i) {
        const qreal x = term.left() + 7 + i * 14;
        QPainterPath lead;
        lead.moveTo(x, term.bottom() - 2);
        lead.cubicTo(QPointF(x, term.bottom() + 8), QPointF(x - 3 + i * 6, g.battery.top() - 8),
                     QPointF(x - 3 + i * 6, g.battery.top() + 3));
        setPaint(p, roundPen(leadColour[i], 2.6), Qt::NoBrush);
        p.drawPath(lead);
    }
    setPaint(p, QPen(QColor(0x1d, 0x4f, 0x2f), 0.8), QColor(0x3c, 0x9a, 0x55));
    p.drawRoundedRect(term, 1.5, 1.5);
    for (int i = 0; i < 2; ++i)
        screwHead(p, QPointF(term.left() + 7 + i * 14, term.center().y()), 3.6);
    silk(p, QPointF(term.left() + 2, term.top() - 3), QStringLiteral("+    \u2013"), 7.0);
}

// Power switch: slide switch on the right edge, slider in the ON position.
void drawPowerSwitch(QPainter &p, QPointF sw)
{
    const QRectF sb(sw.x() - 8, sw.y() - 12, 14, 24);
    setPaint(p, QPen(kPartEdge, 0.8), QColor(0xcf, 0xd5, 0xdb));
    p.drawRoundedRect(sb, 1.5, 1.5);
    setPaint(p, Qt::NoPen, QColor(0x2a, 0x2f, 0x34));
    p.drawRoundedRect(sb.adjusted(3, 3, -3, -3), 1, 1);
    p.setBrush(QColor(0xf4, 0xf6, 0xf8));
    p.drawRoundedRect(QRectF(sb.left() + 4, sb.top() + 4, sb.width() - 8, 8), 1, 1);
    silk(p, QPointF(sb.left() - 19, sb.top() + 7), QStringLiteral("ON"), 6.5);
    silk(p, QPointF(sb.left() - 22, sb.bottom() - 1), QStringLiteral("OFF"), 6.5);
}

// Push button: tactile switch with a round cap.
void drawPushButton(QPainter &p, QPointF btn)
{
    const QRectF base(btn.x() - 8, btn.y() - 8, 16, 16);
    setPaint(p, Qt::NoPen, kPinMetal);
    for (qreal dy : {-6.0, 4.0}) {
        p.drawRect(QRectF(base.left() - 2.5, btn.y() + dy, 2.5, 2));
        p.drawRect(QRectF(base.right(), btn.y() + dy, 2.5, 2));
    }
    p.setBrush(QColor(0x3a, 0x40, 0x46));
    p.drawRoundedRect(base, 1.5, 1.5);
    QRadialGradient cap(btn - QPointF(1.5, 1.5), 6.5);
    cap.setColorAt(0.0, QColor(0xf0, 0x6a, 0x4f));
    cap.setColorAt(1.0, QColor(0xa8, 0x2a, 0x1c));
    setPaint(p, QPen(QColor(0x1c, 0x20, 0x24), 0.8), cap);
    p.drawEllipse(btn, 5.2, 5.2);
    silk(p, QPointF(btn.x() - 7.5, btn.y() - 14), QStringLiteral("BSL"), 6.5);
}

// USB socket on the board's lower edge.
void drawUsbSocket(QPainter &p, const GuideLayout &g)
{
    const QRectF sock(g.usb.x() - 10, g.B - 12, 20, 14);
    QLinearGradient sg(sock.left(), 0, sock.right(), 0);
    sg.setColorAt(0.0, QColor(0xa3, 0xac, 0xb5));
    sg.setColorAt(0.5, QColor(0xf2, 0xf4, 0xf6));
    sg.setColorAt(1.0, QColor(0x93, 0x9d, 0xa7));
    setPaint(p, QPen(QColor(0x5e, 0x6a, 0x76), 0.9), sg);
    p.drawRoundedRect(sock, 1.5, 1.5);
    silk(p, QPointF(sock.left() - 24, sock.top() + 9), QStringLiteral("USB"), 6.5);
}

// The USB plug in the socket: overmould below the socket with the USB mark,
// strain relief, and the cable down and out of the housing.
void drawUsbPlug(QPainter &p, const GuideLayout &g)
{
    const qreal x = g.usb.x();
    const QRectF plug(x - 8, g.B + 2, 16, 22);
    QPainterPath cable;
    cable.moveTo(x, plug.bottom() - 2);
    cable.cubicTo(QPointF(x, plug.bottom() + 30), QPointF(x + 8, g.body.bottom() - 20),
                  QPointF(x + 8, g.body.bottom() + 4));
    cable.lineTo(x + 8, g.size.height() + 4);
    setPaint(p, roundPen(kCable, 6.4), Qt::NoBrush);
    p.drawPath(cable);
    p.setPen(roundPen(QColor(0x4a, 0x52, 0x5a), 1.6));
    p.drawPath(cable.translated(-1.4, 0));
    QPolygonF relief;
    relief << QPointF(x - 5, plug.bottom() - 1) << QPointF(x + 5, plug.bottom() - 1)
           << QPointF(x + 3.6, plug.bottom() + 7) << QPointF(x - 3.6, plug.bottom() + 7);
    setPaint(p, Qt::NoPen, QColor(0x2a, 0x30, 0x36));
    p.drawPolygon(relief);
    QLinearGradient plg(plug.left(), 0, plug.right(), 0);
    plg.setColorAt(0.0, QColor(0x2a, 0x30, 0x36));
    plg.setColorAt(0.45, QColor(0x56, 0x5f, 0x68));
    plg.setColorAt(1.0, kCable);
    setPaint(p, QPen(QColor(0x12, 0x16, 0x1a), 0.8), plg);
    p.drawRoundedRect(plug, 3, 3);
    p.setPen(QPen(QColor(0x8d, 0x97, 0xa1), 1.0));
    const QPointF m(x, plug.top() + 12);
    p.drawLine(m + QPointF(0, 5), m + QPointF(0, -5));
    p.drawLine(m + QPointF(0, 1), m + QPointF(-3.5, -2));
    p.drawLine(m + QPointF(0, 3), m + QPointF(3.5, 0));
}

// The three numbered steps, in a column to the right of the housing.
void drawCallouts(QPainter &p, const GuideLayout &g)
{
    const qreal bx = 340.0;
    const QPointF sw = g.sw, usb = g.usb, btn = g.btn;
    callout(p, 1, QPointF(bx, 70), QRectF(sw.x() - 13, sw.y() - 17, 24, 34), QPointF(sw.x() + 11, sw.y()),
            300.0, QStringLiteral("Switch on"), QStringLiteral("power switch"));
    callout(p, 2, QPointF(bx, 143), QRectF(usb.x() - 16, g.B - 18, 32, 26),
            QPointF(usb.x() + 11.3, g.B - 14.2), 248.0, QStringLiteral("Connect to USB"),
            QStringLiteral("USB socket"));
    callout(p, 3, QPointF(bx, 216), QRectF(btn.x() - 11, btn.y() - 11, 22, 22),
            QPointF(btn.x() + 11, btn.y()), 298.0, QStringLiteral("Press"), QStringLiteral("push button"));
}

QImage drawGuide()
{
    const GuideLayout g;
    QImage img(g.size, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    drawSheet(p, g.size);
    drawHousingSurround(p, g);
    drawHousingShell(p, g);
    drawLid(p, g.body);
    drawLidLabel(p);
    drawHinges(p, g.body);
    drawBattery(p, g.battery);
    drawBoard(p, g);
    drawTraces(p, g);
    drawModem(p, g);
    drawSimHolder(p, g);
    drawController(p, g.mcu);
    drawPassives(p, g);
    drawRegulator(p, g);
    drawStatusLeds(p, g);
    drawBatteryTerminal(p, g);
    drawPowerSwitch(p, g.sw);
    drawPushButton(p, g.btn);
    drawUsbSocket(p, g);
    drawUsbPlug(p, g);
    drawCallouts(p, g);
    p.end();
    return img.convertToFormat(QImage::Format_RGB32);   // fully opaque
}

// ----------------------------------------------------------------- icons --

const int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The emblem's tile with room for its shadow, on a transparent square.
QImage drawIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal margin = size * 3.0 / 64.0;
    drawEmblem(p, margin, margin * 0.5, size - 2.0 * margin);
    p.end();
    return img;
}

bool save(const QImage &img, const QString &dir, const QString &name)
{
    const QString path = dir + QLatin1Char('/') + name;
    if (!img.save(path, "PNG", 9)) {
        QTextStream(stderr) << "cannot write " << path << '\n';
        return false;
    }
    QTextStream(stdout) << path << ' ' << img.width() << 'x' << img.height() << '\n';
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() == 3 && args.at(1) == QStringLiteral("--icons")) {
        bool ok = true;
        for (int size : kIconSizes)
            ok = ok && save(drawIcon(size), args.at(2), QStringLiteral("%1x%1.png").arg(size));
        return ok ? 0 : 1;
    }
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: draw_pictures <resources folder>\n"
                               "       draw_pictures --icons <icons folder>\n";
        return 2;
    }
    const QString dir = args.at(1);
    const bool ok = save(drawHeader(), dir, QStringLiteral("header.png"))
                    && save(drawGuide(), dir, QStringLiteral("guide.png"));
    return ok ? 0 : 1;
}
