#include "App/QNMainTableCellView.h"

#include "App/QNImageLibrary.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

static void setTextColor(QLabel *label, const QColor &colour) {
    // Inside a table a label draws with the Text role (its background is
    // the view's Base), elsewhere with WindowText: set both.
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    label->setPalette(p);
}

QColor QNMainTableCellView::subtitleColor() { return QColor::fromRgbF(141 / 255.0, 124 / 255.0, 125 / 255.0, 1.0); }
QColor QNMainTableCellView::editButtonColor() { return QColor::fromRgbF(121 / 255.0, 104 / 255.0, 105 / 255.0, 1.0); }

QNMainTableCellView::QNMainTableCellView(QWidget *parent) : QWidget(parent) {
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 6, 14, 6);
    row->setSpacing(14);

    m_icon = new QLabel(this);
    m_icon->setFixedSize(48, 48);
    m_icon->setScaledContents(true);
    row->addWidget(m_icon);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addStretch(1);
    m_title = new QLabel(this);
    QFont titleFont = m_title->font();
    titleFont.setPixelSize(16);
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    setTextColor(m_title, QColor(0x3c, 0x33, 0x34));
    texts->addWidget(m_title);
    m_subTitle = new QLabel(this);
    QFont subFont = m_subTitle->font();
    subFont.setPixelSize(12);
    m_subTitle->setFont(subFont);
    setTextColor(m_subTitle, subtitleColor());
    texts->addWidget(m_subTitle);
    texts->addStretch(1);
    row->addLayout(texts, 1);

    m_size = new QLabel(this);
    m_size->setFont(subFont);
    setTextColor(m_size, subtitleColor());
    row->addWidget(m_size);

    m_editButton = new QPushButton(QStringLiteral("Edit"), this);
    m_editButton->setFlat(true);
    m_editButton->setCursor(Qt::PointingHandCursor);
    QFont editFont(QStringLiteral("Avenir Black"));
    editFont.setPixelSize(16);
    editFont.setBold(true);
    m_editButton->setFont(editFont);
    QPalette ep = m_editButton->palette();
    ep.setColor(QPalette::ButtonText, editButtonColor());
    ep.setColor(QPalette::Text, editButtonColor());
    m_editButton->setPalette(ep);
    m_editButton->setFocusPolicy(Qt::NoFocus);
    row->addWidget(m_editButton);

    m_deleteButton = new QToolButton(this);
    m_deleteButton->setIcon(QNImageLibrary::imageNamed(QStringLiteral("button-delete")));
    m_deleteButton->setIconSize(QSize(20, 20));
    m_deleteButton->setAutoRaise(true);
    m_deleteButton->setToolTip(QStringLiteral("Remove Drive"));
    m_deleteButton->setFocusPolicy(Qt::NoFocus);
    m_deleteButton->setCursor(Qt::PointingHandCursor);
    row->addWidget(m_deleteButton);

    m_editButton->hide();
    m_deleteButton->hide();
}

void QNMainTableCellView::setBackgroundStyle(BackgroundStyle style) {
    m_style = style;
    const QColor colour = style == Dark ? QColor(Qt::white) : QColor::fromRgbF(0.66796875, 0.66796875, 0.66796875, 0.66796875);
    setTextColor(m_subTitle, colour);
    setTextColor(m_size, colour);
}
