// QNFTPHandler's changes on the server whose answer was lost: never sent
// again (a removal the server carried out would then fail as "no such
// file", a success reported as a failure), but looked for in the listings
// of the folders they touched.
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNFTPHandlerInternal.h"

#include "Cloud/QNFTPListingParser.h"
#include "Cloud/QNFTPLocation.h"
#include "Cloud/QNStringEncoding.h"
#include "Platform/VNLog.h"

#include <QHash>
#include <optional>

using namespace QNFTPInternal;

QNFTPHandler::Outcome QNFTPHandler::runChange(const Settings &settings, QNStringEncoding &encoding,
                                              const QByteArray &url, CurlList &commands, const Change &change,
                                              bool watchCancel, CurlHandle *reuse)
{
    const Outcome outcome = performCommands(this, settings, encoding, url, commands, watchCancel, reuse);
    if (!outcome.answerLost)
        return outcome;
    return lookAtChange(settings, encoding, change, outcome.error);
}

namespace {

QString quoted(const QString &text)
{
    return QStringLiteral("\u201c%1\u201d").arg(text);
}

}  // namespace

QNFTPHandler::Outcome QNFTPHandler::lookAtChange(const Settings &settings, QNStringEncoding &encoding,
                                                 const Change &change, const VNErrorPtr &failure)
{
    // Whether each folder holds a name (a folder, for a new one); null when
    // its listing failed, which then says why. The look runs to its end,
    // a cancel does not stop it: it tells what the server now holds.
    QHash<QString, QList<QNFTPListingParser::Item>> listings;
    VNErrorPtr lookError;
    auto holds = [&](const QString &path, bool folder) -> std::optional<bool> {
        const QString parent = QNFTPLocation::parentPath(path);
        if (!listings.contains(parent)) {
            ListingFetch fetched = fetchListing(settings, parent, encoding, false);
            if (fetched.outcome.error) {
                lookError = fetched.outcome.error;
                return std::nullopt;
            }
            QNStringEncoding names(encoding.encoding());
            listings.insert(parent, QNFTPListingParser::parseListing(fetched.listing, true, names).items);
        }
        const QString entry = QNFTPLocation::lastComponent(path);
        for (const auto &item : listings.value(parent))
            if (item.name == entry)
                return !folder || item.isDirectory;
        return false;
    };

    const QString name = QNFTPLocation::lastComponent(change.path);
    const QString where = quoted(QNFTPLocation::parentPath(change.path));
    std::optional<bool> done;
    QString notDone;
    QString what;
    switch (change.kind) {
    case Change::Kind::Removed: {
        what = QStringLiteral("%1 was removed").arg(quoted(name));
        const auto there = holds(change.path, false);
        if (there)
            done = !*there;
        notDone = QStringLiteral("%1 was not removed: %2 still holds it.").arg(quoted(name), where);
        break;
    }
    case Change::Kind::Made: {
        what = QStringLiteral("the folder %1 was made").arg(quoted(name));
        const auto there = holds(change.path, true);
        if (there)
            done = *there;
        notDone = QStringLiteral("The folder %1 was not made: %2 does not hold it.").arg(quoted(name), where);
        break;
    }
    case Change::Kind::Renamed: {
        const QString newName = QNFTPLocation::lastComponent(change.newPath);
        what = QStringLiteral("%1 was renamed %2").arg(quoted(name), quoted(newName));
        const auto old = holds(change.path, false);
        const auto renamed = old ? holds(change.newPath, false) : std::nullopt;
        // Both names there, or neither: the listing cannot tell.
        if (old && renamed && *old != *renamed)
            done = *renamed;
        notDone = QStringLiteral("%1 was not renamed %2: %3 still holds it under its old name.")
                      .arg(quoted(name), quoted(newName), where);
        break;
    }
    }
    const QString lost = QStringLiteral("The connection to the server was lost before it answered");
    const QString detail = failure ? QStringLiteral("\n") + failure->localizedDescription() : QString();
    if (done && *done) {
        VNLog::log(QStringLiteral("QNFTPHandler: the connection was lost before the server said whether %1; its "
                                  "listing shows it was")
                       .arg(what));
        return {};
    }
    if (done)
        return {false, ftpError(QStringLiteral("%1. %2").arg(lost, notDone) + detail)};
    const QString unknown =
        lookError ? QStringLiteral("the folder could not be listed (%1).")
                        .arg(lookError->localizedDescription().section(QLatin1Char('\n'), 0, 0))
                  : QStringLiteral("the folder's listing does not tell.");
    Outcome notKnown{false, ftpError(QStringLiteral("%1, and whether %2 cannot be told: %3").arg(lost, what, unknown) +
                                     detail)};
    notKnown.answerLost = true;  // still
    return notKnown;
}
