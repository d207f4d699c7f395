#include "DA/HTTPFetcher/HFHTTPFetcherLogging.h"

#include "DA/HTTPFetcher/HFHTTPFetcher.h"
#include "Platform/VNLog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct LogState {
    std::recursive_mutex mutex;
    bool enabled = false;
    bool toFile = true;
    QString directory;
    bool directorySet = false;
    QString processName;
    QString dateStamp;
    QString runFolder;
    int counter = 0;
    int xmllint = -1;  // -1 not looked up, 0 absent, 1 present
};

LogState &state() {
    static auto *s = new LogState;
    return *s;
}

const QString kSnip = QStringLiteral("_snip_");

// Writes (or appends) a file readable by the owner only.
bool writeOwnerOnly(const QString &path, const QByteArray &data, bool append) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = ::open(QFile::encodeName(path).constData(), flags, 0600);
    if (fd < 0) {
        VNLog::log(QStringLiteral("HFHTTPFetcher logging write error:%1 (%2)").arg(path, QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    ::fchmod(fd, 0600);
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
    return done == data.size();
}

QString htmlEscaped(const QString &s) { return s.toHtmlEscaped(); }

}  // namespace

void HFHTTPFetcherLogging::setLoggingEnabled(bool on) { std::lock_guard l(state().mutex); state().enabled = on; }
bool HFHTTPFetcherLogging::isLoggingEnabled() { std::lock_guard l(state().mutex); return state().enabled; }
void HFHTTPFetcherLogging::setLoggingToFileEnabled(bool on) { std::lock_guard l(state().mutex); state().toFile = on; }
bool HFHTTPFetcherLogging::isLoggingToFileEnabled() { std::lock_guard l(state().mutex); return state().toFile; }

void HFHTTPFetcherLogging::setLoggingDirectory(const QString &path) {
    std::lock_guard l(state().mutex);
    state().directory = path;
    state().directorySet = true;
}

QString HFHTTPFetcherLogging::loggingDirectory() {
    std::lock_guard l(state().mutex);
    if (!state().directorySet) {
        state().directorySet = true;
        const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        const QString dir = desktop + QStringLiteral("/HFHTTPDebugLogs");
        state().directory = QDir().mkpath(dir) ? dir : QString();
    }
    return state().directory;
}

void HFHTTPFetcherLogging::setLoggingProcessName(const QString &name) { std::lock_guard l(state().mutex); state().processName = name; }

QString HFHTTPFetcherLogging::loggingProcessName() {
    std::lock_guard l(state().mutex);
    if (state().processName.isEmpty()) {
        QString name = QCoreApplication::applicationName();
        if (name.isEmpty())
            name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        state().processName = name.replace(QLatin1Char(' '), QLatin1Char('_'));
    }
    return state().processName;
}

void HFHTTPFetcherLogging::setLoggingDateStamp(const QString &stamp) { std::lock_guard l(state().mutex); state().dateStamp = stamp; }

QString HFHTTPFetcherLogging::loggingDateStamp() {
    std::lock_guard l(state().mutex);
    if (state().dateStamp.isEmpty())
        state().dateStamp = QDateTime::currentDateTime().toString(QStringLiteral("M-dd_hh-mm-ssAP"));
    return state().dateStamp;
}

void HFHTTPFetcherLogging::resetRunForTesting() {
    std::lock_guard l(state().mutex);
    state().runFolder.clear();
    state().counter = 0;
}

std::shared_ptr<HFInputStream> HFHTTPFetcherLogging::setupStreamLogging(std::shared_ptr<HFInputStream> stream,
                                                                         std::shared_ptr<HFLoggedStreamData> *logged) {
    if (!isLoggingEnabled() || !stream)
        return stream;
    auto buffer = std::make_shared<HFLoggedStreamData>();
    *logged = buffer;
    auto factory = HFStreamMonitor::factory();
    if (!factory) {
        buffer->setData("<<Uploaded stream log unavailable without HFReadMonitorInputStream>>");
        return stream;
    }
    return factory(stream, [buffer](const char *bytes, qint64 length) { buffer->append(bytes, length); });
}

QString HFHTTPFetcherLogging::snipSubstringOfString(const QString &text, const QString &start, const QString &end) {
    QString out = text;
    qsizetype from = 0;
    while ((from = out.indexOf(start, from)) >= 0) {
        const qsizetype valueStart = from + start.size();
        qsizetype valueEnd = end.isEmpty() ? -1 : out.indexOf(end, valueStart);
        if (valueEnd < 0)
            valueEnd = out.size();
        out.replace(valueStart, valueEnd - valueStart, kSnip);
        from = valueStart + kSnip.size();
    }
    return out;
}

bool HFHTTPFetcherLogging::fileOrDirExistsAtPath(const QString &path) { return QFileInfo::exists(path); }

bool HFHTTPFetcherLogging::makeDirectoryUpToPath(const QString &path) {
    return fileOrDirExistsAtPath(path) || QDir().mkpath(path);
}

bool HFHTTPFetcherLogging::removeItemAtPath(const QString &path) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

bool HFHTTPFetcherLogging::createSymbolicLinkAtPath(const QString &path, const QString &destination) {
    return QFile::link(destination, path);
}

QString HFHTTPFetcherLogging::headersStringForDictionary(const QList<QPair<QString, QString>> &headers) {
    QList<QPair<QString, QString>> sorted = headers;
    std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QString text;
    for (const auto &[name, value] : sorted)
        text += QStringLiteral("  %1: %2\n").arg(name, redactedHeaderValue(name, value));
    return text;
}

QVariant HFHTTPFetcherLogging::JSONObjectWithData(const QByteArray &data) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        return {};
    return doc.toVariant();
}

