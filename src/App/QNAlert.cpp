#include "App/QNAlert.h"

#include "Core/QNErrorWrapper.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

constexpr int kLongestSentence = 160;

// The text without a protocol's tag in front ("FTP: "), on one line.
QString withoutProtocolTag(const QString &text) {
    static const QRegularExpression tag(QStringLiteral("^[A-Z]{2,6}: "));
    return text.simplified().remove(tag);
}

// "FTP: login denied" -> "Login denied." (the drive's name says which
// protocol), a first letter in upper case and a full stop at the end.
QString asSentence(QString text) {
    text = withoutProtocolTag(text);
    if (text.isEmpty())
        return text;
    text[0] = text.at(0).toUpper();
    if (text.size() > kLongestSentence) {
        const qsizetype cut = text.lastIndexOf(QLatin1Char(' '), kLongestSentence - 10);
        text = text.left(cut > 40 ? cut : kLongestSentence - 10) + QChar(0x2026);
    }
    const QChar last = text.back();
    if (last != QLatin1Char('.') && last != QLatin1Char('!') && last != QLatin1Char('?') && last != QChar(0x2026))
        text += QLatin1Char('.');
    return text;
}

QString driveName(const QNDriveConfigPtr &drive) {
    if (!drive)
        return QString();
    return drive->displayName().isEmpty() ? drive->name() : drive->displayName();
}

// The sentence with the drive it concerns in front.
QString namedSentence(const QNDriveConfigPtr &drive, const QString &sentence) {
    const QString name = driveName(drive);
    if (name.isEmpty() || sentence.contains(QChar(0x201c) + name + QChar(0x201d)))
        return sentence;
    return QStringLiteral("\u201c%1\u201d: %2").arg(name, sentence);
}

// "A: B: A" -> "A: B": the engine's words and the library's often repeat.
QString withoutRepeats(const QString &text) {
    QStringList kept;
    for (const QString &part : text.split(QStringLiteral(": "), Qt::SkipEmptyParts)) {
        bool seen = false;
        for (const QString &k : std::as_const(kept))
            seen = seen || k.compare(part.trimmed(), Qt::CaseInsensitive) == 0;
        if (!seen)
            kept << part.trimmed();
    }
    return kept.join(QStringLiteral(": "));
}

// The server's own reply line in a text: an HTTP status line, or the last
// numbered reply of a transfer log ("[530 Login incorrect.]").
QString replyLineIn(const QString &text) {
    static const QRegularExpression status(QStringLiteral("^HTTP/\\d(?:\\.\\d)? \\d{3}\\b.*$"));
    static const QRegularExpression logged(QStringLiteral("^\\[(\\d{3}[ -].*)\\]$"));
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines)
        if (status.match(line.trimmed()).hasMatch())
            return line.trimmed();
    for (qsizetype i = lines.size() - 1; i > 0; --i) {
        const QRegularExpressionMatch match = logged.match(lines.at(i).trimmed());
        if (match.hasMatch())
            return match.captured(1);
    }
    return QString();
}

// Whether a line of the error's text is on show already (as the sentence
// made of it, or as the reply line).
bool isShown(QString line, const QString &shown) {
    line = withoutProtocolTag(line);
    while (line.endsWith(QLatin1Char('.')))
        line.chop(1);
    return shown.contains(line, Qt::CaseInsensitive);
}

// Where a drive was trying to go, without credentials.
QString driveAddress(const QNDriveConfigPtr &drive) {
    QString url = drive->url();
    // A pane's drive keeps the server in its address and the folder apart.
    if (!drive->initialUrlPath().isEmpty() && !url.endsWith(drive->initialUrlPath()))
        url = (url.endsWith(QLatin1Char('/')) ? url.chopped(1) : url) + drive->initialUrlPath();
    return QUrl(url).adjusted(QUrl::RemoveUserInfo).toString();
}

}  // namespace

QNAlert QNAlert::fromError(const VNErrorPtr &error, const QNDriveConfigPtr &drive) {
    QNAlert alert;
    alert.buttons = {QStringLiteral("OK")};
    alert.style = Critical;
    // Handlers put their message under "error"; the wrapper shows it.
    const QString text = error ? QNErrorWrapper(error).localizedDescription().trimmed() : QString();
    if (text.isEmpty()) {
        alert.messageText = namedSentence(drive, QStringLiteral("An unknown error occurred."));
        return alert;
    }
    // The error's own description (a wrapper would give its "error" text
    // again); the generic one of domain and code adds nothing.
    const QString description = error->userInfo().value(VNError::localizedDescriptionKey()).toString().trimmed();
    const QString underlying = withoutRepeats(error->userInfo().value(QStringLiteral("NSUnderlyingError")).toString());
    const QString first = titleFor(text);
    QString sentence;
    const QString connectionFailure = QStringLiteral("A connection failure occurred");
    if (first.startsWith(connectionFailure)) {
        // The engine knows no drive: say which one could not be reached,
        // why in a few words, and where it was trying to go.
        QString why = first.mid(connectionFailure.size());
        why = why.startsWith(QLatin1Char(':')) ? why.mid(1) : underlying.section(QStringLiteral(": "), 0, 0);
        why = why.section(QStringLiteral(" ("), 0, 0).trimmed();
        const QString name = driveName(drive);
        sentence = name.isEmpty() ? QStringLiteral("The server could not be reached")
                                  : QStringLiteral("\u201c%1\u201d could not be reached").arg(name);
        if (!why.isEmpty())
            sentence += QStringLiteral(": ") + why.at(0).toLower() + why.mid(1);
        alert.messageText = asSentence(sentence);
        if (drive)
            alert.informativeText = driveAddress(drive);
    } else {
        alert.informativeText = replyLineIn(text);
        if (alert.informativeText.isEmpty())
            alert.informativeText = replyLineIn(description);
        // A bare status line says nothing by itself: the sentence comes from
        // the error's description, and the line is the server's reply.
        const bool bareStatus = alert.informativeText == first;
        const QString source = bareStatus ? (description != text && !description.isEmpty()
                                                 ? titleFor(description)
                                                 : QStringLiteral("The server refused the request"))
                                          : first;
        alert.messageText = namedSentence(drive, asSentence(source));
    }
    // The rest, whole, behind Show Details, when it holds more than is
    // shown: more lines, other words, or a sentence that had to be cut.
    QStringList details{text};
    if (!description.isEmpty() && !text.contains(description))
        details << description;
    if (!underlying.isEmpty() && !text.contains(underlying))
        details << underlying;
    const QString shown = alert.messageText + QLatin1Char('\n') + alert.informativeText;
    bool more = alert.messageText.endsWith(QChar(0x2026));
    for (const QString &d : std::as_const(details))
        for (const QString &line : d.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            more = more || !isShown(line, shown);
    if (more)
        alert.detailText = details.join(QLatin1Char('\n'));
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
