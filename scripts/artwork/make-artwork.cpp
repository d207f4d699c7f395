// Draws the application's placeholder artwork (drive icons, path-bar and
// title-bar glyphs, drag badge) into PNG files. Run once after changing it:
//   g++ -std=c++20 -fPIC make-artwork.cpp $(pkg-config --cflags --libs Qt6Gui) -o /tmp/make-artwork
//   QT_QPA_PLATFORM=offscreen /tmp/make-artwork src/App/resources/images
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <functional>

static QString outDir;

static void save(const QString &name, int w, int h, const std::function<void(QPainter &)> &draw) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    draw(p);
    p.end();
    img.save(outDir + "/" + name + ".png");
}

// A drive icon: a rounded tile in the service's colours with a short mark.
static void driveIcon(const QString &name, QColor top, QColor bottom, const QString &mark, int fontPx = 26) {
    save(name, 64, 64, [&](QPainter &p) {
        QRectF r(4, 4, 56, 56);
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        g.setColorAt(0, top);
        g.setColorAt(1, bottom);
        p.setPen(QPen(bottom.darker(130), 1.2));
        p.setBrush(g);
        p.drawRoundedRect(r, 12, 12);
        // a soft highlight on the upper half
        QPainterPath hl;
        hl.addRoundedRect(QRectF(6, 6, 52, 24), 10, 10);
        p.fillPath(hl, QColor(255, 255, 255, 40));
        QFont f("DejaVu Sans");
        f.setBold(true);
        f.setPixelSize(fontPx);
        p.setFont(f);
        p.setPen(QColor(0, 0, 0, 60));
        p.drawText(r.translated(0, 1.5), Qt::AlignCenter, mark);
        p.setPen(Qt::white);
        p.drawText(r, Qt::AlignCenter, mark);
    });
}

static void folderShape(QPainter &p, QRectF r, QColor c) {
    QPainterPath path;
    const qreal tabW = r.width() * 0.4, tabH = r.height() * 0.18;
    path.moveTo(r.left(), r.top() + tabH);
    path.lineTo(r.left(), r.top() + 2);
    path.quadTo(r.left(), r.top(), r.left() + 2, r.top());
    path.lineTo(r.left() + tabW - 2, r.top());
    path.lineTo(r.left() + tabW + 2, r.top() + tabH);
    path.lineTo(r.right() - 2, r.top() + tabH);
    path.quadTo(r.right(), r.top() + tabH, r.right(), r.top() + tabH + 2);
    path.lineTo(r.right(), r.bottom() - 2);
    path.quadTo(r.right(), r.bottom(), r.right() - 2, r.bottom());
    path.lineTo(r.left() + 2, r.bottom());
    path.quadTo(r.left(), r.bottom(), r.left(), r.bottom() - 2);
    path.closeSubpath();
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, c.lighter(125));
    g.setColorAt(1, c);
    p.setPen(QPen(c.darker(140), 1));
    p.setBrush(g);
    p.drawPath(path);
}

