// The dialog service: one sheet at a time per window, answers in order, a
// window that goes away answers its waiting sheets with the second button,
// modal alerts, and real panels placed under the title bar, whose default
// button may be another than the first.
#include "App/QNAlertPanel.h"
#include "App/QNDialogService.h"
#include "App/TBWindow.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QNAlert question(const QString &text) {
    QNAlert a;
    a.messageText = text;
    a.buttons = {QStringLiteral("Yes"), QStringLiteral("No"), QStringLiteral("Later")};
    return a;
}

struct DialogFixture : ::testing::Test {
    void SetUp() override {
        service.setAutomated(true);
        service.clearHistory();
    }
    void TearDown() override { service.setAutomated(true); }
    QNDialogService &service = QNDialogService::shared();
};

}  // namespace

TEST_F(DialogFixture, SheetsOnOneWindowComeOneAtATimeOnTwoTogether) {
    TBWindow window;
    QList<int> answers;
    service.beginAlertSheet(question(QStringLiteral("first")), &window,
                            [&](const QNAlertResult &r) { answers << r.returnCode; });
    service.beginAlertSheet(question(QStringLiteral("second")), &window,
                            [&](const QNAlertResult &r) { answers << r.returnCode * 10; });
    auto pending = service.pendingAlerts();
    ASSERT_EQ(pending.size(), 1);
    EXPECT_EQ(pending[0].alert.messageText, QStringLiteral("first"));
    EXPECT_EQ(pending[0].window, &window);

    ASSERT_TRUE(service.answer(pending[0].id, QNAlert::ThirdButtonReturn));
    EXPECT_EQ(answers, QList<int>{-1});
    ASSERT_TRUE(VNTest::waitUntil([&] { return service.pendingAlerts().size() == 1; }, 2000));
    pending = service.pendingAlerts();
    EXPECT_EQ(pending[0].alert.messageText, QStringLiteral("second"));
    EXPECT_FALSE(service.answer(pending[0].id + 100, 1));  // no such request
    ASSERT_TRUE(service.answer(pending[0].id, QNAlert::FirstButtonReturn));
    EXPECT_EQ(answers, (QList<int>{-1, 10}));
    VNTest::spin(20);
    EXPECT_TRUE(service.pendingAlerts().isEmpty());

    // Sheets on two windows are up together.
    TBWindow other;
    service.beginAlertSheet(question(QStringLiteral("a")), &window);
    service.beginAlertSheet(question(QStringLiteral("b")), &other);
    EXPECT_EQ(service.pendingAlerts().size(), 2);
    for (const auto &r : service.pendingAlerts())
        service.answer(r.id, 0);
}

TEST_F(DialogFixture, AWindowThatGoesAwayAnswersItsSheetsAndWorkersSheetsComeUpOnTheMainThread) {
    auto *window = new TBWindow;
    QList<int> answers;
    service.beginAlertSheet(question(QStringLiteral("one")), window, [&](const QNAlertResult &r) { answers << r.returnCode; });
    service.beginAlertSheet(question(QStringLiteral("two")), window, [&](const QNAlertResult &r) { answers << r.returnCode; });
    delete window;
    EXPECT_EQ(answers, (QList<int>{0, 0}));
    EXPECT_TRUE(service.pendingAlerts().isEmpty());

    // Sheets begun on another thread come up on the main thread.
    TBWindow other;
    std::thread worker([&] { service.beginAlertSheet(question(QStringLiteral("from a worker")), &other); });
    worker.join();
    ASSERT_TRUE(VNTest::waitUntil([&] { return service.pendingAlerts().size() == 1; }, 2000));
    service.answer(service.pendingAlerts()[0].id, 1);
}

TEST_F(DialogFixture, ModalAlertsAreAnsweredByTheResponderAndRecorded) {
    EXPECT_EQ(service.runModal(question(QStringLiteral("default"))).returnCode, QNAlert::FirstButtonReturn);
    service.setModalResponder([](const QNDialogService::Request &r) {
        return QNAlertResult{r.alert.messageText == QStringLiteral("no") ? 0 : 1, true};
    });
    const QNAlertResult r = service.runModal(question(QStringLiteral("no")));
    EXPECT_EQ(r.returnCode, 0);
    EXPECT_TRUE(r.suppressed);
    ASSERT_EQ(service.history().size(), 2);
    EXPECT_TRUE(service.history()[1].modal);
    service.setModalResponder({});
}

