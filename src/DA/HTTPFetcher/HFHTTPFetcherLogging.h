#pragma once

#include "DA/HTTPFetcher/HFInputStream.h"
#include "Platform/VNError.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QVariant>
#include <QString>
#include <memory>
#include <mutex>

class HFHTTPFetcher;

// The copy of a streamed body kept for the log: appended on the thread that
// sends the body, read on the one that logs; its own lock guards both.
class HFLoggedStreamData {
public:
    void append(const char *bytes, qint64 length) {
        std::lock_guard lock(m_mutex);
        m_data.append(bytes, length);
    }
    void setData(const QByteArray &data) {
        std::lock_guard lock(m_mutex);
        m_data = data;
    }
    QByteArray data() const {
        std::lock_guard lock(m_mutex);
        return m_data;
    }

private:
    mutable std::mutex m_mutex;
    QByteArray m_data;
};

// The fetchers' debug log, off unless switched on (the application never
// does). When on, every ended fetch and every redirect leaves a text entry
// (kept in the fetcher's log() and written as fetch_N.txt), an entry in the
// run's HTML page and, for XML and images, a copy of the body, in a run
// folder under the logging directory. Secrets (authorization values,
// cookies, passwords and tokens in bodies) are replaced by "_snip_"; files
// are readable by the owner only. Nothing is created while logging is off.
class HFHTTPFetcherLogging {
public:
    static void setLoggingEnabled(bool on);
    static bool isLoggingEnabled();
    static void setLoggingToFileEnabled(bool on);
    static bool isLoggingToFileEnabled();
    // Default: "HFHTTPDebugLogs" in the desktop folder.
    static void setLoggingDirectory(const QString &path);
    static QString loggingDirectory();
    static void setLoggingProcessName(const QString &name);
    static QString loggingProcessName();
    static void setLoggingDateStamp(const QString &stamp);
    static QString loggingDateStamp();
    // Forgets the run folder and counter (a new run starts with the next entry).
    static void resetRunForTesting();

    // Hooks called by the fetcher.
    static std::shared_ptr<HFInputStream> setupStreamLogging(std::shared_ptr<HFInputStream> stream,
                                                             std::shared_ptr<HFLoggedStreamData> *logged);
    static void logFetchWithError(HFHTTPFetcher *fetcher, const VNErrorPtr &error);

    // Redaction and formatting, shared with tests.
    static QString redactedHeaderValue(const QString &name, const QString &value);
    static QString redactedRequestBody(const QString &body);
    static QString bodyText(const QByteArray &body, const QString &contentType);
    static QString snipSubstringOfString(const QString &text, const QString &start, const QString &end);

    // File and JSON helpers of the log.
    static bool fileOrDirExistsAtPath(const QString &path);
    // Makes the folder and its parents; true when it exists afterwards.
    static bool makeDirectoryUpToPath(const QString &path);
    static bool removeItemAtPath(const QString &path);
    static bool createSymbolicLinkAtPath(const QString &path, const QString &destination);
    // "  name: value" lines sorted by name, each ending in a newline.
    static QString headersStringForDictionary(const QList<QPair<QString, QString>> &headers);
    // Null when the data is no JSON document.
    static QVariant JSONObjectWithData(const QByteArray &data);
    // Indented JSON; empty for a value JSON cannot hold.
    static QString stringWithJSONObject(const QVariant &object);
};
