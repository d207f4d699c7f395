// QNFTPHandler's folder listings: fetching, parsing, and following links.
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNFTPHandlerInternal.h"

#include "Cloud/QNFTPEncodingMemory.h"
#include "Cloud/QNFTPListingCommandMemory.h"
#include "Cloud/QNFTPListingParser.h"
#include "Cloud/QNFTPLocation.h"
#include "Cloud/QNFTPTransferLog.h"
#include "Cloud/QNStringEncoding.h"
#include "Platform/VNLog.h"

#include <curl/curl.h>

using namespace QNFTPInternal;

namespace {

// Text that no listing format reads, and no "." or ".." line either (which
// every "ls -a" style listing shows): an error message sent as the listing.
bool looksLikeErrorText(const QByteArray &listing)
{
    QByteArray copy = listing;
    QNStringEncoding latin1(QNStringEncoding::ISOLatin1);
    const auto parsed = QNFTPListingParser::parseListing(copy, true, latin1);
    return parsed.items.isEmpty() && parsed.droppedNames.isEmpty() && !parsed.unreadLines.isEmpty();
}

// Whether the server refused "LIST -a": a 5xx reply to it, a 450 ("no such
// file", which the library takes as an empty folder), or an error message
// in place of a listing.
bool refusedHiddenListing(const QNFTPHandler::ListingFetch &f)
{
    if (f.outcome.error)
        return (f.code == CURLE_FTP_COULDNT_RETR_FILE || f.code == CURLE_REMOTE_FILE_NOT_FOUND) && f.reply >= 500 &&
               f.reply < 600;
    return f.reply == 450 || looksLikeErrorText(f.listing);
}

}  // namespace

void QNFTPHandler::runList(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed)
{
    auto fail = [&](const VNErrorPtr &error) {
        logError("listDocuments", error);
        answerOnMain([completed, searchKeyword, error] { completed({}, searchKeyword, error, false); });
    };
    const auto config = driveConfig();
    if (!config)
        return fail(ftpError(QStringLiteral("The drive has no configuration.")));
    if (isCancelled())
        return completed({}, searchKeyword, nullptr, true);

    const Settings settings = readSettings();
    const QString folderPath = folder && !folder->path().isEmpty() ? folder->path() : QStringLiteral("/");
    QNFTPLocation location(settings.url, settings.sftpDrive);
    QNStringEncoding encoding(encodingFor(folderPath));
    ListingFetch fetched = fetchListing(settings, folderPath, encoding);
    if (fetched.outcome.cancelled)
        return completed({}, searchKeyword, nullptr, true);
    if (fetched.outcome.error)
        return fail(fetched.outcome.error);
    QByteArray listing = std::move(fetched.listing);
    const QString key = driveKey();

    quint32 listingEncoding = encoding.encoding();
    if (m_shouldDetectStringEncoding) {
        const quint32 guess = QNStringEncoding::detect(listing);
        if (guess != 0 && QNStringEncoding(guess).isAvailable()) {
            listingEncoding = guess;
            m_stringEncoding = guess;
            QNFTPEncodingMemory::remember(key, folderPath, guess);
        }
    }
    QNStringEncoding names(listingEncoding);
    auto parsed = QNFTPListingParser::parseListing(listing, true, names);
    // What the server holds but this listing cannot show stays on the
    // folder: a move must not remove the folder over it.
    int leftOut = int(parsed.unreadLines.size());
    for (const QByteArray &dropped : parsed.droppedNames) {
        if (dropped == "." || dropped == "..")
            continue;
        ++leftOut;
        QString shown = QString::fromUtf8(dropped);
        shown.replace(QChar(0), QLatin1String("\\0"));
        VNLog::log(QStringLiteral("QNFTPHandler listDocuments dropped an entry with an unusable name in %1: \"%2\"")
                       .arg(folderPath, shown));
    }
    if (!parsed.unreadLines.isEmpty()) {
        // Logged as the transfer log is, so no password shows.
        QNFTPTransferLog unread(config->password());
        for (const QByteArray &line : parsed.unreadLines)
            unread.add(QNFTPTransferLog::Kind::Received, line.constData(), size_t(line.size()));
        VNLog::log(QStringLiteral("QNFTPHandler listDocuments could not read %1 line(s) of the listing of %2:%3")
                       .arg(parsed.unreadLines.size())
                       .arg(folderPath, unread.text()));
    }
    QList<bool> isLink;
    for (const auto &item : parsed.items)
        isLink.append(item.kind == QNFTPListingParser::Item::Kind::Link);
    const Outcome links = resolveLinks(settings, folderPath, parsed.items, names);
    if (links.cancelled)
        return completed({}, searchKeyword, nullptr, true);
    if (links.error)
        return fail(links.error);
    QNDocumentList documents;
    documents.reserve(parsed.items.size());
    for (qsizetype i = 0; i < parsed.items.size(); ++i) {
        const auto &item = parsed.items[i];
        auto doc = QNDocument::create();
        if (isLink[i]) {
            // Removed as the link itself; where it leads lets a copy tell a
            // link back into the tree it is copying.
            doc->setIsLink(true);
            doc->setLinkTarget(location.drivePathOf(names.decode(item.linkTarget)));
        }
        doc->setIsDirectory(item.isDirectory);
        QString path = QNFTPLocation::join(folderPath, item.name);
        if (item.isDirectory)
            path += QLatin1Char('/');
        doc->setPath(path);
        doc->setDisplayName(item.name);
        doc->setSize(item.size);
        doc->setDate(item.date);
        documents.append(std::move(doc));
    }
    if (folder)
        folder->setLeftOutCount(leftOut);
    answerOnMain([completed, documents, searchKeyword] { completed(documents, searchKeyword, nullptr, false); });
}