QString HFHTTPFetcherLogging::stringWithJSONObject(const QVariant &object) {
    const QJsonDocument doc = QJsonDocument::fromVariant(object);
    return doc.isNull() ? QString() : QString::fromUtf8(doc.toJson(QJsonDocument::Indented));
}

QString HFHTTPFetcherLogging::redactedHeaderValue(const QString &name, const QString &value) {
    const QString lower = name.toLower();
    if (lower == QLatin1String("cookie") || lower == QLatin1String("set-cookie") || lower.contains(QLatin1String("password")))
        return kSnip;
    if (lower != QLatin1String("authorization") && lower != QLatin1String("proxy-authorization"))
        return value;
    QString v = value;
    v = snipSubstringOfString(v, QStringLiteral("oauth_token=\""), QStringLiteral("\""));
    for (const QString &prefix : {QStringLiteral("Bearer "), QStringLiteral("Basic "), QStringLiteral("OAuth "),
                                 QStringLiteral("GoogleLogin auth="), QStringLiteral("AuthSub token=")})
        v = snipSubstringOfString(v, prefix, QStringLiteral("\n"));
    return v;
}

QString HFHTTPFetcherLogging::redactedRequestBody(const QString &body) {
    QString b = body;
    for (const QString &key : {QStringLiteral("client_secret="), QStringLiteral("refresh_token="), QStringLiteral("&Passwd="),
                              QStringLiteral("password="), QStringLiteral("Passwd=")})
        b = snipSubstringOfString(b, key, QStringLiteral("&"));
    return b;
}

QString HFHTTPFetcherLogging::bodyText(const QByteArray &body, const QString &contentType) {
    if (body.isEmpty())
        return {};
    const QString type = contentType.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    if (type == QLatin1String("application/json")) {
        QVariant json = JSONObjectWithData(body);
        if (json.isValid()) {
            if (json.typeId() == QMetaType::QVariantMap) {
                QVariantMap o = json.toMap();
                for (const QString &key : {QStringLiteral("refresh_token"), QStringLiteral("access_token")})
                    if (o.contains(key))
                        o.insert(key, kSnip);
                json = o;
            }
            return stringWithJSONObject(json);
        }
    }
    if (body.startsWith("<?xml")) {
        std::unique_lock lock(state().mutex);
        if (state().xmllint < 0)
            state().xmllint = QFileInfo::exists(QStringLiteral("/usr/bin/xmllint")) ? 1 : 0;
        const bool lint = state().xmllint == 1;
        lock.unlock();
        if (lint) {
            QProcess p;
            p.start(QStringLiteral("/usr/bin/xmllint"), {QStringLiteral("--format"), QStringLiteral("-")});
            if (p.waitForStarted(2000)) {
                p.write(body);
                p.closeWriteChannel();
                if (p.waitForFinished(5000) && p.exitCode() == 0) {
                    const QByteArray out = p.readAllStandardOutput();
                    if (!out.isEmpty())
                        return QString::fromUtf8(out);
                }
            }
        }
        return QString::fromUtf8(body);
    }
    const qsizetype firstLineEnd = body.indexOf("\r\n");
    if (body.startsWith("--") && firstLineEnd > 2) {
        // Multipart: text parts as they are, others by their headers and size.
        const QByteArray boundary = body.left(firstLineEnd);
        QStringList shown;
        const QList<QByteArray> parts = [&] {
            QList<QByteArray> out;
            qsizetype from = 0;
            while (true) {
                const qsizetype at = body.indexOf(boundary, from);
                if (at < 0)
                    break;
                const qsizetype next = body.indexOf(boundary, at + boundary.size());
                out.append(body.mid(at + boundary.size(), next < 0 ? -1 : next - at - boundary.size()));
                if (next < 0)
                    break;
                from = next;
            }
            return out;
        }();
        for (const QByteArray &part : parts) {
            const qsizetype split = part.indexOf("\r\n\r\n");
            const QByteArray headers = split < 0 ? part : part.left(split);
            const QByteArray content = split < 0 ? QByteArray() : part.mid(split + 4);
            if (headers.toLower().contains("content-type: text") || headers.toLower().contains("xml") ||
                headers.toLower().contains("json"))
                shown.append(QString::fromUtf8(part));
            else
                shown.append(QString::fromUtf8(headers) + QStringLiteral("\r\n\r\n<<%1 bytes>>").arg(content.size()));
        }
        return QString::fromUtf8(boundary) + shown.join(QString::fromUtf8(boundary));
    }
    if (type.startsWith(QLatin1String("text/")) || type.endsWith(QLatin1String("xml")) || type.endsWith(QLatin1String("json")) ||
        type == QLatin1String("application/x-www-form-urlencoded"))
        return QString::fromUtf8(body);
    return QStringLiteral("<<%1 bytes>>").arg(body.size());
}

