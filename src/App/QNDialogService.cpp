#include "App/QNDialogService.h"

#include "App/QNAlertPanel.h"
#include "App/TBWindow.h"
#include "Platform/VNDispatch.h"

#include <QApplication>
#include <QScreen>

QNDialogService &QNDialogService::shared() {
    static QNDialogService *service = new QNDialogService;
    return *service;
}

void QNDialogService::setAutomated(bool automated) { m_automated = automated; }

QPoint QNDialogService::sheetPosition(QWidget *window, QWidget *sheet) {
    if (!window || !sheet)
        return {};
    const QSize size = sheet->sizeHint().expandedTo(sheet->minimumSize());
    QRect proposed(QPoint((window->width() - size.width()) / 2, 0), size);
    if (auto *tb = qobject_cast<TBWindow *>(window))
        proposed = tb->positionSheet(sheet, proposed);
    return window->mapToGlobal(proposed.topLeft());
}

QSize QNDialogService::fittedSheetSize(QWidget *window, QWidget *sheet) {
    // No larger than the room under the window's title bar (what the sheet
    // lists scrolls), as long as the sheet's own minimum allows.
    QSize size = sheet->size();
    const int top = window->mapFromGlobal(sheetPosition(window, sheet)).y();
    const QSize least = sheet->minimumSizeHint().expandedTo(sheet->minimumSize());
    if (size.height() > window->height() - top)
        size.setHeight(std::max(least.height(), window->height() - top));
    if (size.width() > window->width())
        size.setWidth(std::max(least.width(), window->width()));
    return size;
}

quint64 QNDialogService::beginAlertSheet(const QNAlert &alert, QWidget *window, AlertCompletion completion) {
    if (!VNDispatch::isMainThread()) {
        QPointer<QWidget> guard(window);
        VNDispatch::mainAsync([this, alert, guard, completion] {
            beginAlertSheet(alert, guard.data(), completion);
        });
        return 0;
    }
    if (!window) {
        // No window to hang it on: ask application-modally instead.
        const QNAlertResult result = runModal(alert);
        if (completion)
            completion(result);
        return 0;
    }
    Entry entry;
    entry.id = m_nextId++;
    entry.alert = alert;
    entry.isAlert = true;
    entry.alertCompletion = std::move(completion);
    const quint64 id = entry.id;
    enqueue(window->window(), std::move(entry));
    return id;
}

bool QNDialogService::updateAlert(quint64 id, const QString &messageText, const QString &informativeText) {
    for (WindowQueue &q : m_queues) {
        for (Entry &e : q.entries) {
            if (e.id != id || !e.isAlert)
                continue;
            e.alert.messageText = messageText;
            e.alert.informativeText = informativeText;
            if (auto *panel = qobject_cast<QNAlertPanel *>(e.sheet.data()))
                panel->setTexts(messageText, informativeText);
            return true;
        }
    }
    return false;
}

bool QNDialogService::dismissAlert(quint64 id, int returnCode) {
    for (auto it = m_queues.begin(); it != m_queues.end(); ++it) {
        WindowQueue &q = it.value();
        for (auto e = q.entries.begin(); e != q.entries.end(); ++e) {
            if (e->id != id || !e->isAlert)
                continue;
            if (e == q.entries.begin() && e->shown)
                return answer(id, returnCode);
            // Still waiting its turn: it leaves the queue unseen.
            AlertCompletion done = std::move(e->alertCompletion);
            q.entries.erase(e);
            if (done)
                done(QNAlertResult{returnCode, false});
            return true;
        }
    }
    return false;
}

QNAlertResult QNDialogService::runModal(const QNAlert &alert) {
    Request request{m_nextId++, alert, nullptr, true};
    m_history << request;
    emit alertPosted(request.id);
    if (m_automated)
        return m_modalResponder ? m_modalResponder(request) : QNAlertResult{QNAlert::FirstButtonReturn, false};
    QNAlertPanel panel(alert, QApplication::activeWindow());
    panel.setWindowModality(Qt::ApplicationModal);
    panel.exec();
    return panel.result();
}

void QNDialogService::beginSheet(QWidget *sheet, QWidget *window, SheetCompletion completion) {
    if (!sheet)
        return;
    if (!window) {
        sheet->show();
        return;
    }
    Entry entry;
    entry.id = m_nextId++;
    entry.sheet = sheet;
    entry.isAlert = false;
    entry.sheetCompletion = std::move(completion);
    enqueue(window->window(), std::move(entry));
}

void QNDialogService::endSheet(QWidget *sheet, int returnCode) {
    for (auto it = m_queues.begin(); it != m_queues.end(); ++it) {
        WindowQueue &q = it.value();
        if (!q.entries.empty() && q.entries.front().sheet == sheet && !q.entries.front().isAlert) {
            finishFront(q.window, returnCode, false);
            return;
        }
        // A sheet ended before its turn leaves the queue quietly.
        for (auto e = q.entries.begin(); e != q.entries.end(); ++e) {
            if (!e->isAlert && e->sheet == sheet) {
                SheetCompletion done = e->sheetCompletion;
                q.entries.erase(e);
                if (done)
                    done(returnCode);
                return;
            }
        }
    }
}

