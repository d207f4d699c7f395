#include "DA/HTTPFetcher/HFUserAgent.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSysInfo>

namespace HFUserAgent {

QString HFUserAgentSafeString(const QString &text) {
    if (text.isEmpty())
        return text;
    static const QString removed = QStringLiteral("()<>@,;:\\\"/[]?={}");
    QString out = text;
    out.replace(QLatin1Char(' '), QLatin1Char('_'));
    out.removeIf([](QChar c) { return c.isSpace() || removed.contains(c); });
    return out;
}

QString HFSystemVersionToken() {
    static const QString token = [] {
        // The token keeps the form servers know; the version is our
        // system's own, "10.?.?" when it cannot be had.
        QString version = QSysInfo::productVersion();
        if (version.isEmpty() || version == QLatin1String("unknown"))
            version = QStringLiteral("10.?.?");
        return QStringLiteral("MacOSX/%1").arg(version);
    }();
    return token;
}

QString HFApplicationToken() {
    static const QString token = [] {
        QString name;
        const QString domain = QCoreApplication::organizationDomain();
        const QString app = QCoreApplication::applicationName();
        if (!domain.isEmpty() && !app.isEmpty())
            name = domain + QLatin1Char('.') + app;
        else
            name = QStringLiteral("proc_%1").arg(app.isEmpty() ? QFileInfo(QCoreApplication::applicationFilePath()).fileName() : app);
        name = HFUserAgentSafeString(name);
        const QString version = HFUserAgentSafeString(QCoreApplication::applicationVersion());
        return version.isEmpty() ? name : name + QLatin1Char('/') + version;
    }();
    return token;
}

}  // namespace HFUserAgent