static void fileShape(QPainter &p, QRectF r, QColor paper, QColor edge) {
    const qreal fold = r.width() * 0.3;
    QPainterPath path;
    path.moveTo(r.topLeft());
    path.lineTo(r.right() - fold, r.top());
    path.lineTo(r.right(), r.top() + fold);
    path.lineTo(r.bottomRight());
    path.lineTo(r.bottomLeft());
    path.closeSubpath();
    p.setPen(QPen(edge, 1.2));
    p.setBrush(paper);
    p.drawPath(path);
    QPainterPath corner;
    corner.moveTo(r.right() - fold, r.top());
    corner.lineTo(r.right() - fold, r.top() + fold);
    corner.lineTo(r.right(), r.top() + fold);
    p.setBrush(edge.lighter(150));
    p.drawPath(corner);
}

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    outDir = argc > 1 ? argv[1] : ".";

    driveIcon("drive-dropbox", QColor(0x3d, 0x9a, 0xe8), QColor(0x00, 0x61, 0xc2), "Db");
    driveIcon("drive-box", QColor(0x2f, 0x86, 0xd6), QColor(0x1a, 0x5e, 0xa8), "box", 20);
    driveIcon("drive-skydrive", QColor(0x3a, 0x96, 0xdd), QColor(0x09, 0x4a, 0xb2), "One", 20);
    driveIcon("drive-office365", QColor(0xf2, 0x6b, 0x3a), QColor(0xc4, 0x3e, 0x1c), "365", 20);
    driveIcon("drive-google-drive", QColor(0x4c, 0xbb, 0x6b), QColor(0x1e, 0x8e, 0x3e), "G");
    driveIcon("drive-copy", QColor(0x5a, 0xb9, 0xe8), QColor(0x22, 0x7d, 0xb4), "C");
    driveIcon("drive-sugarsync", QColor(0x8c, 0xc6, 0x3f), QColor(0x5b, 0x93, 0x1e), "S");
    driveIcon("drive-bitcasa", QColor(0x44, 0x5c, 0x8e), QColor(0x26, 0x36, 0x5c), "B");
    driveIcon("drive-picasa", QColor(0xb2, 0x6b, 0xd6), QColor(0x7b, 0x3a, 0xa6), "P");
    driveIcon("drive-flickr", QColor(0xff, 0x3d, 0x9a), QColor(0xc2, 0x00, 0x63), "f");
    driveIcon("drive-webdav", QColor(0x5d, 0x8a, 0xa8), QColor(0x34, 0x5a, 0x74), "DAV", 18);
    driveIcon("drive-ftp", QColor(0x7a, 0x87, 0x94), QColor(0x4a, 0x55, 0x61), "FTP", 18);
    driveIcon("drive-smb", QColor(0x8a, 0x8a, 0x8a), QColor(0x55, 0x55, 0x55), "SMB", 18);
    driveIcon("drive-evernote", QColor(0x5f, 0xc2, 0x4a), QColor(0x2d, 0x8a, 0x1e), "E");
    driveIcon("drive-spideroak", QColor(0x3b, 0x3b, 0x3b), QColor(0x15, 0x15, 0x15), "SO", 20);
    driveIcon("drive-apple", QColor(0xb8, 0xbf, 0xc7), QColor(0x7d, 0x86, 0x90), "Mac", 18);
    driveIcon("drive-my-documents", QColor(0xf0, 0xb2, 0x4b), QColor(0xc9, 0x84, 0x1c), "Doc", 18);
    driveIcon("drive-diskcast", QColor(0xe2, 0x5d, 0x4f), QColor(0xa8, 0x2e, 0x24), "Wi", 22);

    save("drive-add", 64, 64, [](QPainter &p) {
        QRectF r(5, 5, 54, 54);
        p.setPen(QPen(QColor(0xb8, 0xa4, 0xa5), 2, Qt::DashLine));
        p.setBrush(QColor(0xfb, 0xf6, 0xf6));
        p.drawRoundedRect(r, 12, 12);
        p.setPen(QPen(QColor(0xa0, 0x82, 0x84), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(32, 20), QPointF(32, 44));
        p.drawLine(QPointF(20, 32), QPointF(44, 32));
    });

    save("file-file-large", 64, 64, [](QPainter &p) {
        fileShape(p, QRectF(12, 6, 40, 52), QColor(0xfc, 0xfc, 0xfc), QColor(0x9a, 0x9a, 0x9a));
        p.setPen(QPen(QColor(0xc8, 0xc8, 0xc8), 2));
        for (int y = 26; y <= 48; y += 6)
            p.drawLine(QPointF(18, y), QPointF(46, y));
    });
    save("file-file", 32, 32, [](QPainter &p) {
        fileShape(p, QRectF(6, 3, 20, 26), QColor(0xfc, 0xfc, 0xfc), QColor(0x9a, 0x9a, 0x9a));
    });
    save("file-folder", 32, 32, [](QPainter &p) { folderShape(p, QRectF(3, 6, 26, 21), QColor(0x6f, 0xa8, 0xdc)); });
    save("image-folder", 32, 32, [](QPainter &p) { folderShape(p, QRectF(3, 6, 26, 21), QColor(0x6f, 0xa8, 0xdc)); });

    save("drag-badge", 32, 32, [](QPainter &p) {
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(QColor(0xd9, 0x3b, 0x30));
        p.drawEllipse(QRectF(2, 2, 28, 28));
    });

    // path bar glyphs
    save("path-home", 28, 28, [](QPainter &p) {
        QColor c(0x79, 0x68, 0x69);
        QPainterPath roof;
        roof.moveTo(14, 3);
        roof.lineTo(26, 14);
        roof.lineTo(2, 14);
        roof.closeSubpath();
        p.fillPath(roof, c);
        p.fillRect(QRectF(6, 13, 16, 12), c);
        p.fillRect(QRectF(12, 17, 5, 8), Qt::white);
    });
    save("path-arrow", 16, 16, [](QPainter &p) {
        p.setPen(QPen(QColor(0xa0, 0x90, 0x91), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(5, 2), QPointF(11, 8), QPointF(5, 14)}));
    });
    save("path-drive", 24, 24, [](QPainter &p) {
        QColor c(0x79, 0x68, 0x69);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawRoundedRect(QRectF(1, 6, 22, 13), 3, 3);
        p.setBrush(QColor(0x8d, 0xe0, 0x6b));
        p.drawEllipse(QRectF(16, 11, 4, 4));
    });
    save("path-folder", 30, 26, [](QPainter &p) { folderShape(p, QRectF(1, 1, 28, 24), QColor(0x79, 0x68, 0x69)); });

    // drawer toggle (task list) buttons
    auto resize = [](bool up, bool pressed) {
        return [=](QPainter &p) {
            QColor c = pressed ? QColor(0x4a, 0x3c, 0x3d) : QColor(0x79, 0x68, 0x69);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawRoundedRect(QRectF(4, 4, 24, 24), 5, 5);
            p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            if (up)
                p.drawPolyline(QPolygonF({QPointF(10, 19), QPointF(16, 12), QPointF(22, 19)}));
            else
                p.drawPolyline(QPolygonF({QPointF(10, 13), QPointF(16, 20), QPointF(22, 13)}));
        };
    };
    save("button-resize-top-vertical", 32, 32, resize(true, false));
    save("button-resize-top-vertical-pressed", 32, 32, resize(true, true));
    save("button-resize-bottom-vertical", 32, 32, resize(false, false));
    save("button-resize-bottom-vertical-pressed", 32, 32, resize(false, true));

    // title-bar tool buttons (back, views, quick look, new folder)
    auto tool = [](const std::function<void(QPainter &)> &glyph, bool pressed) {
        return [=](QPainter &p) {
            QColor c = pressed ? QColor(0x4a, 0x3c, 0x3d) : QColor(0x79, 0x68, 0x69);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawRoundedRect(QRectF(2, 2, 28, 28), 6, 6);
            p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            glyph(p);
        };
    };
    struct Glyph { const char *name; std::function<void(QPainter &)> draw; };
    const Glyph glyphs[] = {
        {"button-back", [](QPainter &p) { p.drawPolyline(QPolygonF({QPointF(19, 9), QPointF(12, 16), QPointF(19, 23)})); }},
        {"button-list", [](QPainter &p) { for (int y = 10; y <= 22; y += 6) p.drawLine(QPointF(9, y), QPointF(23, y)); }},
        {"button-thumbnails", [](QPainter &p) {
             p.setPen(Qt::NoPen); p.setBrush(Qt::white);
             for (int x : {9, 17}) for (int y : {9, 17}) p.drawRect(QRectF(x, y, 6, 6)); }},
        {"button-quicklook", [](QPainter &p) {
             p.drawEllipse(QRectF(8, 11, 16, 10)); p.setBrush(Qt::white); p.drawEllipse(QRectF(14, 14, 4, 4)); }},
        {"button-create-folder", [](QPainter &p) {
             p.drawLine(QPointF(16, 9), QPointF(16, 23)); p.drawLine(QPointF(9, 16), QPointF(23, 16)); }},
    };
    for (const Glyph &g : glyphs) {
        save(g.name, 32, 32, tool(g.draw, false));
        save(QString(g.name) + "-pressed", 32, 32, tool(g.draw, true));
    }

    // remove button of a drive row
    save("button-delete", 24, 24, [](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xc9, 0xb9, 0xba));
        p.drawEllipse(QRectF(2, 2, 20, 20));
        p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 8), QPointF(16, 16));
        p.drawLine(QPointF(16, 8), QPointF(8, 16));
    });

    // window buttons: close, minimise, zoom, in their states
    struct Light { const char *name; QColor colour; int glyph; };
    const Light lights[] = {{"close", QColor(0xff, 0x5f, 0x57), 0}, {"minimize", QColor(0xfe, 0xbc, 0x2e), 1},
                            {"zoom", QColor(0x28, 0xc8, 0x40), 2}};
    for (const Light &l : lights) {
        auto light = [&](QColor fill, bool glyph) {
            return [=](QPainter &p) {
                p.setPen(QPen(fill.darker(130), 1));
                p.setBrush(fill);
                p.drawEllipse(QRectF(1.5, 1.5, 15, 15));
                if (!glyph)
                    return;
                p.setPen(QPen(QColor(0, 0, 0, 140), 1.4, Qt::SolidLine, Qt::RoundCap));
                if (l.glyph == 0) {
                    p.drawLine(QPointF(6, 6), QPointF(12, 12));
                    p.drawLine(QPointF(12, 6), QPointF(6, 12));
                } else if (l.glyph == 1) {
                    p.drawLine(QPointF(5.5, 9), QPointF(12.5, 9));
                } else {
                    p.drawLine(QPointF(5.5, 9), QPointF(12.5, 9));
                    p.drawLine(QPointF(9, 5.5), QPointF(9, 12.5));
                }
            };
        };
        const QString base = QString("window-%1").arg(l.name);
        save(base, 18, 18, light(l.colour, false));
        save(base + "-rollover", 18, 18, light(l.colour, true));
        save(base + "-pressed", 18, 18, light(l.colour.darker(120), true));
        save(base + "-inactive", 18, 18, light(QColor(0xd0, 0xd0, 0xd0), false));
    }
    return 0;
}
