#include "App/QNPreviewPanel.h"

#include "App/QNFilesTableModel.h"

#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QMimeDatabase>
#include <QPainter>
#include <QPdfDocument>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QVBoxLayout>

QNPreviewPanel::QNPreviewPanel(QWidget *parent) : QWidget(parent, Qt::Tool) {
    setObjectName(QStringLiteral("QNPreviewPanel"));
    setWindowTitle(QStringLiteral("Preview"));
    resize(520, 460);
    auto *column = new QVBoxLayout(this);
    m_stack = new QStackedWidget(this);
    m_picture = new QLabel(m_stack);
    m_picture->setAlignment(Qt::AlignCenter);
    m_text = new QPlainTextEdit(m_stack);
    m_text->setReadOnly(true);
    m_stack->addWidget(m_picture);
    m_stack->addWidget(m_text);
    m_title = new QLabel(this);
    m_title->setAlignment(Qt::AlignCenter);
    column->addWidget(m_stack, 1);
    column->addWidget(m_title);
    showItem({});
}

void QNPreviewPanel::reloadData() {
    const QString failure = m_failureSource ? m_failureSource() : QString();
    if (!failure.isEmpty())
        showFailure(failure);
    else
        showItem(m_itemSource ? m_itemSource() : QUrl());
}

void QNPreviewPanel::showFailure(const QString &why) {
    m_current = QUrl();
    m_title->setText(QString());
    m_picture->setPixmap({});
    m_picture->setWordWrap(true);
    m_picture->setText(QStringLiteral("No preview\n\n") + why);
    m_stack->setCurrentWidget(m_picture);
    m_state = QStringLiteral("failed");
}

QString QNPreviewPanel::shownText() const { return m_text->toPlainText(); }

void QNPreviewPanel::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    placeWithinScreen();
}

void QNPreviewPanel::placeWithinScreen() {
    // The screen the panel is mostly on, else its item's, else the
    // pointer's, else the first.
    const QRect source = m_sourceFrame ? m_sourceFrame() : QRect();
    QScreen *screen = QGuiApplication::screenAt(geometry().center());
    if (!screen && source.isValid())
        screen = QGuiApplication::screenAt(source.center());
    if (!screen)
        screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize frameExtra = frameGeometry().size() - size();
    resize(size().boundedTo(area.size() - frameExtra));
    const QRect frame = frameGeometry();
    const int x = std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() + 1 - frame.width()));
    const int y = std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() + 1 - frame.height()));
    if (QPoint(x, y) != frame.topLeft())
        move(x, y);
}

void QNPreviewPanel::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    emit hidden();
}

void QNPreviewPanel::showPicture(const QImage &image, const QString &state) {
    const QSize room = m_stack->size().boundedTo(QSize(2048, 2048)).expandedTo(QSize(64, 64));
    QPixmap picture = QPixmap::fromImage(image);
    if (picture.width() > room.width() || picture.height() > room.height())
        picture = picture.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    m_picture->setPixmap(picture);
    m_picture->setText(QString());
    m_stack->setCurrentWidget(m_picture);
    m_state = state;
}

void QNPreviewPanel::showItem(const QUrl &url) {
    m_current = url;
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    const QFileInfo info(path);
    m_title->setText(info.fileName());
    if (path.isEmpty()) {
        m_picture->setPixmap({});
        m_picture->setText(QString());
        m_stack->setCurrentWidget(m_picture);
        m_state = QStringLiteral("empty");
        return;
    }
    if (!info.exists()) {
        // The copy is still on its way.
        m_picture->setPixmap({});
        m_picture->setText(QStringLiteral("Loading…"));
        m_stack->setCurrentWidget(m_picture);
        m_state = QStringLiteral("loading");
        return;
    }
    if (info.isDir()) {
        showPicture(QIcon::fromTheme(QStringLiteral("folder")).pixmap(128).toImage(), QStringLiteral("folder"));
        return;
    }
    if (info.suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0) {
        QPdfDocument document;
        if (document.load(path) == QPdfDocument::Error::None && document.pageCount() > 0) {
            const QSizeF page = document.pagePointSize(0);
            const double scale = 440.0 / std::max(1.0, std::max(page.width(), page.height()));
            QImage image = document.render(0, (page * scale).toSize());
            QImage paper(image.size(), QImage::Format_ARGB32_Premultiplied);
            paper.fill(Qt::white);
            QPainter(&paper).drawImage(0, 0, image);
            showPicture(paper, QStringLiteral("pdf"));
            return;
        }
    }
    QImageReader reader(path);
    if (reader.canRead()) {
        const QImage image = reader.read();
        if (!image.isNull()) {
            showPicture(image, QStringLiteral("image"));
            return;
        }
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    if (type.inherits(QStringLiteral("text/plain"))) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            m_text->setPlainText(QString::fromUtf8(file.read(256 * 1024)));
            m_stack->setCurrentWidget(m_text);
            m_state = QStringLiteral("text");
            return;
        }
    }
    showPicture(QNFilesTableModel::iconForFileName(info.fileName()).pixmap(128).toImage(), QStringLiteral("icon"));
}
