// Draws the program's icons and logo with QPainter and writes them as PNG files:
//   tessel-draw-icons <resources folder>
// writes <folder>/Resources/*.png (icons, 32 x 32) and <folder>/imgs/logo.png.
// Run it after changing a drawing and commit the pictures it writes.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTextStream>

#include <functional>

namespace {

constexpr int kIconSize = 32;

const QColor kInk(0x2e, 0x34, 0x40);
const QColor kBlue(0x2f, 0x6f, 0xb5);
const QColor kGreen(0x3a, 0x9a, 0x4a);
const QColor kRed(0xc8, 0x3a, 0x32);
const QColor kPaper(0xfa, 0xfa, 0xf5);
const QColor kFolder(0xe8, 0xb0, 0x3c);

QPen Outline(const QColor& color, qreal width = 1.5)
{
    return QPen(color.darker(140), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// Arrow pointing right inside the box (x0, y0)-(x1, y1): a shaft and a head.
QPolygonF RightArrow(qreal x0, qreal y0, qreal x1, qreal y1)
{
    const qreal cy = (y0 + y1) / 2;
    const qreal h = y1 - y0;
    const qreal headX = x1 - h * 0.55;
    return QPolygonF({QPointF(x0, cy - h * 0.18), QPointF(headX, cy - h * 0.18), QPointF(headX, y0), QPointF(x1, cy),
                      QPointF(headX, y1), QPointF(headX, cy + h * 0.18), QPointF(x0, cy + h * 0.18)});
}

// Draws a right-pointing picture rotated by `degrees` (clockwise) about the icon centre.
void Rotated(QPainter& p, qreal degrees, const std::function<void()>& draw)
{
    p.save();
    p.translate(kIconSize / 2.0, kIconSize / 2.0);
    p.rotate(degrees);
    p.translate(-kIconSize / 2.0, -kIconSize / 2.0);
    draw();
    p.restore();
}

void DrawArrow(QPainter& p, qreal degrees, const QColor& color)
{
    Rotated(p, degrees, [&] {
        p.setPen(Outline(color));
        p.setBrush(color);
        p.drawPolygon(RightArrow(4, 7, 28, 25));
    });
}

// Navigation arrow with a stop bar at its tip (go-last; rotated for go-first).
void DrawArrowToBar(QPainter& p, qreal degrees)
{
    Rotated(p, degrees, [&] {
        p.setPen(Outline(kBlue));
        p.setBrush(kBlue);
        p.drawPolygon(RightArrow(3, 7, 22, 25));
        p.drawRoundedRect(QRectF(24, 6, 4.5, 20), 1.5, 1.5);
    });
}

void DrawFolder(QPainter& p)
{
    p.setPen(Outline(kFolder));
    p.setBrush(kFolder.darker(110));
    QPainterPath back;
    back.moveTo(3, 8);
    back.lineTo(12, 8);
    back.lineTo(15, 11);
    back.lineTo(29, 11);
    back.lineTo(29, 27);
    back.lineTo(3, 27);
    back.closeSubpath();
    p.drawPath(back);
    // A sheet with text lines sticking out of the folder.
    p.setPen(Outline(QColor(0x90, 0x90, 0x90), 1.0));
    p.setBrush(kPaper);
    p.drawRect(QRectF(8, 5, 16, 16));
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1.2));
    for (int y = 9; y <= 15; y += 3)
        p.drawLine(QPointF(11, y), QPointF(21, y));
    p.setPen(Outline(kFolder));
    p.setBrush(kFolder);
    p.drawPolygon(QPolygonF({QPointF(3, 15), QPointF(29, 15), QPointF(29, 27), QPointF(3, 27)}));
}

void DrawStart(QPainter& p)
{
    p.setPen(Outline(kGreen));
    p.setBrush(kGreen);
    p.drawEllipse(QRectF(2.5, 2.5, 27, 27));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(12, 8.5), QPointF(24, 16), QPointF(12, 23.5)}));
}

void DrawChevrons(QPainter& p, int count)
{
    p.setPen(QPen(kBlue, 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const qreal step = 9;
    const qreal x0 = count == 1 ? 12 : 7.5;
    for (int i = 0; i < count; ++i) {
        const qreal x = x0 + i * step;
        p.drawPolyline(QPolygonF({QPointF(x, 7), QPointF(x + 8, 16), QPointF(x, 25)}));
    }
}

void DrawCancel(QPainter& p)
{
    p.setPen(Outline(kRed));
    p.setBrush(kRed);
    p.drawEllipse(QRectF(2.5, 2.5, 27, 27));
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.5, 10.5), QPointF(21.5, 21.5));
    p.drawLine(QPointF(21.5, 10.5), QPointF(10.5, 21.5));
}

void DrawOk(QPainter& p)
{
    p.setPen(Outline(kGreen));
    p.setBrush(kGreen);
    p.drawEllipse(QRectF(2.5, 2.5, 27, 27));
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(9, 16.5), QPointF(14, 21.5), QPointF(23, 11)}));
}

// A particle inside a dashed selection rectangle.
void DrawSelect(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QRectF(10, 10, 12, 12));
    QPen dash(kBlue, 2.0, Qt::DashLine, Qt::FlatCap);
    dash.setDashPattern({2.0, 1.5});
    p.setPen(dash);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(4, 4, 24, 24));
}

void DrawExport(QPainter& p)
{
    p.setPen(Outline(QColor(0x90, 0x90, 0x90), 1.2));
    p.setBrush(kPaper);
    p.drawPolygon(QPolygonF({QPointF(4, 3), QPointF(16, 3), QPointF(21, 8), QPointF(21, 29), QPointF(4, 29)}));
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1.2));
    for (int y = 11; y <= 23; y += 4)
        p.drawLine(QPointF(7, y), QPointF(15, y));
    p.setPen(Outline(kGreen, 1.2));
    p.setBrush(kGreen);
    p.drawPolygon(RightArrow(13, 13, 30, 27));
}

