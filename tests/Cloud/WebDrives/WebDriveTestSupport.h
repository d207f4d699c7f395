#pragma once

// What the web-drive tests share: their fake (a peer on the webdrive_fake.py
// frame), one handler call waited for, listings, and task runs.
#include "Core/QNMyDocumentsHandler.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNCopyTask.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNTaskManager.h"
#include "Net/NRHTTPRequest.h"
#include "support/HeldRename.h"
#include "support/PeerRequest.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <gtest/gtest.h>

namespace WebDriveTest {

struct Answer {
    int count = 0;
    QNDocumentPtr document;
    QNDocumentList documents;
    VNErrorPtr error;
    bool cancelled = false;
};

inline QString errorText(const VNErrorPtr &e) {
    return e ? e->userInfo().value("error").toString() : QString();
}

// The fake of one service.
class Fake {
public:
    explicit Fake(QString peer) : m_peer(std::move(peer)) {}
    QJsonObject state() const { return VNTest::peerState(m_peer); }
    bool isRunning() const { return !state().isEmpty(); }
    QString httpBase() const { return QStringLiteral("http://127.0.0.1:%1").arg(state().value("http_port").toInt()); }
    QString httpsBase() const { return QStringLiteral("https://127.0.0.1:%1").arg(state().value("https_port").toInt()); }
    void trustItsCertificate() const { NRHTTPRequest::setTestCertificateAuthorityFile(state().value("ca_file").toString()); }

    // One plain request, waited for; the body (and the Location header).
    static QByteArray fetch(const QString &url, const QByteArray &body = {}, QString *location = nullptr,
                            const QMap<QString, QString> &headers = {}, int *status = nullptr) {
        const VNTest::PeerReply reply = VNTest::peerRequest(QUrl(url), body, {}, headers);
        if (location)
            *location = reply.location;
        if (status)
            *status = reply.status;
        return reply.body;
    }
    QByteArray control(const QString &what, const QJsonObject &args = {}) const {
        return fetch(httpBase() + "/__control/" + what, QJsonDocument(args).toJson(QJsonDocument::Compact));
    }
    QJsonArray log() const { return QJsonDocument::fromJson(control("log")).array(); }
    QJsonObject tree() const { return QJsonDocument::fromJson(control("tree")).object(); }

private:
    QString m_peer;
};

// Runs one document call of a fresh handler of the drive and waits for its
// answer, and a little longer: a second answer would be counted.
template <typename Call>
Answer run(const QNDriveConfigPtr &drive, Call call) {
    auto answer = std::make_shared<Answer>();
    auto handler = drive->createCloudInterface();
    call(handler, [answer](QNDocumentPtr d, VNErrorPtr e, bool c) {
        ++answer->count;
        answer->document = d;
        answer->error = e;
        answer->cancelled = c;
    });
    EXPECT_TRUE(VNTest::waitUntil([&] { return answer->count > 0; }, 20000));
    VNTest::spin(50);
    return *answer;
}

inline Answer list(const QNDriveConfigPtr &drive, const QString &path, const QString &keyword = QString(),
                   int timeoutMs = 20000) {
    auto answer = std::make_shared<Answer>();
    drive->createCloudInterface()->listDocuments(QNDocument::withPath(path, true), keyword,
                                                 [answer](QNDocumentList d, QString, VNErrorPtr e, bool c) {
                                                     ++answer->count;
                                                     answer->documents = d;
                                                     answer->error = e;
                                                     answer->cancelled = c;
                                                 });
    EXPECT_TRUE(VNTest::waitUntil([&] { return answer->count > 0; }, timeoutMs));
    return *answer;
}

inline VNErrorPtr quota(const QNDriveConfigPtr &drive) {
    auto answers = std::make_shared<std::atomic<int>>(0);
    auto error = std::make_shared<VNErrorPtr>();
    drive->createCloudInterface()->quota(QNDocument::withPath("/", true), [answers, error](VNErrorPtr e, bool) {
        *error = e;
        ++*answers;
    });
    EXPECT_TRUE(VNTest::waitUntil([&] { return answers->load() > 0; }));
    return *error;
}

// Sorted names, folders with a final "/".
inline QStringList names(const QNDocumentList &documents) {
    QStringList result;
    for (const auto &d : documents)
        result << d->displayName() + (d->isDirectory() ? "/" : "");
    result.sort();
    return result;
}

// Every entry below root, relative, folders ending in "/", sorted.
inline QStringList listTree(const QString &root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString rel = QDir(root).relativeFilePath(it.filePath());
        entries << (it.fileInfo().isDir() ? rel + '/' : rel);
    }
    entries.sort();
    return entries;
}

