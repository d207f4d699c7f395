#include "ScriptedRemoteHandler.h"

#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <functional>
#include <mutex>
#include <vector>

namespace {
std::mutex scriptMutex;
ScriptedRemoteHandler::Script script;
QStringList removed;
int removalCalls = 0;
int listingCalls = 0;
bool firstListingFailed = false;
std::vector<std::function<void()>> heldUploads;
const QString kUser = QStringLiteral("scripted");

ScriptedRemoteHandler::Script current() {
    std::lock_guard lock(scriptMutex);
    return script;
}

QString nameOf(const QNDocumentPtr &doc) {
    return doc ? doc->path().section(QLatin1Char('/'), -1) : QString();
}
}  // namespace

void ScriptedRemoteHandler::registerWithFactory() {
    QNCloudInterfaceFactory::registerHandler(
        QStringLiteral("scripted-fake"),
        [](const QNDriveConfig &c) { return c.url().startsWith(QLatin1String("fake://")) && c.username() == kUser; },
        [](const QNDriveConfigPtr &c) { return std::make_shared<ScriptedRemoteHandler>(c); });
}

QNDriveConfigPtr ScriptedRemoteHandler::makeDriveConfig(const QString &rootFolder) {
    return QNFakeRemoteHandler::makeDriveConfig(rootFolder, kUser);
}

void ScriptedRemoteHandler::setScript(const Script &s) {
    std::lock_guard lock(scriptMutex);
    script = s;
}

void ScriptedRemoteHandler::reset() {
    std::vector<std::function<void()>> dropped;
    {
        std::lock_guard lock(scriptMutex);
        script = Script();
        removed.clear();
        removalCalls = 0;
        listingCalls = 0;
        firstListingFailed = false;
        dropped.swap(heldUploads);
    }
    // Dropped outside the lock: letting go of an answer tells its operation.
}

int ScriptedRemoteHandler::heldUploadCount() {
    std::lock_guard lock(scriptMutex);
    return static_cast<int>(heldUploads.size());
}

void ScriptedRemoteHandler::releaseHeldUploads() {
    std::vector<std::function<void()>> released;
    {
        std::lock_guard lock(scriptMutex);
        released.swap(heldUploads);
    }
    for (auto &upload : released)
        VNDispatch::mainAsync(std::move(upload));
}

QStringList ScriptedRemoteHandler::removals() {
    std::lock_guard lock(scriptMutex);
    return removed;
}

QStringList ScriptedRemoteHandler::sourceRemovals() {
    QStringList paths = removals();
    paths.removeIf([](const QString &path) { return path.contains(QLatin1String("/varnello-check-")); });
    return paths;
}

void ScriptedRemoteHandler::rename(QNDocumentPtr document, QNDocumentPtr name, QNDocumentCallback completed) {
    const QString from = document ? document->path() : QString();
    const QString to = name ? from.section(QLatin1Char('/'), 0, -2) + QLatin1Char('/') +
                                  name->path().section(QLatin1Char('/'), -1)
                            : QString();
    QNFakeRemoteHandler::rename(document, name, [from, to, completed](QNDocumentPtr renamed, VNErrorPtr error,
                                                                      bool cancelled) {
        if (!error && !cancelled) {
            std::lock_guard lock(scriptMutex);
            for (QString *folder : {&script.twinInListingOf, &script.dotDotInListingOf})
                if (!folder->isEmpty() && *folder == from)
                    *folder = to;
        }
        completed(renamed, error, cancelled);
    });
}

void ScriptedRemoteHandler::download(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                     QNDocumentCallback completed) {
    const Script s = current();
    const QString name = nameOf(document);
    if (!s.failDownloadsNamed.isEmpty() && name == s.failDownloadsNamed) {
        auto error = makeError(QStringLiteral("Scripted download failure of %1").arg(name));
        VNDispatch::mainAsync([completed, error] { completed(nullptr, error, false); });
        return;
    }
    if (!s.cancelDownloadsNamed.isEmpty() && name == s.cancelDownloadsNamed) {
        VNDispatch::mainAsync([completed] { completed(nullptr, nullptr, true); });
        return;
    }
    QNFakeRemoteHandler::download(document, destPath, progress, completed);
}