void DrawEye(QPainter& p)
{
    QPainterPath eye;
    eye.moveTo(2, 16);
    eye.quadTo(16, 2, 30, 16);
    eye.quadTo(16, 30, 2, 16);
    p.setPen(Outline(kInk, 1.8));
    p.setBrush(kPaper);
    p.drawPath(eye);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(16, 16), 6, 6);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(16, 16), 3, 3);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(14, 14), 1.3, 1.3);
}

bool SaveIcon(const QString& path, const std::function<void(QPainter&)>& draw)
{
    QImage image(kIconSize, kIconSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return image.save(path);
}

// Logo: dark particles of several sizes carried to the right by a flow, over a pale
// blue field, with the program's name below.
bool SaveLogo(const QString& path)
{
    constexpr int size = 512;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient field(0, 0, 0, size);
    field.setColorAt(0, QColor(0xee, 0xf4, 0xfa));
    field.setColorAt(1, QColor(0xd3, 0xe3, 0xf1));
    p.setPen(QPen(QColor(0x9d, 0xb8, 0xd3), 6));
    p.setBrush(field);
    p.drawRoundedRect(QRectF(8, 8, size - 16, size - 16), 56, 56);

    // Stream lines.
    p.setPen(QPen(QColor(0x9d, 0xb8, 0xd3), 5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 4; ++i) {
        const qreal y = 110 + i * 62;
        QPainterPath line;
        line.moveTo(50, y);
        line.cubicTo(170, y - 24, 300, y + 24, 462, y);
        p.drawPath(line);
    }

    // Particles; the ghost rings behind three of them show the drift to the right.
    struct Disc {
        qreal x, y, r;
    };
    const Disc discs[] = {{120, 120, 26}, {250, 170, 40}, {390, 125, 20}, {170, 265, 18},
                          {330, 280, 32}, {100, 330, 14}, {430, 250, 15}, {230, 345, 12}};
    p.setPen(Qt::NoPen);
    for (int i : {1, 4, 0}) {
        for (int k = 3; k >= 1; --k) {
            p.setBrush(QColor(0x2e, 0x34, 0x40, 22 * (4 - k)));
            p.drawEllipse(QPointF(discs[i].x - k * 22, discs[i].y), discs[i].r, discs[i].r);
        }
    }
    for (const Disc& d : discs) {
        QRadialGradient shade(d.x - d.r * 0.35, d.y - d.r * 0.35, d.r * 1.4);
        shade.setColorAt(0, QColor(0x5a, 0x63, 0x73));
        shade.setColorAt(1, QColor(0x1f, 0x24, 0x2d));
        p.setBrush(shade);
        p.drawEllipse(QPointF(d.x, d.y), d.r, d.r);
    }

    // Flow arrow and name.
    p.setPen(QPen(kBlue, 9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(140, 392), QPointF(360, 392));
    p.setBrush(kBlue);
    p.drawPolygon(QPolygonF({QPointF(352, 372), QPointF(384, 392), QPointF(352, 412)}));

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(52);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0x1f, 0x3b, 0x5c));
    p.drawText(QRectF(0, 418, size, 64), Qt::AlignCenter, QStringLiteral("MIVO Tessel"));
    p.end();
    return image.save(path);
}

}  // namespace

int main(int argc, char** argv)
{
    // Fonts need a GUI application, but no screen: draw off-screen unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: tessel-draw-icons <resources folder>\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("Resources")) || !out.mkpath(QStringLiteral("imgs"))) {
        err << "cannot create the folders in " << out.path() << "\n";
        return 1;
    }

    const std::pair<const char*, std::function<void(QPainter&)>> icons[] = {
        {"folder-documents", DrawFolder},
        {"go-next", [](QPainter& p) { DrawArrow(p, 0, kBlue); }},
        {"go-previous", [](QPainter& p) { DrawArrow(p, 180, kBlue); }},
        {"go-last", [](QPainter& p) { DrawArrowToBar(p, 0); }},
        {"go-first", [](QPainter& p) { DrawArrowToBar(p, 180); }},
        {"draw-arrow-forward", [](QPainter& p) { DrawArrow(p, 0, kInk); }},
        {"draw-arrow-down", [](QPainter& p) { DrawArrow(p, 90, kInk); }},
        {"draw-arrow-back", [](QPainter& p) { DrawArrow(p, 180, kInk); }},
        {"draw-arrow-up", [](QPainter& p) { DrawArrow(p, 270, kInk); }},
        {"select", DrawSelect},
        {"start-here", DrawStart},
        {"arrow-right", [](QPainter& p) { DrawChevrons(p, 1); }},
        {"arrow-right-double", [](QPainter& p) { DrawChevrons(p, 2); }},
        {"document-export", DrawExport},
        {"layer-visible-on", DrawEye},
        {"dialog-cancel", DrawCancel},
        {"dialog-ok-apply", DrawOk},
    };
    for (const auto& [name, draw] : icons) {
        const QString path = out.filePath(QStringLiteral("Resources/%1.png").arg(QLatin1String(name)));
        if (!SaveIcon(path, draw)) {
            err << "cannot write " << path << "\n";
            return 1;
        }
    }
    const QString logo = out.filePath(QStringLiteral("imgs/logo.png"));
    if (!SaveLogo(logo)) {
        err << "cannot write " << logo << "\n";
        return 1;
    }
    return 0;
}
