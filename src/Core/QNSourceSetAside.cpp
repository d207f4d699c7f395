#include "Core/QNSourceSetAside.h"

#include "Core/QNErrorWrapper.h"
#include "Core/QNListDocumentsOperation.h"
#include "Core/QNRenameOperation.h"
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNOperationQueue.h"

#include <QSet>

namespace {

QString errorText(const VNErrorPtr &error) {
    return QNErrorWrapper::textOf(error).trimmed();
}

QString lastComponent(const QString &path) {
    return QNUtils::withoutTrailingSlashes(path).section(QLatin1Char('/'), -1);
}

QString parentOf(const QString &path) {
    const QString parent = QNUtils::withoutTrailingSlashes(path).section(QLatin1Char('/'), 0, -2);
    return parent.isEmpty() ? QStringLiteral("/") : parent;
}

QString shown(const QNDocumentPtr &folder) {
    const QString path = QNUtils::withoutTrailingSlashes(folder->path());
    if (!path.isEmpty())
        return path;
    return folder->displayName().isEmpty() ? QStringLiteral("/") : folder->displayName();
}

QString entryName(const QNDocumentPtr &document) {
    return document->path().isEmpty() ? document->displayName() : lastComponent(document->path());
}

// A name as a folder of the drive holds it, for comparing: the local disk
// gives back a name it cannot store as written (a byte a server's encoding
// could not read comes back as U+FFFD), and servers differ in letter case
// and in the normal form they store.
QString heldKey(const QString &name, bool onLocalDisk) {
    const QString held = onLocalDisk ? QNUtils::asOnLocalDisk(name) : name;
    return held.normalized(QString::NormalizationForm_C).toCaseFolded();
}

// The names of a listing, as heldKey() gives them.
QSet<QString> heldKeys(const QNDocumentList &listing, bool onLocalDisk) {
    QSet<QString> keys;
    keys.reserve(listing.size());
    for (const auto &entry : listing)
        if (entry)
            keys.insert(heldKey(entryName(entry), onLocalDisk));
    return keys;
}

// Whether a listing of the source's own folder shows the name: the drive
// lists the names it was given, as it was given them.
bool holdsName(const QNDocumentList &listing, const QString &name) {
    for (const auto &entry : listing)
        if (entry && entryName(entry) == name)
            return true;
    return false;
}

}  // namespace

QNSourceSetAside::QNSourceSetAside(QNDriveConfigPtr sourceDrive, QNDocumentPtr source,
                                   QNDriveConfigPtr destinationDrive, QList<Place> where)
    : m_sourceDrive(std::move(sourceDrive)),
      m_source(std::move(source)),
      m_destinationDrive(std::move(destinationDrive)),
      m_where(std::move(where)) {}

QString QNSourceSetAside::asideName(const QString &name) {
    const QString prefix =
        QStringLiteral("varnello-moving-") + QNUtils::uuidString().toLower().remove(QLatin1Char('-')).left(12) +
        QLatin1Char('-');
    // Names are bound to 255 bytes on most file systems: the source's name
    // is cut, a whole character at a time, to fit.
    QString kept = name;
    while (!kept.isEmpty() && (prefix + kept).toUtf8().size() > 255)
        kept.chop(kept.size() >= 2 && kept.at(kept.size() - 1).isLowSurrogate() ? 2 : 1);
    return prefix + kept;
}

QNDocumentPtr QNSourceSetAside::rebased(const QNDocumentPtr &document, const QString &top, const QString &aside) {
    if (!document)
        return document;
    const QString path = QNUtils::withoutTrailingSlashes(document->path());
    const QString from = QNUtils::withoutTrailingSlashes(top);
    if (from.isEmpty() || from == QLatin1String("/") || (path != from && !path.startsWith(from + QLatin1Char('/'))))
        return document;  // nothing of the tree, or a tree known by ids alone
    auto moved = document->copy();
    QString movedPath = QNUtils::withoutTrailingSlashes(aside) + path.mid(from.size());
    if (document->path().endsWith(QLatin1Char('/')))
        movedPath += QLatin1Char('/');
    moved->setPath(movedPath);
    // An id that holds the path (some drives make them so) moves with it;
    // one that does not stays. A wrong guess only keeps more of the source.
    const QString id = document->id();
    const int at = id.indexOf(from);
    if (at >= 0 && (at + from.size() == id.size() || id.at(at + from.size()) == QLatin1Char('/')))
        moved->setId(id.left(at) + QNUtils::withoutTrailingSlashes(aside) + id.mid(at + from.size()));
    if (path == from)
        moved->setDisplayName(lastComponent(aside));
    return moved;
}