void ScriptedRemoteHandler::upload(QNDocumentPtr document, QNDocumentPtr destPath, QNProgressCallback progress,
                                   QNDocumentCallback completed) {
    const Script s = current();
    if (!s.failUploadsNamed.isEmpty() && nameOf(document) == s.failUploadsNamed) {
        if (s.failedUploadLeavesPart && destPath)
            VNTest::writeFile(rootFolderOf(*driveConfig()) + destPath->path() + QLatin1Char('/') + nameOf(document),
                              "part of the upload");
        auto error = makeError(QStringLiteral("Scripted upload failure"));
        VNDispatch::mainAsync([completed, error] { completed(nullptr, error, false); });
        return;
    }
    if (!s.holdUploadsNamed.isEmpty() && nameOf(document) == s.holdUploadsNamed && destPath) {
        const QString part =
            rootFolderOf(*driveConfig()) + destPath->path() + QStringLiteral("/.") + nameOf(document) + ".part";
        VNTest::writeFile(part, "part of the upload");
        VNErrorPtr stays;
        if (s.heldPartStays) {
            stays = makeError(QStringLiteral("The upload was cancelled; \u201c%1\u201d stays on the drive.").arg(part));
            if (!s.heldPartErrorUnmarked)
                stays = leavingFileOnDrive(stays);
        }
        m_cleanUpOnCancel = [part, completed, stays] {
            VNDispatch::mainAfter(300, [part, completed, stays] {
                if (!stays)
                    QFile::remove(part);
                completed(nullptr, stays, true);
            });
        };
        return;
    }
    if (!s.holdUploadsUntilReleased.isEmpty() && nameOf(document) == s.holdUploadsUntilReleased && destPath) {
        const QString place = rootFolderOf(*driveConfig()) + destPath->path() + QLatin1Char('/') + nameOf(document);
        const QString drivePath = destPath->path() + QLatin1Char('/') + nameOf(document);
        const QByteArray content = VNTest::readFile(document->path());
        const bool cutShort = s.heldUploadIsCutShort;
        std::lock_guard lock(scriptMutex);
        heldUploads.push_back([place, drivePath, content, cutShort, completed] {
            if (cutShort) {
                VNTest::writeFile(place, content.left(content.size() / 2));
                completed(nullptr, QNCloudInterface::makeError(QStringLiteral("ScriptedRemoteHandler"),
                                                               QStringLiteral("The upload was cut short.")),
                          false);
                return;
            }
            const QString temporary = place + QStringLiteral(".in-progress");
            VNTest::writeFile(temporary, content);
            QFile::remove(place);
            QFile::rename(temporary, place);
            auto uploaded = QNDocument::withPath(drivePath);
            uploaded->setSize(content.size());
            completed(uploaded, nullptr, false);
        });
        return;
    }
    QNFakeRemoteHandler::upload(document, destPath, progress, completed);
}

void ScriptedRemoteHandler::cancel() {
    QNFakeRemoteHandler::cancel();
    if (auto cleanUp = std::move(m_cleanUpOnCancel))
        cleanUp();
}