TEST_F(DialogFixture, SheetsOfOurOwnWaitForTheAlertBeforeThem) {
    TBWindow window;
    window.setTitleBarHeight(74);
    window.resize(600, 400);
    window.show();
    service.beginAlertSheet(question(QStringLiteral("first")), &window);
    auto *form = new QWidget;
    form->resize(200, 100);
    int ended = -5;
    service.beginSheet(form, &window, [&](int code) { ended = code; });
    EXPECT_FALSE(form->isVisible());
    service.answer(service.pendingAlerts()[0].id, 1);
    ASSERT_TRUE(VNTest::waitUntil([&] { return form->isVisible(); }, 2000));
    EXPECT_EQ(service.attachedSheet(&window), form);
    service.endSheet(form, 1);
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(form->isVisible());
    delete form;
}

TEST_F(DialogFixture, ARealPanelComesOutUnderTheTitleBarAndAnswersWithItsButtons) {
    service.setAutomated(false);
    TBWindow window;
    window.setTitleBarHeight(74);
    window.resize(640, 480);
    window.move(50, 50);
    window.show();
    int answer = -5;
    QNAlert alert = question(QStringLiteral("Remove Drive"));
    alert.informativeText = QStringLiteral("Do you want to remove it");
    alert.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    service.beginAlertSheet(alert, &window, [&](const QNAlertResult &r) { answer = r.returnCode; });
    auto *panel = qobject_cast<QNAlertPanel *>(service.attachedSheet(&window));
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_EQ(panel->pos().y(), window.mapToGlobal(QPoint(0, 74)).y());
    EXPECT_EQ(panel->findChild<QLabel *>(QStringLiteral("informativeText"))->text(),
              QStringLiteral("Do you want to remove it"));
    // Escape answers like "No".
    panel->reject();
    EXPECT_EQ(answer, 0);
}

TEST_F(DialogFixture, AQuestionOnShowOrWaitingCanBeRewordedAndEndedForTheUser) {
    service.setAutomated(false);
    TBWindow window;
    window.setTitleBarHeight(74);
    window.resize(640, 480);
    window.show();
    QList<int> answers;
    const quint64 shown = service.beginAlertSheet(question(QStringLiteral("3 left")), &window,
                                                  [&](const QNAlertResult &r) { answers << r.returnCode; });
    const quint64 waiting = service.beginAlertSheet(question(QStringLiteral("behind")), &window,
                                                    [&](const QNAlertResult &r) { answers << r.returnCode * 10; });
    ASSERT_TRUE(shown && waiting);
    auto *panel = qobject_cast<QNAlertPanel *>(service.attachedSheet(&window));
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(service.updateAlert(shown, QStringLiteral("2 left"), QStringLiteral("still going")));
    EXPECT_EQ(panel->findChild<QLabel *>(QStringLiteral("messageText"))->text(), QStringLiteral("2 left"));
    EXPECT_EQ(service.pendingAlerts().first().alert.messageText, QStringLiteral("2 left"));
    // The one waiting its turn leaves unseen; the one on show closes.
    EXPECT_TRUE(service.dismissAlert(waiting, QNAlert::SecondButtonReturn));
    EXPECT_TRUE(service.dismissAlert(shown, QNAlert::FirstButtonReturn));
    EXPECT_EQ(answers, (QList<int>{0, 1}));
    EXPECT_FALSE(service.dismissAlert(shown, QNAlert::FirstButtonReturn));
    EXPECT_FALSE(service.updateAlert(waiting, QStringLiteral("x"), QString()));
    EXPECT_TRUE(VNTest::waitUntil([&] { return service.attachedSheet(&window) == nullptr; }));
}

TEST_F(DialogFixture, AQuestionWhoseDefaultIsNotItsFirstButtonTakesReturnThere) {
    service.setAutomated(false);
    TBWindow window;
    window.resize(640, 480);
    window.show();
    for (bool pressReturn : {true, false}) {
        int answer = -5;
        QNAlert alert = question(QStringLiteral("Replace 1 item?"));
        alert.buttons = {QStringLiteral("Replace"), QStringLiteral("Cancel"), QStringLiteral("Skip those")};
        alert.defaultButton = 1;
        service.beginAlertSheet(alert, &window, [&](const QNAlertResult &r) { answer = r.returnCode; });
        auto *panel = qobject_cast<QNAlertPanel *>(service.attachedSheet(&window));
        ASSERT_NE(panel, nullptr);
        ASSERT_TRUE(VNTest::waitUntil([&] { return panel->isVisible() && panel->focusWidget(); }, 2000));
        // The focused button would take Return even from the default one.
        EXPECT_EQ(qobject_cast<QPushButton *>(panel->focusWidget())->text(), QStringLiteral("Cancel"));
        QTest::keyClick(panel->focusWidget(), pressReturn ? Qt::Key_Return : Qt::Key_Escape);
        ASSERT_TRUE(VNTest::waitUntil([&] { return answer != -5; }, 2000));
        EXPECT_EQ(answer, QNAlert::SecondButtonReturn) << (pressReturn ? "Return" : "Escape");
    }
}
