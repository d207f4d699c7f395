// The add-drive sheet comes up under the pointer on the first click of a
// double-click on "Add Drive": the second click lands on the sheet's list and
// must not choose the service under it.
#include "App/Drives/DrivesTestSupport.h"

#include "App/QNMacTableView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QStyleHints>

namespace {

using AddDriveStrayClickTest = DrivesTest;

// A left click at the centre of a row of the sheet's list.
void clickRow(QNAddDriveWindowController *s, int row) {
    QNMacTableView *table = s->tableView();
    const QModelIndex index = table->model()->index(row, 0);
    table->scrollTo(index);
    const QPoint at = table->visualRect(index).center();
    QWidget *viewport = table->viewport();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
        QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }
}

TEST_F(AddDriveStrayClickTest, AClickAsTheSheetComesUpChoosesNoServiceButALaterOneDoes) {
    // The double-click interval decides what "as the sheet comes up" means:
    // a long one makes the first click surely that soon, a nil one the next
    // surely later, however slowly the test runs.
    QStyleHints *hints = QGuiApplication::styleHints();
    const int interval = hints->mouseDoubleClickInterval();
    hints->setMouseDoubleClickInterval(60000);
    const int ftpRow = 11;
    QNAddDriveWindowController *s = openSheet();
    clickRow(s, ftpRow);
    EXPECT_EQ(s->driveConfigWindowController(), nullptr);
    EXPECT_TRUE(s->tableView()->selectionModel()->selectedRows().isEmpty());
    hints->setMouseDoubleClickInterval(0);
    clickRow(s, ftpRow);
    EXPECT_NE(s->driveConfigWindowController(), nullptr);
    hints->setMouseDoubleClickInterval(interval);
}

}  // namespace
