// Draws the default skin: "resourses.ini" and the 32-bit pictures it names,
// written into the Res folder given on the command line.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <functional>

#include "Bitmap32.h"

namespace {

const QColor kNavy(44, 62, 92);
const QColor kPale(214, 226, 244);
const QColor kAccent(255, 190, 64);
const QColor kIcon(236, 242, 250);

QString g_folder;
bool g_ok = true;

void Save(const QString& name, int w, int h, const std::function<void(QPainter&)>& draw) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p);
    }
    QFile file(g_folder + "/" + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(Bitmap32::Encode(image)) < 0)
        g_ok = false;
}

// A round button face with a sign on it.
void ZoomButton(QPainter& p, bool plus, bool hot, bool disabled = false) {
    if (disabled)
        p.setOpacity(0.45);
    QRadialGradient g(QPointF(9, 7), 13);
    g.setColorAt(0, hot ? QColor(255, 255, 255) : QColor(238, 242, 248));
    g.setColorAt(1, hot ? QColor(196, 214, 240) : QColor(170, 184, 206));
    p.setPen(QPen(QColor(24, 36, 58), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(1.5, 1.5, 19, 19));
    p.setPen(QPen(kNavy, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(6.5, 11), QPointF(15.5, 11));
    if (plus)
        p.drawLine(QPointF(11, 6.5), QPointF(11, 15.5));
}

// Task icons: add photos, stitch, export.
void TaskIcon(QPainter& p, int index, QPointF o, QColor c) {
    p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (index) {
        case 0:
            p.drawRoundedRect(QRectF(o.x() + 1.5, o.y() + 4.5, 13, 10), 1.5, 1.5);
            p.drawLine(QPointF(o.x() + 15, o.y() + 2), QPointF(o.x() + 15, o.y() + 8));
            p.drawLine(QPointF(o.x() + 12, o.y() + 5), QPointF(o.x() + 18, o.y() + 5));
            p.drawPolyline(QPolygonF{QPointF(o.x() + 3, o.y() + 13), QPointF(o.x() + 7, o.y() + 9),
                                     QPointF(o.x() + 10, o.y() + 12), QPointF(o.x() + 12, o.y() + 10.5)});
            break;
        case 1:
            p.drawRoundedRect(QRectF(o.x() + 1.5, o.y() + 5.5, 9, 9), 1.5, 1.5);
            p.drawRoundedRect(QRectF(o.x() + 8.5, o.y() + 3.5, 9, 9), 1.5, 1.5);
            break;
        default:
            p.drawRoundedRect(QRectF(o.x() + 1.5, o.y() + 6.5, 11, 10), 1.5, 1.5);
            p.drawLine(QPointF(o.x() + 9, o.y() + 9), QPointF(o.x() + 17, o.y() + 2));
            p.drawPolyline(QPolygonF{QPointF(o.x() + 12, o.y() + 2), QPointF(o.x() + 17, o.y() + 2),
                                     QPointF(o.x() + 17, o.y() + 7)});
            break;
    }
}

// Toolbar icons: open, print, home.
void ToolIcon(QPainter& p, int index, QPointF o, QColor c) {
    p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (index) {
        case 0:
            p.drawPolygon(QPolygonF{QPointF(o.x() + 3, o.y() + 6), QPointF(o.x() + 9, o.y() + 6),
                                    QPointF(o.x() + 11, o.y() + 8), QPointF(o.x() + 21, o.y() + 8),
                                    QPointF(o.x() + 21, o.y() + 19), QPointF(o.x() + 3, o.y() + 19)});
            break;
        case 1:
            p.drawRect(QRectF(o.x() + 3, o.y() + 9, 18, 8));
            p.drawRect(QRectF(o.x() + 7, o.y() + 3, 10, 6));
            p.drawRect(QRectF(o.x() + 7, o.y() + 14, 10, 7));
            break;
        default:
            p.drawPolyline(QPolygonF{QPointF(o.x() + 3, o.y() + 12), QPointF(o.x() + 12, o.y() + 4),
                                     QPointF(o.x() + 21, o.y() + 12)});
            p.drawPolyline(QPolygonF{QPointF(o.x() + 6, o.y() + 10), QPointF(o.x() + 6, o.y() + 20),
                                     QPointF(o.x() + 18, o.y() + 20), QPointF(o.x() + 18, o.y() + 10)});
            break;
    }
}

// Menu icons in a 24-unit box: open, save, export, print, zoom in, zoom out, home.
void MenuIcon(QPainter& p, int index) {
    const QPointF o(0, 0);
    switch (index) {
        case 0:
            ToolIcon(p, 0, o, kNavy);
            break;
        case 1:
            p.setPen(QPen(kNavy, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(4, 3, 16, 18), 1.5, 1.5);
            p.drawRect(QRectF(8, 3, 8, 6));
            p.drawRect(QRectF(7, 13, 10, 8));
            break;
        case 2:
            TaskIcon(p, 2, QPointF(3, 3), kNavy);
            break;
        case 3:
            ToolIcon(p, 1, o, kNavy);
            break;
        case 4:
        case 5:
            p.setPen(QPen(kNavy, 1.8, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QPointF(10, 10), 6.5, 6.5);
            p.drawLine(QPointF(15, 15), QPointF(21, 21));
            p.drawLine(QPointF(7, 10), QPointF(13, 10));
            if (index == 4)
                p.drawLine(QPointF(10, 7), QPointF(10, 13));
            break;
        default:
            ToolIcon(p, 2, o, kNavy);
            break;
    }
}

void Marker(QPainter& p, int n, QColor c) {
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(c);
    p.drawEllipse(QRectF(2, 2, 19, 19));
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(QPointF(11.5, 0), QPointF(11.5, 23));
    p.drawLine(QPointF(0, 11.5), QPointF(23, 11.5));
    QFont f;
    f.setPixelSize(9);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(12, 12, 10, 10), Qt::AlignCenter, QString::number(n));
}

const char* kIni = R"([PANORAMA DIALOG]
BACKGROUND COLOR=214, 226, 244

[PROGRESS INDICATOR]
BACKGROUND COLOR=214, 226, 244

[TASK TABS]
BACKGROND COLOR=44, 62, 92
SELECT COLOR=40, 88, 160
TEXT NORMAL COLOR=214, 224, 240
TEXT SELECT COLOR=255, 255, 255
TEXT HIGHLIGHT COLOR=255, 222, 130

[TASK TOOLBAR]
STANDARD=TaskTabs.bmp
HOT=TaskTabsHot.bmp
DISABLE=TaskTabsDisabled.bmp
BACKGROUND=TaskBarBack.bmp

[MAIN TOOLBAR]
STANDARD=MainToolBar.bmp
HOT=MainToolBarHot.bmp
DISABLE=MainToolBarDisabled.bmp

[MENU TOOLBAR]
STANDARD=MenuToolBar.bmp

[MAIN]
LOGO_TAB=Logo.bmp
XBUTTON=XButton.bmp

[ZOOMBAR]
In=ZoomIn.bmp
InPressed=ZoomInHot.bmp
Out=ZoomOut.bmp
OutPressed=ZoomOutHot.bmp
Thumb=ZoomThumb.bmp

[BROWSER]
SELECTED TEXT COLOR=28, 44, 74
TEXT COLOR=20, 24, 32
BACKGROUND COLOR=236, 241, 248
BACKGROUND COLOR INFRAME=248, 250, 253
BACKGROUND COLOR INFRAME CUT=160, 168, 180
SELECTED BORDER COLOR=255, 190, 64
BORDER COLOR=150, 172, 210
DETAILS SEPARATOR COLOR=150, 162, 186
DETAILS TAB COLOR=196, 210, 234
FOLDER STRIP COLOR=214, 226, 244

[FOLDERS DIALOG]
BACKGROUND FILE=StripBack.bmp
AddButtonImage=AddButton.bmp
AddButtonImagePressed=AddButtonHot.bmp
RemoveButtonImage=RemoveButton.bmp
RemoveButtonImagePressed=RemoveButtonHot.bmp

[MARKERS]
marker1=Marker1.bmp
marker2=Marker2.bmp
marker3=Marker3.bmp
hotpoint1=11,11
hotpoint2=11,11
hotpoint3=11,11
)";

void StripButton(QPainter& p, bool add, bool hot) {
    QLinearGradient g(0, 0, 0, 28);
    g.setColorAt(0, hot ? QColor(255, 255, 255) : QColor(246, 249, 253));
    g.setColorAt(1, hot ? QColor(210, 224, 246) : QColor(200, 212, 232));
    p.setPen(QPen(QColor(120, 140, 176), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 87, 27), 5, 5);
    p.setPen(QPen(kNavy, 2.2, Qt::SolidLine, Qt::RoundCap));
    if (add) {
        p.drawLine(QPointF(38, 14), QPointF(50, 14));
        p.drawLine(QPointF(44, 8), QPointF(44, 20));
    } else {
        p.drawLine(QPointF(38, 14), QPointF(50, 14));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: SkinGen <Res folder>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    g_folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_folder);

    Save("ZoomIn.bmp", 22, 22, [](QPainter& p) { ZoomButton(p, true, false); });
    Save("ZoomInHot.bmp", 22, 22, [](QPainter& p) { ZoomButton(p, true, true); });
    // Disabled faces for tools that show that state (the zoom bar does not).
    Save("ZoomInDisabled.bmp", 22, 22, [](QPainter& p) { ZoomButton(p, true, false, true); });
    Save("ZoomOutDisabled.bmp", 22, 22, [](QPainter& p) { ZoomButton(p, false, false, true); });
    Save("ZoomOut.bmp", 22, 22, [](QPainter& p) { ZoomButton(p, false, false); });
    Save("ZoomOutHot.bmp", 22, 22, [](QPainter& p) { ZoomButton(p, false, true); });
    Save("ZoomThumb.bmp", 10, 20, [](QPainter& p) {
        p.setPen(QPen(QColor(24, 36, 58), 1));
        p.setBrush(QColor(250, 250, 252));
        p.drawRoundedRect(QRectF(0.5, 0.5, 9, 19), 3, 3);
        p.setPen(QPen(kAccent, 2));
        p.drawLine(QPointF(5, 5), QPointF(5, 15));
    });
    Save("XButton.bmp", 11, 11, [](QPainter& p) {
        p.setPen(QPen(QColor(40, 48, 64), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(2.5, 2.5), QPointF(8.5, 8.5));
        p.drawLine(QPointF(8.5, 2.5), QPointF(2.5, 8.5));
    });
    Save("Logo.bmp", 40, 30, [](QPainter& p) {
        QPainterPath frame;
        frame.addRoundedRect(QRectF(2, 4, 36, 22), 5, 5);
        QLinearGradient sky(0, 4, 0, 26);
        sky.setColorAt(0, QColor(120, 170, 230));
        sky.setColorAt(1, QColor(230, 240, 252));
        p.fillPath(frame, sky);
        p.setClipPath(frame);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(60, 96, 140));
        p.drawPolygon(
            QPolygonF{QPointF(2, 26), QPointF(12, 12), QPointF(19, 20), QPointF(27, 9), QPointF(38, 26)});
        p.setBrush(kAccent);
        p.drawEllipse(QRectF(27, 7, 6, 6));
        p.setClipping(false);
        p.setPen(QPen(kIcon, 1.4));
        p.setBrush(Qt::NoBrush);
        p.drawPath(frame);
    });
    const QColor taskColors[3] = {kIcon, kNavy, QColor(120, 134, 160)};
    const char* taskNames[3] = {"TaskTabs.bmp", "TaskTabsHot.bmp", "TaskTabsDisabled.bmp"};
    for (int s = 0; s < 3; ++s)
        Save(taskNames[s], 60, 20, [&](QPainter& p) {
            for (int i = 0; i < 3; ++i)
                TaskIcon(p, i, QPointF(20 * i, 0),
                         s == 1 ? QColor(255, 206, 96) : taskColors[s == 2 ? 2 : 0]);
        });
    const char* toolNames[3] = {"MainToolBar.bmp", "MainToolBarHot.bmp", "MainToolBarDisabled.bmp"};
    const QColor toolColors[3] = {kNavy, QColor(20, 90, 190), QColor(150, 158, 172)};
    for (int s = 0; s < 3; ++s)
        Save(toolNames[s], 72, 24, [&](QPainter& p) {
            for (int i = 0; i < 3; ++i)
                ToolIcon(p, i, QPointF(24 * i, 0), toolColors[s]);
        });
    // The menu icons, and the same at twice the size for high-density screens.
    for (int scale : {1, 2})
        Save(scale == 1 ? "MenuToolBar.bmp" : "MenuToolBar@2x.bmp", 16 * 7 * scale, 16 * scale,
             [&](QPainter& p) {
                 for (int i = 0; i < 7; ++i) {
                     p.save();
                     p.translate(16 * scale * i, 0);
                     p.scale(16 * scale / 24.0, 16 * scale / 24.0);
                     MenuIcon(p, i);
                     p.restore();
                 }
             });
    Save("TaskBarBack.bmp", 8, 48, [](QPainter& p) { p.fillRect(QRect(0, 0, 8, 48), kNavy); });
    Save("StripBack.bmp", 8, 36, [](QPainter& p) { p.fillRect(QRect(0, 0, 8, 36), kPale); });
    Save("AddButton.bmp", 88, 28, [](QPainter& p) { StripButton(p, true, false); });
    Save("AddButtonHot.bmp", 88, 28, [](QPainter& p) { StripButton(p, true, true); });
    Save("RemoveButton.bmp", 88, 28, [](QPainter& p) { StripButton(p, false, false); });
    Save("RemoveButtonHot.bmp", 88, 28, [](QPainter& p) { StripButton(p, false, true); });
    const QColor markerColors[3] = {QColor(220, 50, 50), QColor(40, 150, 60), QColor(40, 90, 210)};
    for (int i = 0; i < 3; ++i)
        Save(QStringLiteral("Marker%1.bmp").arg(i + 1), 23, 23,
             [&](QPainter& p) { Marker(p, i + 1, markerColors[i]); });

    QFile ini(g_folder + "/resourses.ini");
    if (!ini.open(QIODevice::WriteOnly) || ini.write(kIni) < 0)
        g_ok = false;
    if (!g_ok) {
        std::fprintf(stderr, "SkinGen: cannot write the skin into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
