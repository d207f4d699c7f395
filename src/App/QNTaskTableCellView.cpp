#include "App/QNTaskTableCellView.h"

#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <QUuid>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>

// What a listener needs to reach its row: the row (read on the main thread
// only) and whether the row still shows this task. A row that is rebound
// or destroyed switches the binding off, so late events of the old task
// change nothing.
namespace {
constexpr qint64 kNameLookUpMs = 100;
}  // namespace

struct QNTaskTableCellView::Binding {
    std::atomic<bool> active{true};
    std::atomic<bool> namePending{false};  // a look-up of the current document is on its way
    std::atomic<qint64> lastNameLookUp{0};  // when the last one ran (ms since the epoch)
    QPointer<QNTaskTableCellView> cell;
    std::weak_ptr<QNTask> task;
};

QNTaskTableCellView::QNTaskTableCellView(QWidget *parent)
    : QWidget(parent),
      m_listenerKey(QStringLiteral("QNTaskTableCellView-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
    setObjectName(QStringLiteral("taskCell"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 8, 4);
    row->setSpacing(8);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_name = new QLabel(this);
    m_name->setObjectName(QStringLiteral("name"));
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    m_subTitle = new QLabel(this);
    m_subTitle->setObjectName(QStringLiteral("subTitle"));
    QPalette grey = m_subTitle->palette();
    grey.setColor(QPalette::WindowText, QColor(0x80, 0x74, 0x75));
    m_subTitle->setPalette(grey);
    m_progressIndicator = new QProgressBar(this);
    m_progressIndicator->setObjectName(QStringLiteral("progressIndicator"));
    m_progressIndicator->setRange(0, 100);
    m_progressIndicator->setTextVisible(false);
    m_progressIndicator->setFixedHeight(8);
    texts->addWidget(m_name);
    texts->addWidget(m_subTitle);
    texts->addWidget(m_progressIndicator);
    row->addLayout(texts, 1);
    m_cancelButton = new QToolButton(this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setText(QStringLiteral("Cancel"));
    m_cancelButton->setToolTip(QStringLiteral("Cancel this task"));
    m_cancelButton->setAutoRaise(true);
    row->addWidget(m_cancelButton);
    connect(m_cancelButton, &QToolButton::clicked, this, [this] { cancel(); });
    reset();
}

QNTaskTableCellView::~QNTaskTableCellView() { unbind(); }

void QNTaskTableCellView::reset() {
    m_name->setText(QStringLiteral("..."));
    m_subTitle->setText(QString());
    m_progressIndicator->setValue(0);
}

int QNTaskTableCellView::progressPercent(float progress) {
    if (!std::isfinite(progress))
        return 0;
    const double clamped = std::clamp(double(progress), 0.0, 1.0);
    return int(std::lround(clamped * 100.0));
}

QString QNTaskTableCellView::shownName(const QNDocumentPtr &document) {
    if (!document)
        return QString();
    const QString displayName = document->displayName();
    if (!displayName.isNull())
        return displayName;
    QString path = document->path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash >= 0 && path.size() > 1 ? path.mid(slash + 1) : path;
}

void QNTaskTableCellView::stopTimer() {
    if (m_updateTimer) {
        m_updateTimer->stop();
        delete m_updateTimer;
        m_updateTimer = nullptr;
    }
}

void QNTaskTableCellView::unbind() {
    stopTimer();
    if (m_binding)
        m_binding->active.store(false);
    m_binding.reset();
    if (m_task) {
        m_task->unregisterListenerForTaskUpdateBlock(m_listenerKey);
        m_task->unregisterListenerForTaskCompletedBlock(m_listenerKey);
    }
    m_task.reset();
}

void QNTaskTableCellView::setTask(const QNTaskPtr &task) {
    // The row and its timer belong to the main thread.
    Q_ASSERT(VNDispatch::isMainThread());
    unbind();
    if (!task)
        return;
    m_updateTimer = new QTimer(this);
    m_updateTimer->setInterval(1000);
    QTimer *timer = m_updateTimer;
    connect(timer, &QTimer::timeout, this, [this, timer] { update(timer); });
    m_updateTimer->start();

    auto binding = std::make_shared<Binding>();
    binding->cell = this;
    binding->task = task;
    m_binding = binding;
    m_task = task;

    // Progress of any item: show the document the task is working on now.
    // Items report many times each and a task may hold thousands, so the
    // look-up runs at most every kNameLookUpMs, the first one at once.
    task->registerListenerForTaskUpdateBlock(m_listenerKey, [binding] {
        if (!binding->active.load() || binding->namePending.exchange(true))
            return;
        const qint64 wait = binding->lastNameLookUp.load() + kNameLookUpMs - QDateTime::currentMSecsSinceEpoch();
        auto lookUp = [binding] {
            binding->lastNameLookUp.store(QDateTime::currentMSecsSinceEpoch());
            binding->namePending.store(false);
            const QNTaskPtr task = binding->task.lock();
            if (!binding->active.load() || !binding->cell || !task)
                return;
            const QList<QNTaskItemPtr> items = task->taskItems();
            if (items.isEmpty())
                return;
            QNTaskItemPtr current;
            for (const QNTaskItemPtr &item : items) {
                if (item->running() && !item->finished()) {
                    current = item;
                    break;
                }
            }
            if (!current)
                current = items.first();
            binding->cell->m_subTitle->setText(shownName(current->document()));
        };
        // Straight onto the main queue when due, so it runs before a completion reported after it.
        if (wait <= 0)
            VNDispatch::mainAsync(std::move(lookUp));
        else
            VNDispatch::mainAfter(int(std::min(wait, kNameLookUpMs)), std::move(lookUp));
    });
    // Called on the task manager's thread: the timer is stopped on ours.
    task->registerListenerForTaskCompletedBlock(m_listenerKey, [binding] {
        if (!binding->active.load())
            return;
        VNDispatch::mainAsync([binding] {
            if (binding->active.load() && binding->cell)
                binding->cell->taskCompleted(binding);
        });
    });
}

void QNTaskTableCellView::taskCompleted(const std::shared_ptr<Binding> &binding) {
    if (binding != m_binding)
        return;
    setTask(nullptr);
}

void QNTaskTableCellView::update(QTimer *) {
    const QNTaskPtr task = m_task;
    if (!task)
        return;
    try {
        const QString description = task->description();
        if (!description.isNull())
            m_name->setText(description);
        m_progressIndicator->setValue(progressPercent(task->progress()));
    } catch (const std::exception &e) {
        VNLog::log(QStringLiteral("QNTaskTableCellView.update exception: %1").arg(QString::fromUtf8(e.what())));
    }
}

void QNTaskTableCellView::cancel() {
    if (m_task)
        m_task->cancel();
}
