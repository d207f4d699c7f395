#include "App/QNAlert.h"

#include "Core/QNErrorWrapper.h"

#include <QRegularExpression>
#include <QUrl>

QNAlert QNAlert::fromError(const VNErrorPtr &error, const QNDriveConfigPtr &drive) {
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
    // The engine's connection failure knows no drive: say which one, and
    // where it was trying to go (never with credentials).
    if (drive && alert.messageText.startsWith(QLatin1String("A connection failure occurred"))) {
        const QString name = drive->displayName().isEmpty() ? drive->name() : drive->displayName();
        // A pane's drive keeps the server in its address and the folder apart.
        QString url = drive->url();
        if (!drive->initialUrlPath().isEmpty() && !url.endsWith(drive->initialUrlPath()))
            url = (url.endsWith(QLatin1Char('/')) ? url.chopped(1) : url) + drive->initialUrlPath();
        const QString address = QUrl(url).adjusted(QUrl::RemoveUserInfo).toString();
        QString where = address.isEmpty() ? QStringLiteral("The drive \"%1\" could not be reached.").arg(name)
                                          : QStringLiteral("The drive \"%1\" could not reach %2.").arg(name, address);
        const QString underlying = error->userInfo().value(QStringLiteral("NSUnderlyingError")).toString();
        if (!underlying.isEmpty())
            where += QLatin1Char('\n') + underlying;
        alert.informativeText = alert.informativeText.isEmpty() ? where : where + QLatin1Char('\n') + alert.informativeText;
    }
    alert.buttons = {QStringLiteral("OK")};
    alert.style = Critical;
    return alert;
}

QNAlert QNAlert::loginFailure(const VNErrorPtr &error, const QNDriveConfigPtr &drive) {
    QNAlert alert;
    alert.messageText = QStringLiteral("Could not Login");
    alert.buttons = {QStringLiteral("OK")};
    if (error) {
        const QNAlert told = fromError(error, drive);
        alert.informativeText =
            told.informativeText.isEmpty() ? told.messageText : told.messageText + QLatin1Char('\n') + told.informativeText;
        alert.detailText = told.detailText;
    }
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
