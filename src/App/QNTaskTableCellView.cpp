#include "App/QNTaskTableCellView.h"

#include "App/QNTaskRowFeed.h"
#include "Platform/VNDispatch.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

QNTaskTableCellView::QNTaskTableCellView(QWidget *parent)
    : QWidget(parent) {
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
    m_cancelButton->setEnabled(true);
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

QTimer *QNTaskTableCellView::updateTimer() const { return m_feed ? m_feed->timer() : nullptr; }

void QNTaskTableCellView::unbind() {
    for (const QMetaObject::Connection &c : std::as_const(m_feedConnections))
        disconnect(c);
    m_feedConnections.clear();
    m_feed.reset();
    m_task.reset();
}

void QNTaskTableCellView::setTask(const QNTaskPtr &task) {
    // The row and its feed belong to the main thread.
    Q_ASSERT(VNDispatch::isMainThread());
    unbind();
    if (!task)
        return;
    m_task = task;
    m_feed = QNTaskRowFeed::forTask(task);
    QNTaskRowFeed *feed = m_feed.get();
    m_feedConnections << connect(feed, &QNTaskRowFeed::changed, this, &QNTaskTableCellView::showRead)
                      << connect(feed, &QNTaskRowFeed::documentChanged, this, &QNTaskTableCellView::showDocument)
                      << connect(feed, &QNTaskRowFeed::taskCompleted, this, [this] { setTask(nullptr); });
    showDocument();
    // Read for every row of the task at once: a row made now shows what
    // the others show.
    feed->read();
}

void QNTaskTableCellView::showRead() {
    if (!m_feed)
        return;
    if (!m_feed->description().isNull())
        m_name->setText(m_feed->description());
    m_progressIndicator->setValue(m_feed->percent());
    showDocument();
}

void QNTaskTableCellView::showDocument() {
    if (!m_feed)
        return;
    // A cancelled task stays until its clean-up has ended, and says so.
    const bool cancelling = m_feed->cancelling();
    m_subTitle->setText(cancelling ? QStringLiteral("Cancelling\u2026") : m_feed->documentName());
    m_cancelButton->setEnabled(!cancelling);
}

void QNTaskTableCellView::update(QTimer *) {
    if (m_feed)
        m_feed->read();
}

void QNTaskTableCellView::cancel() {
    if (!m_task)
        return;
    m_task->cancel();
    // Every row of the task says it is cancelling now, not at the next tick.
    if (m_feed)
        m_feed->read();
}