QString QNSourceSetAside::asOwnPath(const QString &text) const {
    if (!m_aside || m_aside == m_source || m_aside->path().isEmpty())
        return text;
    QString said = text;
    said.replace(QNUtils::withoutTrailingSlashes(m_aside->path()), QNUtils::withoutTrailingSlashes(m_source->path()));
    return said.replace(m_aside->displayName(), name());
}

QString QNSourceSetAside::name() const {
    return QNUtils::nameOf(*m_source);
}

QString QNSourceSetAside::described() const {
    return (m_source->isDirectory() ? QStringLiteral("The folder \u201c%1\u201d") : QStringLiteral("The file \u201c%1\u201d"))
        .arg(name());
}

QString QNSourceSetAside::shownPath(const QNDocumentPtr &folder) {
    return shown(folder);
}

QString QNSourceSetAside::sourceFolderPath() const {
    return parentOf(m_source->path());
}

QString QNSourceSetAside::asidePath() const {
    return m_aside ? shown(m_aside) : QString();
}

void QNSourceSetAside::start(std::function<bool()> cancelled, Finished finished) {
    m_cancelled = std::move(cancelled);
    m_finished = std::move(finished);
    m_aside = m_source->copy();
    const QString aside = asideName(name());
    m_aside->setPath(QNUtils::joinedPath(sourceFolderPath(), aside));
    m_aside->setDisplayName(aside);
    if (m_cancelled && m_cancelled()) {
        m_aside = m_source;  // never set aside
        finish(Answer::Cancelled, QString());
        return;
    }
    setAside();
}

void QNSourceSetAside::startInPlace(Finished finished) {
    m_aside = m_source;
    finished(Answer::Apart, QString());
}

void QNSourceSetAside::setAside() {
    auto self = shared_from_this();
    auto rename = std::make_shared<QNRenameOperation>(
        m_sourceDrive, m_source, m_aside, [self](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            if (error || cancelled) {
                self->lookAfterFailedRename(error ? errorText(error) : QStringLiteral("it was cancelled"));
                return;
            }
            self->look(0);
        });
    // A name of its own, held by nothing: no need to list the folder first.
    rename->setChecksNewName(false);
    VNOperationQueue::global().addOperation(rename);
}

void QNSourceSetAside::lookAfterFailedRename(const QString &renameError) {
    const QString main = QStringLiteral("%1 was copied to \u201c%2\u201d but not removed: it could not be set aside to "
                                        "check that the copy is not %3 itself (%4)")
                             .arg(described(), shown(m_where.front().folder),
                                  m_source->isDirectory() ? QStringLiteral("the folder") : QStringLiteral("the file"),
                                  renameError);
    auto self = shared_from_this();
    VNOperationQueue::global().addOperation(std::make_shared<QNListDocumentsOperation>(
        m_sourceDrive, QNDocument::withPath(sourceFolderPath(), true), QString(),
        [self, main](QNDocumentList listing, QString, VNErrorPtr error, bool) {
            if (error) {
                self->finish(Answer::Failed,
                             main + QStringLiteral("; it may now be \u201c%1\u201d, if not under its own name.")
                                        .arg(self->asidePath()));
                return;
            }
            // Renamed all the same, the answer lost: back under its name.
            if (holdsName(listing, self->m_aside->displayName()))
                self->endPutBack(Answer::Failed, main);
            else
                self->finish(Answer::Failed, main + QStringLiteral("; it stays where it was."));
        }));
}

