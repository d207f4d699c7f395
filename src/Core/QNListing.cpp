#include "Core/QNListing.h"

#include "Core/QNUtils.h"

namespace {

// The name an entry has in its folder: the last part of its path, as the
// drive names it (the shown name only where it gives no path).
QString entryName(const QNDocument &document) {
    return document.path().isEmpty() ? document.displayName()
                                     : QNUtils::withoutTrailingSlashes(document.path()).section(QLatin1Char('/'), -1);
}

}  // namespace

QNListing::QNListing(QNDocumentList documents) {
    m_byName.reserve(documents.size());
    for (const auto &document : documents) {
        if (!document)
            continue;
        const QString name = entryName(*document);
        const QString folded = name.toCaseFolded();
        if (!m_byName.contains(name))
            m_byName.insert(name, document);
        if (!m_byFoldedName.contains(folded))
            m_byFoldedName.insert(folded, document);
        if (document->isDirectory() && !m_foldersByFolded.contains(folded))
            m_foldersByFolded.insert(folded, document);
    }
}

QNDocumentPtr QNListing::namesake(const QString &name) const {
    if (const auto exact = m_byName.value(name))
        return exact;
    return m_byFoldedName.value(name.toCaseFolded());
}

QNDocumentPtr QNListing::folderInTheWay(const QString &name) const {
    if (const auto exact = m_byName.value(name))
        return exact->isDirectory() ? exact : nullptr;
    return m_foldersByFolded.value(name.toCaseFolded());
}
