#pragma once

#include "Core/QNDocument.h"

#include <QHash>
#include <QString>

// A destination folder's listing as a copy looks names up in it: every file
// of a folder of thousands asks it, so each name is one look-up rather than
// a walk over the whole listing.
class QNListing {
public:
    explicit QNListing(QNDocumentList documents);

    // The entry named name, or else one whose name differs from it only in
    // letter case (a server that ignores case refuses the name for it).
    QNDocumentPtr namesake(const QString &name) const;
    // The folder a file of this name would meet: the entry of its exact name
    // when that is a folder, else (when no entry has the name exactly) a
    // folder whose name differs only in case. Null when none.
    QNDocumentPtr folderInTheWay(const QString &name) const;

private:
    QHash<QString, QNDocumentPtr> m_byName;          // the first entry of each name
    QHash<QString, QNDocumentPtr> m_byFoldedName;    // ... of each name without case
    QHash<QString, QNDocumentPtr> m_foldersByFolded;  // the first folder of each name without case
};