void ScriptedRemoteHandler::remove(QNDocumentPtr document, QNDocumentCallback completed) {
    Script s;
    int number = 0;
    {
        std::lock_guard lock(scriptMutex);
        s = script;
        number = ++removalCalls;
        removed.append(document ? document->path() : QString());
    }
    VNErrorPtr error;
    if (s.failRemovalNumber == number)
        error = makeError(QStringLiteral("Scripted removal failure"));
    if (!error && s.removeOnlyEmptyFolders && document) {
        const QString local = rootFolderOf(*driveConfig()) + document->path();
        if (QFileInfo(local).isDir() && !QDir(local).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            error = makeError(QStringLiteral("The folder %1 is not empty").arg(document->path()));
    }
    if (error) {
        VNDispatch::mainAsync([completed, error] { completed(nullptr, error, false); });
        return;
    }
    QNFakeRemoteHandler::remove(document, completed);
}

void ScriptedRemoteHandler::listDocuments(QNDocumentPtr folder, QString searchKeyword, QNListCallback completed) {
    const Script s = current();
    int number = 0;
    {
        std::lock_guard lock(scriptMutex);
        number = ++listingCalls;
    }
    if (s.failListingNumber == number) {
        auto error = makeError(QStringLiteral("Scripted listing failure"));
        VNDispatch::mainAsync([completed, searchKeyword, error] { completed({}, searchKeyword, error, false); });
        return;
    }
    if (!s.failFirstListingOf.isEmpty() && folder && folder->path() == s.failFirstListingOf) {
        bool fails = false;
        {
            std::lock_guard lock(scriptMutex);
            fails = !firstListingFailed;
            firstListingFailed = true;
        }
        if (fails) {
            auto error = makeError(QStringLiteral("Scripted listing failure of %1").arg(folder->path()));
            VNDispatch::mainAsync([completed, searchKeyword, error] { completed({}, searchKeyword, error, false); });
            return;
        }
    }
    if (!s.dotDotInListingOf.isEmpty() && folder && folder->path() == s.dotDotInListingOf) {
        const QString parent = folder->path();
        QNFakeRemoteHandler::listDocuments(folder, searchKeyword,
                                           [completed, parent](QNDocumentList docs, QString keyword, VNErrorPtr error,
                                                               bool cancelled) {
                                               if (!error && !cancelled)
                                                   docs.append(QNDocument::withPath(parent + "/..", true));
                                               completed(docs, keyword, error, cancelled);
                                           });
        return;
    }
    if (!s.twinInListingOf.isEmpty() && folder && folder->path() == s.twinInListingOf) {
        // A drive that allows same-named siblings (told apart by their ids).
        QNFakeRemoteHandler::listDocuments(folder, searchKeyword,
                                           [completed](QNDocumentList docs, QString keyword, VNErrorPtr error,
                                                       bool cancelled) {
                                               QNDocumentList twins;
                                               for (const auto &doc : docs) {
                                                   doc->setId(doc->path() + QStringLiteral("#1"));
                                                   twins << doc;
                                                   if (doc->isDirectory())
                                                       continue;
                                                   auto twin = QNDocument::withPath(doc->path());
                                                   twin->setSize(doc->size());
                                                   twin->setId(doc->path() + QStringLiteral("#2"));
                                                   twins << twin;
                                               }
                                               completed(twins, keyword, error, cancelled);
                                           });
        return;
    }
    if (!s.leftOutOfListings.isEmpty()) {
        const QString name = s.leftOutOfListings;
        QNFakeRemoteHandler::listDocuments(folder, searchKeyword,
                                           [completed, name](QNDocumentList docs, QString keyword, VNErrorPtr error,
                                                             bool cancelled) {
                                               docs.removeIf([&](const QNDocumentPtr &doc) {
                                                   return QNUtils::nameOf(*doc) == name;
                                               });
                                               completed(docs, keyword, error, cancelled);
                                           });
        return;
    }
    if (!s.linkWithoutTargetNamed.isEmpty()) {
        const QString name = s.linkWithoutTargetNamed;
        QNFakeRemoteHandler::listDocuments(folder, searchKeyword,
                                           [completed, name](QNDocumentList docs, QString keyword, VNErrorPtr error,
                                                             bool cancelled) {
                                               for (const auto &doc : docs)
                                                   if (doc->isDirectory() && doc->path().section('/', -1) == name)
                                                       doc->setIsLink(true);
                                               completed(docs, keyword, error, cancelled);
                                           });
        return;
    }
    if (!s.overlayRoot.isEmpty() && folder && QNUtils::withoutTrailingSlashes(folder->path()) == QLatin1String("/") &&
        QDir(rootFolderOf(*driveConfig())).absolutePath() == QDir(s.overlayRoot).absolutePath()) {
        const QString from = s.overlayFrom;
        QNFakeRemoteHandler::listDocuments(folder, searchKeyword,
                                           [completed, from](QNDocumentList docs, QString keyword, VNErrorPtr error,
                                                             bool cancelled) {
                                               QSet<QString> names;
                                               for (const auto &doc : docs)
                                                   names.insert(QNUtils::nameOf(*doc));
                                               const auto entries = QDir(from).entryInfoList(
                                                   QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
                                               for (const QFileInfo &entry : entries)
                                                   if (!error && !cancelled && !names.contains(entry.fileName()))
                                                       docs << QNDocument::withPath(QLatin1Char('/') + entry.fileName(),
                                                                                    entry.isDir());
                                               completed(docs, keyword, error, cancelled);
                                           });
        return;
    }
    QNFakeRemoteHandler::listDocuments(folder, searchKeyword, completed);
}