QNFTPHandler::ListingFetch QNFTPHandler::fetchListing(const Settings &settings, const QString &folderPath,
                                                      QNStringEncoding &encoding, bool watchCancel)
{
    QNFTPLocation location(settings.url, settings.sftpDrive);
    const auto url = location.folderUrl(folderPath, encoding);
    if (!url.ok()) {
        ListingFetch failed;
        failed.outcome.error = ftpError(url.error);
        return failed;
    }

    // One listing transfer; command replaces the library's plain LIST.
    auto fetch = [&](const char *command) {
        ListingFetch f;
        Transfer t(this, settings.password);
        t.mode = Transfer::Mode::Buffer;
        t.watchCancel = watchCancel;
        CurlHandle curl;
        const QString setupError = setUp(curl, t, url.bytes, settings, encoding, [&](CURL *h) {
            return !command || curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, command) == CURLE_OK;
        });
        if (!setupError.isNull()) {
            f.outcome.error = ftpError(setupError);
            return f;
        }
        f.code = perform(curl, t);
        f.outcome = outcomeOf(f.code, t, watchCancel && isCancelled());
        curl_easy_getinfo(curl.handle, CURLINFO_RESPONSE_CODE, &f.reply);
        f.listing = std::move(t.buffer);
        return f;
    };

    // Many servers (vsftpd by default) leave names starting with a dot out
    // of a plain LIST, and a folder copied from that listing would silently
    // miss them. "LIST -a" shows them; a server that refuses it gets plain
    // LIST, for this and (when the refusal is plain) every later listing.
    const QString key = driveKey();
    const bool askHidden = !location.isSFTP() && !QNFTPListingCommandMemory::refusesHiddenListing(key);
    ListingFetch fetched = fetch(askHidden ? "LIST -a" : nullptr);
    if (fetched.outcome.cancelled || !askHidden || !refusedHiddenListing(fetched))
        return fetched;
    const long refusal = fetched.reply;
    VNLog::log(QStringLiteral("QNFTPHandler listDocuments: the server refused \"LIST -a\" in %1 (reply %2); "
                              "listing with LIST")
                   .arg(folderPath)
                   .arg(refusal));
    fetched = fetch(nullptr);
    // Remembered only when the server refused the command in so many
    // words, or plain LIST reads where "-a" did not: a folder that cannot
    // be listed at all, an empty one or one listing that no format reads
    // says nothing about the next, and would hide dot files for good.
    const bool refused = refusal >= 500 && refusal < 600;
    if (!fetched.outcome.cancelled && !fetched.outcome.error &&
        (refused || (!fetched.listing.isEmpty() && !looksLikeErrorText(fetched.listing))))
        QNFTPListingCommandMemory::rememberRefusal(key);
    return fetched;
}