// A rename cancelled while the fake holds its request on the way (the next
// that hold names, see support/HeldRename.h): answered as cancelled at once,
// and run to the service's answer, which the handler gives once the fake
// lets the request through.
inline void expectARenameHeldOnItsWayRunsToItsAnswer(const Fake &fake, const QNDriveConfigPtr &drive,
                                                     const QNDocumentPtr &from, const QString &to,
                                                     const QJsonObject &hold) {
    const VNTest::HeldRename run = VNTest::cancelARenameHeldOnItsWay(
        drive, from, QNDocument::withPath(to), hold,
        [&fake](const QString &what, const QJsonObject &args) {
            return QJsonDocument::fromJson(fake.control(what, args)).object();
        });
    VNTest::expectItRanToItsAnswer(run);
}

inline VNErrorPtr runItem(const QNTaskPtr &task, const QNTaskItemPtr &item) {
    auto manager = std::make_shared<QNTaskManager>();
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto error = std::make_shared<VNErrorPtr>();
    item->registerListenerForTaskItemCompletedBlock("web-drive-test", [error](VNErrorPtr e, QNDocumentPtr, bool) { *error = e; });
    task->registerListenerForTaskCompletedBlock("web-drive-test", [done] { done->store(true); });
    task->addTaskItem(item);
    manager->addTask(task);
    EXPECT_TRUE(VNTest::waitUntil([done] { return done->load(); }, 120000));
    return *error;
}

// The local disk as a drive that takes absolute paths.
inline QNDriveConfigPtr localDisk() { return QNMyDocumentsHandler::makeLocalDriveConfig(); }

// n bytes of a pattern without a short period.
inline QByteArray patternBytes(qsizetype n) {
    QByteArray bytes(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = char((quint32(i) * 2654435761u) >> 24);
    return bytes;
}

// Empty when the two folders hold the same entries with the same bytes, else what differs.
inline QString treeDifference(const QString &source, const QString &copy) {
    if (listTree(source) != listTree(copy))
        return "entries differ: " + listTree(copy).join(", ");
    for (const QString &entry : listTree(source))
        if (!entry.endsWith('/') && VNTest::readFile(source + '/' + entry) != VNTest::readFile(copy + '/' + entry))
            return "content of " + entry + " differs";
    return QString();
}

// A folder tree (a 1 MiB file, an empty one, quotes, "%" and non-ASCII
// names) copied from the local disk to the drive's root and back; empty when
// the copy came back byte-identical, else what differs.
inline QString roundTrip(const QNDriveConfigPtr &drive, const QString &workFolder) {
    const QString source = workFolder + "/tree";
    VNTest::writeFile(source + "/top.txt", "top\n");
    VNTest::writeFile(source + "/empty.bin", QByteArray());
    VNTest::writeFile(source + "/level 1/big.bin", patternBytes(1024 * 1024 + 11));
    VNTest::writeFile(source + QString::fromUtf8("/level 1/nïce 'quoted' 50%.txt"), "unicode");
    VNTest::writeFile(source + "/level 1/level 2/deep.txt", "deep");
    VNErrorPtr error = runItem(std::make_shared<QNCopyTask>(),
                               std::make_shared<QNCopyTaskItem>(localDisk(), drive, QNDocument::withPath(source, true),
                                                                QNDocument::withPath("/", true)));
    if (error)
        return "up: " + errorText(error);
    const QString back = workFolder + "/back";
    QDir().mkpath(back);
    error = runItem(std::make_shared<QNCopyTask>(),
                    std::make_shared<QNCopyTaskItem>(drive, localDisk(), QNDocument::withPath("/tree", true),
                                                     QNDocument::withPath(back, true)));
    if (error)
        return "down: " + errorText(error);
    return treeDifference(source, back + "/tree");
}

}  // namespace WebDriveTest
