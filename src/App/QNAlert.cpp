#include "App/QNAlert.h"

#include "Core/QNErrorWrapper.h"

#include <QRegularExpression>

QNAlert QNAlert::fromError(const VNErrorPtr &error) {
    QNAlert alert;
    // Handlers put their message under "error"; the wrapper shows it.
    const QString text = error ? QNErrorWrapper(error).localizedDescription().trimmed() : QString();
    alert.messageText = text.isEmpty() ? QStringLiteral("An unknown error occurred.") : titleFor(text);
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.size() > 1) {
        // Log lines come in brackets; a server's reply starts with its number.
        static const QRegularExpression reply(QStringLiteral("^\\[(\\d{3}[ -].*)\\]$"));
        for (qsizetype i = lines.size() - 1; i > 0; --i) {
            const QRegularExpressionMatch match = reply.match(lines.at(i).trimmed());
            if (match.hasMatch()) {
                alert.informativeText = match.captured(1);
                break;
            }
        }
        alert.detailText = text;
    }
    alert.buttons = {QStringLiteral("OK")};
    alert.style = Critical;
    return alert;
}

QString QNAlert::titleFor(const QString &messageText) {
    return messageText.trimmed().section(QLatin1Char('\n'), 0, 0).simplified();
}

int QNAlert::returnCodeForButton(int index) {
    switch (index) {
    case 0: return FirstButtonReturn;
    case 1: return SecondButtonReturn;
    default: return ThirdButtonReturn;
    }
}