QNFTPHandler::Outcome QNFTPHandler::resolveLinks(const Settings &settings, const QString &folderPath,
                                                 QList<QNFTPListingParser::Item> &items, QNStringEncoding &encoding)
{
    QNFTPLocation location(settings.url, settings.sftpDrive);
    const bool sftp = location.isSFTP();
    // One handle for all links of the listing: the library keeps the
    // connection between its transfers (one it closed, as after a probe
    // stopped at its first byte, is made anew by the next).
    CurlHandle curl;
    Outcome stop;  // a cancel, or the server's key or certificate refused
    // Each probe runs as every transfer does: a refused key or certificate
    // ends the resolution and every kept connection to the server, and a
    // key met first is trusted on the connection that met it. A refusal
    // (no folder there, no file) is an answer, and leaves the connection
    // fit to be kept.
    auto probe = [&](Transfer &t, const QByteArray &url, const std::function<bool(CURL *)> &options) {
        if (!setUp(curl, t, url, settings, encoding, options).isNull())
            return CURLE_FAILED_INIT;
        const CURLcode code = perform(curl, t);
        const Outcome outcome = outcomeOf(code, t, isCancelled());
        if (outcome.cancelled || serverRefused(code, t))
            stop = outcome;
        curl.keep = code == CURLE_OK || code == CURLE_REMOTE_ACCESS_DENIED || code == CURLE_REMOTE_FILE_NOT_FOUND ||
                    (code == CURLE_WRITE_ERROR && t.probeAnswered);
        return code;
    };
    for (auto &item : items) {
        if (item.kind != QNFTPListingParser::Item::Kind::Link)
            continue;
        if (isCancelled())
            return {true, nullptr};
        const QString path = QNFTPLocation::join(folderPath, item.name);
        // A folder when the server changes into it (FTP) or lists it (SFTP,
        // stopping at the first byte); the answer holds for this listing.
        const auto folderUrl = location.folderUrl(path, encoding);
        if (folderUrl.ok()) {
            Transfer t(this, settings.password);
            t.mode = sftp ? Transfer::Mode::Probe : Transfer::Mode::Discard;
            // The handle keeps the options of the link before: set both.
            const CURLcode code = probe(t, folderUrl.bytes, [sftp](CURL *h) {
                return curl_easy_setopt(h, CURLOPT_DIRLISTONLY, sftp ? 1L : 0L) == CURLE_OK &&
                       curl_easy_setopt(h, CURLOPT_NOBODY, sftp ? 0L : 1L) == CURLE_OK;
            });
            if (stop.cancelled || stop.error)
                return stop;
            if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && t.probeAnswered)) {
                item.kind = QNFTPListingParser::Item::Kind::Folder;
                item.isDirectory = true;
                item.size = 0;
                continue;
            }
        }
        // Otherwise a file: the size and date are the target's. A link to
        // nothing stays a file that cannot be read, so copying it fails
        // with its name, as any unreadable file does.
        item.kind = QNFTPListingParser::Item::Kind::File;
        item.isDirectory = false;
        const auto fileUrl = location.fileUrl(path, encoding);
        if (!fileUrl.ok())
            continue;
        Transfer t(this, settings.password);
        t.mode = Transfer::Mode::Discard;
        const CURLcode code = probe(t, fileUrl.bytes, [](CURL *h) {
            return curl_easy_setopt(h, CURLOPT_DIRLISTONLY, 0L) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_NOBODY, 1L) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_FILETIME, 1L) == CURLE_OK;
        });
        if (stop.cancelled || stop.error)
            return stop;
        if (code != CURLE_OK) {
            VNLog::log(QStringLiteral("QNFTPHandler listDocuments: the link %1 points at nothing readable").arg(path));
            item.size = 0;
            continue;
        }
        curl_off_t size = -1;
        curl_off_t time = -1;
        curl_easy_getinfo(curl.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
        curl_easy_getinfo(curl.handle, CURLINFO_FILETIME_T, &time);
        if (size >= 0)
            item.size = qint64(size);
        if (time >= 0)
            item.date = QDateTime::fromSecsSinceEpoch(qint64(time), Qt::UTC);
    }
    return {};
}
