// A drive row in flight: what any client of the display could read of the
// drag while it lasts.
#include "App/Shell/ShellTestSupport.h"

#include <QMimeData>

namespace {
class DriveDrag : public ShellTest {};
}  // namespace

TEST_F(DriveDrag, CarriesNeitherTheDrivesIdNorItsPassword) {
    QNDriveConfigList drives = ftpDrives({QStringLiteral("A"), QStringLiteral("B")});
    drives[0]->setUsername(QStringLiteral("alice"));
    drives[0]->setPassword(QStringLiteral("pa55-s3cret"));
    storeDrives(drives);
    QNMainWindowController *window = launch();
    ASSERT_NE(window, nullptr);
    std::unique_ptr<QMimeData> drag(window->writeRows({0}));
    ASSERT_TRUE(drag);
    for (const QString &format : drag->formats()) {
        EXPECT_FALSE(drag->data(format).contains("pa55-s3cret")) << format.toStdString();
        EXPECT_FALSE(drag->data(format).contains("alice")) << format.toStdString();
    }
    // The drop still finds the drive.
    EXPECT_TRUE(window->acceptDrop(drag.get(), 2));
    VNTest::spin(20);
    EXPECT_EQ(window->rowContent(0).title, QStringLiteral("B"));
    EXPECT_EQ(window->rowContent(1).title, QStringLiteral("A"));
}
