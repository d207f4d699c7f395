#include "App/QNNameClashCheck.h"

#include "App/QNDialogService.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNCopyTaskItem.h"
#include "Core/QNErrorWrapper.h"
#include "Core/QNListing.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

#include <QPointer>
#include <QSet>
#include <QWidget>

namespace {

QString quoted(const QString &name) { return QStringLiteral("\u201c%1\u201d").arg(name); }

// How many names a question spells out before "and N more".
constexpr int kNamesShown = 3;

void ask(const QNAlert &alert, QWidget *window, QNDialogService::AlertCompletion answered) {
    VNDispatch::mainAsync([alert, window = QPointer<QWidget>(window), answered] {
        QNDialogService::shared().beginAlertSheet(alert, window, answered);
    });
}

QNDocumentList without(const QNDocumentList &documents, const QNDocumentList &taken) {
    QNDocumentList rest;
    for (const QNDocumentPtr &d : documents)
        if (!taken.contains(d))
            rest << d;
    return rest;
}

// "“a”", "“a” and “b”", "“a”, “b”, “c” and 4 more".
QString listedNames(const QNDocumentList &documents) {
    const int count = int(documents.size());
    QStringList names;
    for (int i = 0; i < count && i < kNamesShown; ++i)
        names << quoted(QNNameClashCheck::arrivalName(documents.at(i)));
    if (count > kNamesShown)
        return QStringLiteral("%1 and %2 more").arg(names.join(QStringLiteral(", "))).arg(count - kNamesShown);
    if (count > 1)
        return QStringLiteral("%1 and %2").arg(names.mid(0, count - 1).join(QStringLiteral(", ")), names.last());
    return names.value(0);
}

void listingAnswered(const QNDriveConfigPtr &fromDrive, const QNDocumentList &documents,
                     const QNDriveConfigPtr &toDrive, const QNDocumentPtr &folder, bool move,
                     const QPointer<QWidget> &window, const QNNameClashCheck::Proceed &proceed,
                     const QNDocumentList &listing, const VNErrorPtr &error) {
    const QString where = QNNameClashCheck::folderName(toDrive, folder);
    if (error) {
        VNLog::log(QStringLiteral("QNNameClashCheck listing error: %1").arg(error->localizedDescription()));
        // A server that was refused is refused again: nothing goes on.
        const bool refused = QNCloudInterface::saysServerRefused(error);
        ask(QNNameClashCheck::uncheckedQuestion(error, where, move), window, [documents, proceed, refused](const QNAlertResult &r) {
            if (r.returnCode == QNAlert::FirstButtonReturn && !refused)
                proceed(documents);
        });
        return;
    }
    const QNDocumentList clashing = QNNameClashCheck::clashes(fromDrive, documents, toDrive, folder, listing);
    if (clashing.isEmpty()) {
        proceed(documents);
        return;
    }
    // A file and a folder of one name never replace each other: those go
    // nowhere, whatever the answer.
    const QNDocumentList blocked = QNNameClashCheck::notReplaceable(clashing, listing, toDrive);
    const QNDocumentList replaceable = without(clashing, blocked);
    const QNDocumentList rest = without(documents, blocked);
    const QNAlert alert =
        QNNameClashCheck::question(clashing, blocked, listing, where, move, !without(documents, clashing).isEmpty(), toDrive);
    ask(alert, window, [documents, clashing, replaceable, rest, proceed](const QNAlertResult &r) {
        if (r.returnCode == QNAlert::FirstButtonReturn) {
            // Replace, or (nothing to replace) go on with the others.
            if (!rest.isEmpty())
                proceed(rest);
        } else if (r.returnCode == QNAlert::ThirdButtonReturn && !replaceable.isEmpty()) {
            const QNDocumentList others = without(documents, clashing);
            if (!others.isEmpty())
                proceed(others);
        }
    });
}

// What Replace does: a file is written over, while a folder is merged (the
// copy goes into it, over its files of the same names only). A single
// folder is named: "it" could be taken for the folder it is in.
QString consequences(int files, const QStringList &folders) {
    const QString overwritten = QStringLiteral("Replacing %1 cannot be undone.");
    const QString merged = QStringLiteral("Files in %1 with the same names as those copied are replaced; the other "
                                          "files in %2 are kept.");
    if (folders.isEmpty())
        return overwritten.arg(files == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    if (files == 0)
        return folders.size() == 1 ? merged.arg(quoted(folders.first()), QStringLiteral("it"))
                                   : merged.arg(QStringLiteral("these folders"), QStringLiteral("them"));
    return overwritten.arg(files == 1 ? QStringLiteral("the file") : QStringLiteral("the files")) +
           QLatin1Char(' ') +
           (folders.size() == 1 ? merged.arg(QStringLiteral("the folder"), QStringLiteral("it"))
                                : merged.arg(QStringLiteral("the folders"), QStringLiteral("them")));
}

// A folder is merged only into a folder: a file of its name, or a link
// that would take the copy elsewhere, makes it fail instead.
bool isRealFolder(const QNDocumentPtr &document) {
    return document && document->isDirectory() && !document->isLink();
}

}  // namespace

void QNNameClashCheck::run(const QNDriveConfigPtr &fromDrive, const QNDocumentList &documents,
                           const QNDriveConfigPtr &toDrive, const QNDocumentPtr &folder, bool move, QWidget *window,
                           Proceed proceed) {
    if (documents.isEmpty() || !toDrive || !folder) {
        proceed(documents);
        return;
    }
    QPointer<QWidget> guard(window);
    auto list = std::make_shared<QNListDocumentsOperation>(
        toDrive, folder, QString(),
        [=](QNDocumentList listing, QString, VNErrorPtr error, bool cancelled) {
            if (cancelled)
                return;
            VNDispatch::mainAsync([=] {
                listingAnswered(fromDrive, documents, toDrive, folder, move, guard, proceed, listing, error);
            });
        });
    VNOperationQueue::global().addOperation(list);
}

QString QNNameClashCheck::arrivalName(const QNDocumentPtr &document, const QNDriveConfigPtr &toDrive) {
    if (!document)
        return {};
    const QString name = document->path().isEmpty()
                             ? document->displayName()
                             : QNUtils::withoutTrailingSlashes(document->path()).section(QLatin1Char('/'), -1);
    return toDrive && toDrive->isMyFiles() ? QNUtils::asOnLocalDisk(name) : name;
}

QNDocumentList QNNameClashCheck::clashes(const QNDriveConfigPtr &fromDrive, const QNDocumentList &documents,
                                         const QNDriveConfigPtr &toDrive, const QNDocumentPtr &folder,
                                         const QNDocumentList &listing) {
    QSet<QString> taken;
    for (const QNDocumentPtr &d : listing) {
        if (!d)
            continue;
        taken.insert(d->displayName().toCaseFolded());
        taken.insert(arrivalName(d).toCaseFolded());
    }
    taken.remove(QString());
    QNDocumentList clashing;
    for (const QNDocumentPtr &d : documents)
        if (d && taken.contains(arrivalName(d, toDrive).toCaseFolded()) &&
            !QNCopyTaskItem::isOntoItself(fromDrive, d, toDrive, folder))
            clashing << d;
    return clashing;
}

QNDocumentList QNNameClashCheck::notReplaceable(const QNDocumentList &clashing, const QNDocumentList &listing,
                                                const QNDriveConfigPtr &toDrive) {
    QNDocumentList blocked;
    // A drop of thousands onto a folder of thousands: one look-up a name.
    const QNListing names(listing);
    for (const QNDocumentPtr &d : clashing) {
        const QNDocumentPtr namesake = d ? names.namesake(arrivalName(d, toDrive)) : nullptr;
        if (namesake && (d->isDirectory() ? !isRealFolder(namesake) : namesake->isDirectory()))
            blocked << d;
    }
    return blocked;
}

QNAlert QNNameClashCheck::question(const QNDocumentList &clashing, const QNDocumentList &listing,
                                   const QString &folderName, bool move, bool othersGo,
                                   const QNDriveConfigPtr &toDrive) {
    return question(clashing, notReplaceable(clashing, listing, toDrive), listing, folderName, move, othersGo, toDrive);
}

QNAlert QNNameClashCheck::question(const QNDocumentList &clashing, const QNDocumentList &blocked,
                                   const QNDocumentList &listing, const QString &folderName, bool move, bool othersGo,
                                   const QNDriveConfigPtr &toDrive) {
    const QNDocumentList replaceable = without(clashing, blocked);
    const QString verb = move ? QStringLiteral("moved") : QStringLiteral("copied");
    // What is not copied, as its item would say it.
    QString notCopied;
    if (blocked.size() == 1) {
        const QNDocumentPtr d = blocked.first();
        const QNDocumentPtr namesake = QNCopyTaskItem::namesakeIn(listing, arrivalName(d, toDrive));
        const QString held = namesake->isLink()        ? QStringLiteral("a link")
                             : namesake->isDirectory() ? QStringLiteral("a folder")
                                                       : QStringLiteral("a file");
        notCopied = QStringLiteral("%1 will not be %2: %3 holds %4 of that name, which %5 does not replace.")
                        .arg(quoted(arrivalName(d)), verb, quoted(folderName), held,
                             d->isDirectory() ? QStringLiteral("a folder") : QStringLiteral("a file"));
    } else if (!blocked.isEmpty()) {
        notCopied = QStringLiteral("%1 will not be %2: %3 holds items of their names of another kind, and a file "
                                   "and a folder never replace each other.")
                        .arg(listedNames(blocked), verb, quoted(folderName));
    }
    QNAlert alert;
    alert.style = QNAlert::Warning;
    if (replaceable.isEmpty()) {
        // Nothing to replace: the others go on, or nothing is left to do.
        const int count = int(blocked.size());
        alert.messageText = count == 1 ? QStringLiteral("1 item will not be %1").arg(verb)
                                       : QStringLiteral("%1 items will not be %2").arg(count).arg(verb);
        alert.informativeText = notCopied;
        if (othersGo)
            alert.buttons = {move ? QStringLiteral("Move the Others") : QStringLiteral("Copy the Others"),
                             QStringLiteral("Cancel")};
        else
            alert.buttons = {QStringLiteral("OK")};
        return alert;
    }
    const int count = int(replaceable.size());
    QStringList folders;
    for (const QNDocumentPtr &d : replaceable)
        if (d && d->isDirectory())
            folders << arrivalName(d);
    const int files = count - int(folders.size());
    alert.messageText = count == 1 ? QStringLiteral("Replace 1 item?") : QStringLiteral("Replace %1 items?").arg(count);
    alert.informativeText = QStringLiteral("%1 %2 in %3. ")
                                .arg(listedNames(replaceable),
                                     count == 1 ? QStringLiteral("already exists") : QStringLiteral("already exist"),
                                     quoted(folderName)) +
                            consequences(files, folders);
    if (!notCopied.isEmpty())
        alert.informativeText += QLatin1Char(' ') + notCopied;
    alert.buttons = {QStringLiteral("Replace"), QStringLiteral("Cancel"), QStringLiteral("Skip those")};
    alert.defaultButton = 1;
    return alert;
}

QNAlert QNNameClashCheck::uncheckedQuestion(const VNErrorPtr &error, const QString &folderName, bool move) {
    QNAlert alert;
    alert.style = QNAlert::Warning;
    if (QNCloudInterface::saysServerRefused(error)) {
        // Going on anyway could only meet the same refusal, file by file.
        alert.messageText = QStringLiteral("Nothing can be %1 to %2")
                                .arg(move ? QStringLiteral("moved") : QStringLiteral("copied"), quoted(folderName));
        alert.informativeText =
            QStringLiteral("Its server's host key or certificate was refused, so no connection is made to it until "
                           "the key or certificate it shows is trusted.\n\n%1")
                .arg(QNErrorWrapper(error).localizedDescription());
        alert.buttons = {QStringLiteral("OK")};
        return alert;
    }
    alert.messageText = QStringLiteral("%1 could not be listed").arg(quoted(folderName));
    alert.informativeText =
        QStringLiteral("Whether it already holds items of the same names is not known: the %1 would replace them "
                       "without asking.\n\n%2")
            .arg(move ? QStringLiteral("move") : QStringLiteral("copy"),
                 error ? QNErrorWrapper(error).localizedDescription() : QString());
    alert.buttons = {move ? QStringLiteral("Move Anyway") : QStringLiteral("Copy Anyway"), QStringLiteral("Cancel")};
    alert.defaultButton = 1;
    return alert;
}

QString QNNameClashCheck::folderName(const QNDriveConfigPtr &drive, const QNDocumentPtr &folder) {
    const QString name = folder ? QNUtils::nameOf(*folder) : QString();
    if (!name.isEmpty())
        return name;
    return drive ? drive->serviceName() : QString();
}