void HFHTTPFetcherLogging::logFetchWithError(HFHTTPFetcher *fetcher, const VNErrorPtr &error) {
    if (!isLoggingEnabled())
        return;
    std::lock_guard lock(state().mutex);
    const HFURLRequest request = fetcher->mutableRequest();
    const HFURLResponsePtr response = fetcher->response();
    const QString processName = loggingProcessName();
    const QString dateStamp = loggingDateStamp();

    QString text;
    if (!fetcher->comment().isEmpty())
        text += fetcher->comment() + QLatin1Char('\n');
    text += QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char('\n');
    text += QStringLiteral("Request: %1 %2\n").arg(request.httpMethod(), request.url().toString());
    text += QStringLiteral("Request headers:\n");
    const QList<QPair<QString, QString>> headers = request.allHTTPHeaderFields();
    text += headersStringForDictionary(headers);
    bool authorized = false, cookies = false, ifMatch = false, ifNoneMatch = false;
    for (const auto &[name, value] : headers) {
        authorized |= name.compare(QLatin1String("Authorization"), Qt::CaseInsensitive) == 0;
        cookies |= name.compare(QLatin1String("Cookie"), Qt::CaseInsensitive) == 0;
        ifMatch |= name.compare(QLatin1String("If-Match"), Qt::CaseInsensitive) == 0;
        ifNoneMatch |= name.compare(QLatin1String("If-None-Match"), Qt::CaseInsensitive) == 0;
    }
    QByteArray requestBody = request.httpBody();
    if (requestBody.isEmpty() && request.httpBodyStream())
        requestBody = fetcher->loggedStreamData();
    text += QStringLiteral("Request body: (%1 bytes)\n").arg(requestBody.size());
    if (!requestBody.isEmpty())
        text += redactedRequestBody(bodyText(requestBody, request.valueForHTTPHeaderField(QStringLiteral("Content-Type")))) +
                QLatin1Char('\n');
    const int status = response ? response->statusCode() : 0;
    const QByteArray responseBody = fetcher->downloadedData();
    const QString responseType = response ? response->valueForHeaderField(QStringLiteral("Content-Type")) : QString();
    if (response) {
        text += QStringLiteral("Response: status %1\n").arg(status);
        text += QStringLiteral("Response headers:\n");
        QList<QPair<QString, QString>> responseHeaders;
        const auto fields = response->allHeaderFields();
        for (auto it = fields.begin(); it != fields.end(); ++it)
            responseHeaders.append({it.key(), it.value()});
        text += headersStringForDictionary(responseHeaders);
        text += QStringLiteral("Response body: (%1 bytes)\n").arg(responseBody.size());
        if (!responseBody.isEmpty())
            text += bodyText(responseBody, responseType) + QLatin1Char('\n');
    }
    if (error)
        text += QStringLiteral("Error: %1 %2 %3\n").arg(error->domain()).arg(error->code()).arg(error->localizedDescription());
    fetcher->setLog(text);

    if (!isLoggingToFileEnabled())
        return;
    const QString directory = loggingDirectory();
    if (directory.isEmpty())
        return;
    auto &s = state();
    if (s.runFolder.isEmpty()) {
        makeDirectoryUpToPath(directory);
        const QString base = directory + QStringLiteral("/%1_log_%2").arg(processName, dateStamp);
        QString folder = base;
        for (int i = 2; fileOrDirExistsAtPath(folder) && i <= 19; ++i)
            folder = base + QStringLiteral("_%1").arg(i);
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
            VNLog::log(QStringLiteral("HFHTTPFetcher logging write error:%1 (%2)").arg(folder, QString::fromLocal8Bit(strerror(errno))));
            return;
        }
        s.runFolder = folder;
    }
    const int number = ++s.counter;
    const QString textName = QStringLiteral("fetch_%1.txt").arg(number);
    writeOwnerOnly(s.runFolder + QLatin1Char('/') + textName, (text + QString(59, QLatin1Char('-')) + QLatin1Char('\n')).toUtf8(), false);

    QString responseFile;
    if (!responseBody.isEmpty()) {
        QString ext;
        if (responseBody.startsWith("<?xml") || responseType.contains(QLatin1String("xml")))
            ext = QStringLiteral("xml");
        else if (responseType.startsWith(QLatin1String("image/jpeg")))
            ext = QStringLiteral("jpg");
        else if (responseType.startsWith(QLatin1String("image/gif")))
            ext = QStringLiteral("gif");
        else if (responseType.startsWith(QLatin1String("image/png")))
            ext = QStringLiteral("png");
        if (!ext.isEmpty()) {
            responseFile = QStringLiteral("fetch_%1_response.%2").arg(number).arg(ext);
            const QByteArray content = ext == QLatin1String("xml") ? bodyText(responseBody, responseType).toUtf8() : responseBody;
            writeOwnerOnly(s.runFolder + QLatin1Char('/') + responseFile, content, false);
        }
    }

    const QString htmlPath = s.runFolder + QStringLiteral("/aperçu_http_log.html");
    QString html;
    if (!fileOrDirExistsAtPath(htmlPath))
        html += QStringLiteral("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">"
                               "<title>%1 HTTP fetch log %2</title></head><body>\n")
                    .arg(htmlEscaped(processName), htmlEscaped(dateStamp));
    QStringList flags;
    if (authorized)
        flags << (request.url().scheme() == QLatin1String("https") ? QStringLiteral("authorized") : QStringLiteral("authorized non-SSL"));
    if (cookies)
        flags << QStringLiteral("cookies");
    if (ifMatch)
        flags << QStringLiteral("if-match");
    if (ifNoneMatch)
        flags << QStringLiteral("if-none-match");
    html += QStringLiteral("<b>%1</b> %2 %3<br>\n").arg(htmlEscaped(request.httpMethod()), htmlEscaped(request.url().toString()),
                                                        htmlEscaped(flags.join(QLatin1Char(' '))));
    const QString statusText = status == 200 || status == 201 ? QString::number(status)
                                                              : QStringLiteral("<font color=\"%1\">%2</font>")
                                                                    .arg(status >= 400 ? QStringLiteral("red") : QStringLiteral("blue"))
                                                                    .arg(status);
    html += QStringLiteral("&nbsp;&nbsp;status: %1").arg(statusText);
    if (status >= 400) {
        html += QStringLiteral(" &#x2691;");
        // A JSON error document: its code and message.
        const QJsonObject error = QJsonDocument::fromJson(responseBody).object().value(QStringLiteral("error")).toObject();
        if (!error.isEmpty())
            html += QStringLiteral(" %1 %2").arg(error.value(QStringLiteral("code")).toVariant().toString().toHtmlEscaped(),
                                                 error.value(QStringLiteral("message")).toString().toHtmlEscaped());
    }
    if (response && response->url() != request.url())
        html += QStringLiteral(" response URL: %1").arg(htmlEscaped(response->url().toString()));
    if (response && !response->setCookieLines().isEmpty())
        html += QStringLiteral(" sets cookies");
    if (response && response->statusCode() >= 300 && response->statusCode() < 400)
        html += QStringLiteral(" redirects");
    if (error)
        html += QStringLiteral(" error: %1 %2").arg(htmlEscaped(error->domain())).arg(error->code());
    html += QStringLiteral(" <a href=\"%1\">request/response log</a>").arg(textName);
    if (!responseFile.isEmpty() && responseFile.endsWith(QLatin1String("xml")) == false)
        html += QStringLiteral("<br><img src=\"%1\">").arg(responseFile);
    html += QStringLiteral("<br><br>\n");
    writeOwnerOnly(htmlPath, html.toUtf8(), true);

    const QString link = directory + QStringLiteral("/%1_log_newest.html").arg(processName);
    removeItemAtPath(link);
    createSymbolicLinkAtPath(link, htmlPath);
}
