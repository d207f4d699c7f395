#pragma once

#include "App/QNAlert.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>

// Every alert and sheet of the application goes through here. Sheets are
// window-modal dialogs placed under the window's title bar, one at a time per
// window: a sheet begun while another is up waits its turn.
//
// Automated mode (tests): alerts are not shown; each one that comes up is a
// pending request that the test answers, in the same one-at-a-time order.
class QNDialogService : public QObject {
    Q_OBJECT
public:
    static QNDialogService &shared();

    using AlertCompletion = std::function<void(const QNAlertResult &)>;
    using SheetCompletion = std::function<void(int returnCode)>;

    // An alert as a sheet on the window. The completion runs once, on the
    // main thread; when the window goes away first it answers like the
    // second button (nothing is done on the user's behalf). Answers the
    // alert's id (0 when there was no window and it was asked modally, or
    // when it was handed to the main thread).
    quint64 beginAlertSheet(const QNAlert &alert, QWidget *window, AlertCompletion completion = {});
    // A question whose facts change while it is up: its texts replaced,
    // on show or still waiting its turn. False when it has ended.
    bool updateAlert(quint64 id, const QString &messageText, const QString &informativeText);
    // Ends the alert, on show or still waiting, as if that answer was
    // given (its completion runs). False when it has ended already.
    bool dismissAlert(quint64 id, int returnCode);
    // An application-modal alert; returns its answer.
    QNAlertResult runModal(const QNAlert &alert);

    // A sheet of our own (a form, a login page) on the window; it stays until
    // endSheet(). The completion gets the code given there.
    void beginSheet(QWidget *sheet, QWidget *window, SheetCompletion completion = {});
    void endSheet(QWidget *sheet, int returnCode);
    // The sheet on show on the window, if any (alert panels included).
    QWidget *attachedSheet(QWidget *window) const;

    // Where a sheet of this size comes out on the window, in global
    // coordinates (under a TBWindow's title bar, centred).
    static QPoint sheetPosition(QWidget *window, QWidget *sheet);
    // The size a sheet of our own is given on the window: its own, no
    // larger than the room under the title bar unless its minimum needs more.
    static QSize fittedSheetSize(QWidget *window, QWidget *sheet);

    // ---- Automated mode ----
    struct Request {
        quint64 id = 0;
        QNAlert alert;
        QPointer<QWidget> window;
        bool modal = false;
    };
    void setAutomated(bool automated);
    bool isAutomated() const { return m_automated; }
    // The alert sheets up now (one per window at most), oldest first.
    QList<Request> pendingAlerts() const;
    // Every alert that came up (sheets and modal), oldest first.
    const QList<Request> &history() const { return m_history; }
    void clearHistory() { m_history.clear(); }
    // Answers a pending alert; false when there is no such request.
    bool answer(quint64 id, const QNAlertResult &result);
    bool answer(quint64 id, int returnCode) { return answer(id, QNAlertResult{returnCode, false}); }
    // Answers modal alerts in automated mode (default: the first button).
    using ModalResponder = std::function<QNAlertResult(const Request &)>;
    void setModalResponder(ModalResponder responder) { m_modalResponder = std::move(responder); }

signals:
    void alertPosted(quint64 id);

private:
    struct Entry {
        quint64 id = 0;
        QNAlert alert;
        QPointer<QWidget> sheet;  // a sheet of our own, or the alert panel once shown
        bool isAlert = true;
        AlertCompletion alertCompletion;
        SheetCompletion sheetCompletion;
        bool shown = false;
    };
    struct WindowQueue {
        QPointer<QWidget> window;
        std::deque<Entry> entries;
    };

    void enqueue(QWidget *window, Entry entry);
    void showNext(QWidget *window);
    void finishFront(QWidget *window, int returnCode, bool suppressed);
    void dropWindow(QObject *window);

    bool m_automated = false;
    quint64 m_nextId = 1;
    QHash<QObject *, WindowQueue> m_queues;
    QList<Request> m_history;
    ModalResponder m_modalResponder;
};
