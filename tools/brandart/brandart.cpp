// Draws the program's logos, background picture and line icons into the
// resource folders of the view. The pictures are ours: run it after changing
// a drawing and commit the PNGs it writes.
//   brandart <view/common_qml folder>
// The build also runs it for the desktop icon of panelapp, at every size
// the icon theme asks for:
//   brandart --app-icons <hicolor folder> <size>...
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>

#include <cstdio>
#include <functional>

namespace {

const QColor orange(0xE9, 0x7D, 0x2E);
const QColor slate(0x46, 0x5E, 0x66);

QString g_family;

bool save(const QImage &image, const QString &path)
{
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The mark: a square wave settling into a flat line, a regulator's output
// finding its level, inside a rounded frame.
void drawMark(QPainter &p, const QRectF &box, const QColor &color)
{
    QPen pen(color, box.height() * 0.09, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(box.adjusted(pen.widthF() / 2, pen.widthF() / 2, -pen.widthF() / 2, -pen.widthF() / 2),
                      box.height() * 0.22, box.height() * 0.22);
    const qreal x0 = box.left() + box.width() * 0.18;
    const qreal x1 = box.right() - box.width() * 0.18;
    const qreal mid = box.center().y();
    const qreal amp = box.height() * 0.22;
    pen.setWidthF(box.height() * 0.055);
    p.setPen(pen);
    QPainterPath wave;
    const qreal step = (x1 - x0) / 8;
    qreal a = amp;
    qreal x = x0;
    qreal low = mid + amp;
    wave.moveTo(x, low);
    for (int i = 0; i < 3; ++i) {
        wave.lineTo(x, mid - a);
        x += step;
        wave.lineTo(x, mid - a);
        low = mid + a * 0.6;
        wave.lineTo(x, low);
        x += step;
        wave.lineTo(x, low);
        a *= 0.5;
    }
    wave.lineTo(x, mid);
    wave.lineTo(x1, mid);
    p.drawPath(wave);
}

QImage logo(const QColor &markColor, const QColor &textColor)
{
    QImage image(390, 120, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawMark(p, QRectF(8, 10, 100, 100), markColor);
    QFont font(g_family);
    font.setPixelSize(76);
    font.setWeight(QFont::Bold);
    font.setLetterSpacing(QFont::PercentageSpacing, 96);
    p.setFont(font);
    p.setPen(textColor);
    p.drawText(QRectF(128, 0, 262, 120), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("orvane"));
    return image;
}

// The mark on a filled tile, so that it stands out on any panel or dock.
QImage appIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal margin = size / 16.0;
    const QRectF box = QRectF(0, 0, size, size).adjusted(margin, margin, -margin, -margin);
    // The same outline as the mark's frame, whose stroke covers the tile's edge.
    const qreal inset = box.height() * 0.09 / 2;
    p.setPen(Qt::NoPen);
    p.setBrush(slate);
    p.drawRoundedRect(box.adjusted(inset, inset, -inset, -inset), box.height() * 0.22, box.height() * 0.22);
    drawMark(p, box, orange);
    return image;
}

// Writes <folder>/<n>x<n>/apps/panelapp.png for every size n.
int writeAppIcons(const QDir &root, const QStringList &sizes)
{
    for (const QString &text : sizes) {
        bool isNumber = false;
        const int size = text.toInt(&isNumber);
        if (!isNumber || size < 16 || size > 1024) {
            std::fprintf(stderr, "not an icon size: %s\n", qPrintable(text));
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        if (!root.mkpath(folder)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(root.filePath(folder)));
            return 1;
        }
        if (!save(appIcon(size), root.filePath(folder + QStringLiteral("/panelapp.png"))))
            return 1;
    }
    return 0;
}

// Faint traces of a circuit board; translucent so it suits both styles.
QImage background()
{
    QImage image(1200, 800, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRandomGenerator rng(60600);
    const QColor trace(128, 128, 128, 30);
    for (int i = 0; i < 46; ++i) {
        const qreal y = 20 + rng.bounded(760);
        qreal x = rng.bounded(1200);
        QPainterPath path;
        path.moveTo(x, y);
        qreal cy = y;
        for (int s = 0; s < 3; ++s) {
            const qreal run = 60 + rng.bounded(220);
            x += run;
            path.lineTo(x, cy);
            const qreal jog = (rng.bounded(2) ? 1 : -1) * (20 + rng.bounded(60));
            x += qAbs(jog);
            cy += jog;
            path.lineTo(x, cy);
        }
        p.setPen(QPen(trace, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
        p.setPen(Qt::NoPen);
        p.setBrush(trace);
        p.drawEllipse(path.elementAt(0), 7, 7);
        p.drawEllipse(path.currentPosition(), 7, 7);
    }
    return image;
}

// A 48-pixel line icon on a 24-unit grid, drawn in mid grey so that it reads
// on light and on dark backgrounds.
QImage icon(const std::function<void(QPainter &)> &draw)
{
    QImage image(48, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(2, 2);
    p.setPen(QPen(QColor(0x8A, 0x8A, 0x8A), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    draw(p);
    return image;
}

void bell(QPainter &p)
{
    QPainterPath path;
    path.moveTo(5, 18);
    path.lineTo(19, 18);
    path.lineTo(17, 15);
    path.lineTo(17, 10);
    path.cubicTo(17, 6, 15, 4, 12, 4);
    path.cubicTo(9, 4, 7, 6, 7, 10);
    path.lineTo(7, 15);
    path.closeSubpath();
    p.drawPath(path);
    p.drawLine(QPointF(12, 2.5), QPointF(12, 4));
    p.drawArc(QRectF(10, 18.5, 4, 3), 180 * 16, 180 * 16);
}

void usb(QPainter &p)
{
    p.drawLine(QPointF(12, 3), QPointF(12, 21));
    p.drawLine(QPointF(12, 3), QPointF(10, 6));
    p.drawLine(QPointF(12, 3), QPointF(14, 6));
    QPainterPath left;
    left.moveTo(12, 15);
    left.lineTo(7, 12);
    left.lineTo(7, 9);
    p.drawPath(left);
    QPainterPath right;
    right.moveTo(12, 13);
    right.lineTo(17, 10);
    right.lineTo(17, 8);
    p.drawPath(right);
    p.drawEllipse(QPointF(7, 8), 1.5, 1.5);
    p.drawRect(QRectF(15.5, 5.5, 3, 2.5));
    p.setBrush(p.pen().color());
    p.drawEllipse(QPointF(12, 20), 2, 2);
}

void closeIcon(QPainter &p)
{
    p.drawLine(QPointF(6, 6), QPointF(18, 18));
    p.drawLine(QPointF(18, 6), QPointF(6, 18));
}

void deleteIcon(QPainter &p)
{
    p.drawLine(QPointF(4, 6), QPointF(20, 6));
    p.drawLine(QPointF(9, 6), QPointF(10, 3.5));
    p.drawLine(QPointF(10, 3.5), QPointF(14, 3.5));
    p.drawLine(QPointF(14, 3.5), QPointF(15, 6));
    QPainterPath can;
    can.moveTo(6, 6);
    can.lineTo(7, 20);
    can.lineTo(17, 20);
    can.lineTo(18, 6);
    p.drawPath(can);
    p.drawLine(QPointF(10, 10), QPointF(10, 16));
    p.drawLine(QPointF(14, 10), QPointF(14, 16));
}

void openIcon(QPainter &p)
{
    QPainterPath folder;
    folder.moveTo(3, 19);
    folder.lineTo(3, 5);
    folder.lineTo(9, 5);
    folder.lineTo(11, 7);
    folder.lineTo(21, 7);
    folder.lineTo(21, 19);
    folder.closeSubpath();
    p.drawPath(folder);
    p.drawLine(QPointF(3, 10), QPointF(21, 10));
}

void addIcon(QPainter &p)
{
    p.drawEllipse(QPointF(12, 12), 9, 9);
    p.drawLine(QPointF(12, 7.5), QPointF(12, 16.5));
    p.drawLine(QPointF(7.5, 12), QPointF(16.5, 12));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() >= 4 && args.at(1) == QLatin1String("--app-icons"))
        return writeAppIcons(QDir(args.at(2)), args.mid(3));
    if (argc != 2) {
        std::fprintf(stderr, "usage: brandart <view/common_qml folder>\n"
                             "       brandart --app-icons <hicolor folder> <size>...\n");
        return 2;
    }
    const int id = QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/opentype/inter/Inter-Bold.otf"));
    g_family = id >= 0 ? QFontDatabase::applicationFontFamilies(id).value(0) : QGuiApplication::font().family();

    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (const char *sub : {"brand/logos", "brand/images", "material"})
        root.mkpath(QString::fromLatin1(sub));
    const QString logos = root.filePath(QStringLiteral("brand/logos/"));
    const QString material = root.filePath(QStringLiteral("material/"));
    const QString suffix = QStringLiteral("_FILL0_wght400_GRAD0_opsz24.png");

    bool ok = save(logo(orange, slate), logos + QStringLiteral("orvane_logo_t_full_color.png"))
              && save(logo(orange, Qt::white), logos + QStringLiteral("orvane_logo_final_t_reverse.png"))
              && save(logo(Qt::black, Qt::black), logos + QStringLiteral("orvane_logo_final_t_blk.png"))
              && save(logo(Qt::white, Qt::white), logos + QStringLiteral("orvane_logo_final_t_wht.png"))
              && save(background(), root.filePath(QStringLiteral("brand/images/background.png")));
    const QList<QPair<QString, void (*)(QPainter &)>> icons = {
        {QStringLiteral("notifications"), bell}, {QStringLiteral("usb"), usb},
        {QStringLiteral("close"), closeIcon},    {QStringLiteral("delete"), deleteIcon},
        {QStringLiteral("folder_open"), openIcon},
        {QStringLiteral("add_circle"), addIcon},
    };
    for (const auto &entry : icons)
        ok = ok && save(icon(entry.second), material + entry.first + suffix);
    return ok ? 0 : 1;
}