QWidget *QNDialogService::attachedSheet(QWidget *window) const {
    if (!window)
        return nullptr;
    auto it = m_queues.constFind(window->window());
    if (it == m_queues.constEnd() || it->entries.empty() || !it->entries.front().shown)
        return nullptr;
    return it->entries.front().sheet;
}

QList<QNDialogService::Request> QNDialogService::pendingAlerts() const {
    QList<Request> pending;
    for (const WindowQueue &q : m_queues) {
        if (q.entries.empty())
            continue;
        const Entry &front = q.entries.front();
        if (front.isAlert && front.shown)
            pending << Request{front.id, front.alert, q.window, false};
    }
    std::sort(pending.begin(), pending.end(), [](const Request &a, const Request &b) { return a.id < b.id; });
    return pending;
}

bool QNDialogService::answer(quint64 id, const QNAlertResult &result) {
    for (auto it = m_queues.begin(); it != m_queues.end(); ++it) {
        WindowQueue &q = it.value();
        if (!q.entries.empty() && q.entries.front().id == id && q.entries.front().isAlert &&
            q.entries.front().shown) {
            if (auto *panel = qobject_cast<QNAlertPanel *>(q.entries.front().sheet.data())) {
                // A visible panel ends through its own button, so both paths agree.
                QNAlertResult r = result;
                panel->disconnect(this);
                panel->close();
                panel->deleteLater();
                finishFront(q.window, r.returnCode, r.suppressed);
            } else {
                finishFront(q.window, result.returnCode, result.suppressed);
            }
            return true;
        }
    }
    return false;
}

void QNDialogService::enqueue(QWidget *window, Entry entry) {
    auto it = m_queues.find(window);
    if (it == m_queues.end()) {
        it = m_queues.insert(window, WindowQueue{window, {}});
        connect(window, &QObject::destroyed, this, [this](QObject *gone) { dropWindow(gone); });
    }
    it->entries.push_back(std::move(entry));
    if (it->entries.size() == 1)
        showNext(window);
}

void QNDialogService::showNext(QWidget *window) {
    auto it = m_queues.find(window);
    if (it == m_queues.end() || it->entries.empty())
        return;
    Entry &front = it->entries.front();
    if (front.shown)
        return;
    front.shown = true;
    if (front.isAlert) {
        m_history << Request{front.id, front.alert, window, false};
        if (m_automated) {
            emit alertPosted(front.id);
            return;
        }
        auto *panel = new QNAlertPanel(front.alert, window);
        panel->setWindowModality(Qt::WindowModal);
        panel->setAttribute(Qt::WA_DeleteOnClose);
        front.sheet = panel;
        const quint64 id = front.id;
        connect(panel, &QNAlertPanel::ended, this, [this, window, id](const QNAlertResult &r) {
            auto q = m_queues.find(window);
            if (q != m_queues.end() && !q->entries.empty() && q->entries.front().id == id)
                finishFront(window, r.returnCode, r.suppressed);
        });
        panel->adjustSize();
        panel->move(sheetPosition(window, panel));
        panel->open();
        emit alertPosted(id);
        return;
    }
    QWidget *sheet = front.sheet;
    if (!sheet) {
        finishFront(window, QNAlert::SecondButtonReturn, false);
        return;
    }
    sheet->setParent(window, sheet->windowFlags() | Qt::Dialog);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->adjustSize();
    sheet->resize(fittedSheetSize(window, sheet));
    sheet->move(sheetPosition(window, sheet));
    sheet->show();
    // The window system's frame, known once shown, takes room too.
    const int overflow = sheet->frameGeometry().bottom() - window->mapToGlobal(QPoint(0, window->height() - 1)).y();
    if (overflow > 0)
        sheet->resize(sheet->width(), std::max(sheet->height() - overflow, sheet->minimumSizeHint().height()));
    sheet->raise();
    sheet->activateWindow();
}

void QNDialogService::finishFront(QWidget *window, int returnCode, bool suppressed) {
    auto it = m_queues.find(window);
    if (it == m_queues.end() || it->entries.empty())
        return;
    Entry front = std::move(it->entries.front());
    it->entries.pop_front();
    if (!front.isAlert && front.sheet)
        front.sheet->hide();
    if (front.isAlert && front.alertCompletion)
        front.alertCompletion(QNAlertResult{returnCode, suppressed});
    if (!front.isAlert && front.sheetCompletion)
        front.sheetCompletion(returnCode);
    // The next sheet comes up after this one has gone, on a later turn.
    QPointer<QWidget> guard(window);
    VNDispatch::mainAsync([this, guard] {
        if (guard)
            showNext(guard);
    });
}

void QNDialogService::dropWindow(QObject *window) {
    auto it = m_queues.find(window);
    if (it == m_queues.end())
        return;
    std::deque<Entry> entries = std::move(it->entries);
    m_queues.erase(it);
    for (Entry &e : entries) {
        if (e.isAlert && e.alertCompletion)
            e.alertCompletion(QNAlertResult{QNAlert::SecondButtonReturn, false});
        if (!e.isAlert && e.sheetCompletion)
            e.sheetCompletion(QNAlert::SecondButtonReturn);
    }
}
