#pragma once

#include <QAbstractItemView>
#include <QTest>
#include <QTimer>
#include <QWidget>

// A drag made with the mouse, as a user makes it: press on an item of the
// source view, move past the drag distance so the view starts its own drag,
// and, inside the drag's loop, move over the target and release there.
// The drag test binaries run on Qt's "minimal" headless platform, whose
// drag runs that loop (the offscreen platform's drag ends at once).
// Answers whether the drag's loop ran, that is whether a drag started.
inline bool mouseDrag(QAbstractItemView *source, const QModelIndex &item, QWidget *target, QPoint to,
                      Qt::KeyboardModifiers modifiers = {}) {
    QWidget *from = source->viewport();
    const QPoint at = source->visualRect(item).center();
    bool inLoop = false;
    QTest::mousePress(from, Qt::LeftButton, {}, at);
    QTimer inDrag;  // fires in the drag's loop, which the next moves start
    inDrag.setSingleShot(true);
    QObject::connect(&inDrag, &QTimer::timeout, target, [&inLoop, target, to, modifiers] {
        inLoop = true;
        QTest::mouseMove(target, to - QPoint(3, 3));
        QTest::mouseMove(target, to);
        QTest::mouseRelease(target, Qt::LeftButton, modifiers, to);
    });
    inDrag.start(0);
    QTest::mouseMove(from, at + QPoint(2, 2));  // the view arms its drag
    QTest::mouseMove(from, at + QPoint(40, 30));  // and starts it, here
    inDrag.stop();
    if (!inLoop)
        QTest::mouseRelease(from, Qt::LeftButton, {}, at + QPoint(40, 30));
    return inLoop;
}
