// The icons of folders and files in the large thumbnails: drawn at the
// thumbnail's size, never a small picture blown up (blurred) or left small,
// with the desktop's icon theme and without one.
#include "PanesTestSupport.h"

#include "App/QNPaintedIcons.h"

#include <QIcon>
#include <QImage>

namespace {

// The largest change of opacity between two neighbouring pixels of a row:
// a sharp outline changes at once, one scaled up from a small picture over
// many pixels.
int sharpestEdge(const QImage &picture) {
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    int best = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 1; x < image.width(); ++x)
            best = std::max(best, std::abs(qAlpha(image.pixel(x, y)) - qAlpha(image.pixel(x - 1, y))));
    return best;
}

// The width of what is drawn (not transparent).
int drawnWidth(const QImage &picture) {
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    int left = image.width(), right = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return right < left ? 0 : right - left + 1;
}

class ThumbnailIconsTest : public PanesTest {
protected:
    void TearDown() override {
        QIcon::setThemeName(theme);
        QIcon::setFallbackThemeName(fallback);
        PanesTest::TearDown();
    }
    const QString theme = QIcon::themeName(), fallback = QIcon::fallbackThemeName();
};

}  // namespace

TEST_F(ThumbnailIconsTest, FoldersAndFilesAreDrawnAtTheLargestThumbnailSizeWithoutAnIconTheme) {
    // A desktop with no icon theme at all.
    QIcon::setThemeName(QStringLiteral("no-such-theme"));
    QIcon::setFallbackThemeName(QStringLiteral("no-such-theme"));
    const QString root = folder(QStringLiteral("icons"));
    folder(QStringLiteral("icons/Album"));
    writeFile(root + QStringLiteral("/slides.odp"), 10);
    QNMainWindowController *w = openDrive(localDrive(QStringLiteral("ICONS"), root));
    ASSERT_NE(w, nullptr);
    QNMacFilesViewController *pane = w->filesViewController();
    pane->imageBrowserView()->setZoomValue(1.0f);
    pane->changeView(true);
    VNTest::spin(30);
    const int side = pane->imageBrowserView()->iconSize().width();
    ASSERT_GE(side, 200);
    for (int i = 0; i < 2; ++i) {
        const QNImageObject item = pane->imageBrowserItemAtIndex(i);
        SCOPED_TRACE(item.title().toStdString());
        const QImage picture = item.image();
        EXPECT_EQ(picture.width(), side);
        EXPECT_GE(drawnWidth(picture), side / 2);
        EXPECT_GE(sharpestEdge(picture), 128);
    }
}

TEST(PaintedIcons, AreSharpAtEverySizeAskedFor) {
    for (const QIcon &icon : {QNPaintedIcons::folder(), QNPaintedIcons::document()})
        for (const int side : {16, 48, 128, 256, 512}) {
            EXPECT_EQ(icon.actualSize(QSize(side, side)), QSize(side, side));
            const QImage picture = icon.pixmap(side).toImage();
            EXPECT_EQ(picture.size(), QSize(side, side));
            if (side >= 48)
                EXPECT_GE(sharpestEdge(picture), 128) << side;
        }
}