void QNSourceSetAside::look(int index) {
    // A cancel ends the look at the next step: back under its name.
    if (m_cancelled && m_cancelled()) {
        endPutBack(Answer::Cancelled, QString());
        return;
    }
    if (index >= m_where.size()) {
        finish(Answer::Apart, QString());
        return;
    }
    const Place place = m_where.at(index);
    auto self = shared_from_this();
    VNOperationQueue::global().addOperation(std::make_shared<QNListDocumentsOperation>(
        m_destinationDrive, place.folder, QString(),
        [self, index, place](QNDocumentList listing, QString, VNErrorPtr error, bool cancelled) {
            if (error || cancelled) {
                self->endPutBack(Answer::Failed,
                                 QStringLiteral("%1 was copied to \u201c%2\u201d but not removed: \u201c%3\u201d could "
                                                "not be listed to check that the copy is not %4 itself (%5)")
                                     .arg(self->described(), shown(self->m_where.front().folder), shown(place.folder),
                                          self->m_source->isDirectory() ? QStringLiteral("the folder")
                                                                        : QStringLiteral("the file"),
                                          error ? errorText(error) : QStringLiteral("it was cancelled")));
                return;
            }
            // The copy changed with the source: it is the source. Names are
            // compared as the destination holds what the copy wrote.
            const bool local = self->m_destinationDrive && self->m_destinationDrive->isMyFiles();
            const QSet<QString> listed = heldKeys(listing, local);
            QString missing;
            for (const QString &name : place.names)
                if (missing.isNull() && !listed.contains(heldKey(name, local)))
                    missing = name;
            const bool showsAside = listed.contains(heldKey(self->m_aside->displayName(), local));
            if (!showsAside && missing.isNull()) {
                self->look(index + 1);
                return;
            }
            const QString kind = self->m_source->isDirectory() ? QStringLiteral("folder") : QStringLiteral("file");
            QString message;
            if (showsAside) {
                const QString there =
                    index == 0 ? QNUtils::joinedPath(shown(place.folder), self->name()) : shown(place.folder);
                message = QStringLiteral("%1 was not moved: \u201c%2\u201d %3, reached by another path (it showed the "
                                         "name the %4 was set aside under)")
                              .arg(self->described(), there,
                                   index == 0 ? QStringLiteral("is that %1 itself").arg(kind)
                                              : QStringLiteral("is a folder of it"),
                                   kind);
            } else {
                // Or the server leaves the name out of its listings: either
                // way the copy cannot be seen to be elsewhere.
                message = QStringLiteral("%1 was not moved: once it was set aside, \u201c%2\u201d no longer showed "
                                         "\u201c%3\u201d, so %4 may be %5, reached by another path")
                              .arg(self->described(), shown(place.folder), missing,
                                   index == 0 ? QStringLiteral("its copy") : QStringLiteral("\u201c%1\u201d").arg(shown(place.folder)),
                                   index == 0 ? QStringLiteral("that %1 itself").arg(kind) : QStringLiteral("a folder of it"));
            }
            VNLog::log(QStringLiteral("QNSourceSetAside: %1").arg(message));
            self->endPutBack(Answer::One, message);
        }));
}

void QNSourceSetAside::endPutBack(Answer answer, const QString &message) {
    auto self = shared_from_this();
    putBack([self, answer, message](const QString &problem) {
        if (problem.isEmpty()) {
            if (answer == Answer::Cancelled)
                self->finish(answer, QString());
            else if (answer == Answer::One)
                self->finish(answer, message + QStringLiteral("; it stays where it was, and nothing was removed."));
            else
                self->finish(answer, message + QStringLiteral("; it stays where it was."));
            return;
        }
        if (answer == Answer::Cancelled)
            self->finish(answer, QStringLiteral("%1 was not moved (the move was cancelled); %2").arg(self->described(), problem));
        else
            self->finish(answer, message + QStringLiteral("; ") + problem);
    });
}

void QNSourceSetAside::putBack(PutBack done) {
    if (m_aside == m_source) {
        done(QString());  // never set aside
        return;
    }
    auto self = shared_from_this();
    auto name = m_source->copy();
    VNOperationQueue::global().addOperation(std::make_shared<QNRenameOperation>(
        m_sourceDrive, m_aside, name, [self, done](QNDocumentPtr, VNErrorPtr error, bool cancelled) {
            if (!error && !cancelled) {
                done(QString());
                return;
            }
            const QString renameText = error ? errorText(error) : QStringLiteral("it was cancelled");
            // Its folder tells where it is.
            VNOperationQueue::global().addOperation(std::make_shared<QNListDocumentsOperation>(
                self->m_sourceDrive, QNDocument::withPath(self->sourceFolderPath(), true), QString(),
                [self, done, renameText](QNDocumentList listing, QString, VNErrorPtr error, bool) {
                    const bool aside = !error && holdsName(listing, self->m_aside->displayName());
                    const bool back = !error && !aside && holdsName(listing, self->name());
                    if (back) {
                        done(QString());  // back after all, its answer lost
                        return;
                    }
                    const QString text =
                        QStringLiteral("it could not be given its name back (%1), and %2 \u201c%3\u201d.")
                            .arg(renameText, aside ? QStringLiteral("is now") : QStringLiteral("may now be"),
                                 self->asidePath());
                    VNLog::log(QStringLiteral("QNSourceSetAside: %1 %2").arg(self->name(), text));
                    done(text);
                }));
        }));
}

void QNSourceSetAside::finish(Answer answer, const QString &message) {
    auto finished = std::move(m_finished);
    m_finished = nullptr;
    m_cancelled = nullptr;
    if (finished)
        finished(answer, message);
}
