#include "App/QNAlertPanel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QVBoxLayout>

namespace {

constexpr int kLongestUrl = 96;

// A label's text in which every address stays whole: on a line of its own
// that never wraps (a very long one shortened in its middle; the details
// hold it whole). Text without an address stays plain text.
void setTextKeepingUrlsWhole(QLabel *label, const QString &text) {
    static const QRegularExpression url(QStringLiteral("\\b[a-z][a-z0-9+.-]*://[^\\s<>\"]*[^\\s<>\".,;:!?)\\]]"),
                                        QRegularExpression::CaseInsensitiveOption);
    if (!url.match(text).hasMatch()) {
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        label->setMinimumWidth(0);
        return;
    }
    auto block = [](const QString &plain, bool whole) {
        const QString body = plain.trimmed().toHtmlEscaped();
        return body.isEmpty() ? QString()
                              : whole ? QStringLiteral("<div style=\"white-space:pre\">%1</div>").arg(body)
                                      : QStringLiteral("<div>%1</div>").arg(body);
    };
    QString html;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        qsizetype from = 0;
        for (auto it = url.globalMatch(line); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            html += block(line.mid(from, m.capturedStart() - from), false);
            QString address = m.captured();
            if (address.size() > kLongestUrl)
                address = address.left(kLongestUrl / 2) + QChar(0x2026) + address.right(kLongestUrl / 2 - 1);
            html += block(address, true);
            from = m.capturedEnd();
        }
        html += block(line.mid(from), false);
    }
    label->setTextFormat(Qt::RichText);
    label->setText(html);
    // The panel is made wide enough for the longest address.
    label->setMinimumWidth(label->minimumSizeHint().width());
}

}  // namespace

QNAlertPanel::QNAlertPanel(const QNAlert &alert, QWidget *parent) : QDialog(parent), m_alert(alert) {
    setWindowTitle(QNAlert::titleFor(alert.messageText));
    setMinimumWidth(420);
    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(20, 18, 20, 14);
    outer->setSpacing(16);

    auto *icon = new QLabel(this);
    const QStyle::StandardPixmap which = alert.style == QNAlert::Critical   ? QStyle::SP_MessageBoxCritical
                                         : alert.style == QNAlert::Warning ? QStyle::SP_MessageBoxWarning
                                                                            : QStyle::SP_MessageBoxInformation;
    icon->setPixmap(style()->standardIcon(which).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    outer->addWidget(icon, 0, Qt::AlignTop);

    auto *column = new QVBoxLayout;
    column->setSpacing(8);
    outer->addLayout(column, 1);

    auto *message = new QLabel(this);
    setTextKeepingUrlsWhole(message, alert.messageText);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    message->setWordWrap(true);
    message->setObjectName(QStringLiteral("messageText"));
    column->addWidget(message);

    if (!alert.informativeText.isEmpty()) {
        auto *info = new QLabel(this);
        setTextKeepingUrlsWhole(info, alert.informativeText);
        info->setWordWrap(true);
        info->setTextInteractionFlags(Qt::TextSelectableByMouse);
        info->setObjectName(QStringLiteral("informativeText"));
        column->addWidget(info);
    }
    QPushButton *detailsButton = nullptr;
    if (!alert.detailText.isEmpty()) {
        // The whole text (a transfer log, say) only when asked for.
        auto *details = new QPlainTextEdit(alert.detailText, this);
        details->setReadOnly(true);
        details->setObjectName(QStringLiteral("detailText"));
        details->setMinimumHeight(160);
        details->hide();
        column->addWidget(details);
        detailsButton = new QPushButton(QStringLiteral("Show Details"), this);
        detailsButton->setObjectName(QStringLiteral("detailsButton"));
        detailsButton->setAutoDefault(false);
        connect(detailsButton, &QPushButton::clicked, this, [this, details, detailsButton] {
            details->setVisible(!details->isVisible());
            detailsButton->setText(details->isVisible() ? QStringLiteral("Hide Details") : QStringLiteral("Show Details"));
            adjustSize();
        });
    }
    if (alert.accessoryView) {
        // The caller may have made it hidden; in the panel it is on show.
        alert.accessoryView->setParent(this);
        column->addWidget(alert.accessoryView);
        alert.accessoryView->show();
    }
    if (alert.showsSuppressionButton) {
        m_suppression = new QCheckBox(alert.suppressionText, this);
        column->addWidget(m_suppression);
    }

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    // Shown right to left: the default button last (rightmost), the third
    // button apart on the left.
    QList<QPushButton *> made;
    for (int i = 0; i < titles.size() && i < 3; ++i) {
        auto *b = new QPushButton(titles[i], this);
        connect(b, &QPushButton::clicked, this, [this, i] { pressButton(i); });
        made << b;
    }
    if (made.size() == 3) {
        buttons->insertWidget(0, made[2]);
        buttons->insertStretch(1, 1);
    }
    if (detailsButton && made.size() < 3) {
        buttons->insertWidget(0, detailsButton);
        buttons->insertStretch(1, 1);
    }
    if (made.size() >= 2)
        buttons->addWidget(made[1]);
    buttons->addWidget(made[0]);
    QPushButton *defaultButton = made.value(alert.defaultButton, made[0]);
    defaultButton->setDefault(true);
    defaultButton->setAutoDefault(true);
    if (defaultButton != made[0])
        m_focusedButton = defaultButton;  // else the first button, focused first, would take Return
    column->addSpacing(6);
    column->addLayout(buttons);
    if (alert.accessoryView)
        setFocusProxy(alert.accessoryView);  // the field, not the default button, takes the typing
    fitWidthToTexts();
}

void QNAlertPanel::fitWidthToTexts() {
    // At least 420 wide, and as wide as an address in the texts needs
    // (the panel's own minimum would otherwise hide the layout's).
    setMinimumWidth(std::max(420, layout()->minimumSize().width()));
}

void QNAlertPanel::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (m_alert.accessoryView)
        m_alert.accessoryView->setFocus(Qt::OtherFocusReason);
    else if (m_focusedButton)
        m_focusedButton->setFocus(Qt::OtherFocusReason);
}

void QNAlertPanel::pressButton(int index) {
    if (m_ended)
        return;
    m_ended = true;
    m_result.returnCode = QNAlert::returnCodeForButton(index);
    m_result.suppressed = m_suppression && m_suppression->isChecked();
    emit ended(m_result);
    done(m_result.returnCode == QNAlert::FirstButtonReturn ? QDialog::Accepted : QDialog::Rejected);
}

void QNAlertPanel::reject() {
    // Escape answers like the second button when there is one ("Cancel",
    // "No"); a one-button alert answers with that button.
    pressButton(m_alert.buttons.size() >= 2 ? 1 : 0);
}

void QNAlertPanel::setTexts(const QString &messageText, const QString &informativeText) {
    m_alert.messageText = messageText;
    m_alert.informativeText = informativeText;
    setWindowTitle(QNAlert::titleFor(messageText));
    if (auto *message = findChild<QLabel *>(QStringLiteral("messageText")))
        setTextKeepingUrlsWhole(message, messageText);
    if (auto *info = findChild<QLabel *>(QStringLiteral("informativeText")))
        setTextKeepingUrlsWhole(info, informativeText);
    layout()->invalidate();
    fitWidthToTexts();
}
