#pragma once

#include "Core/QNDocument.h"

#include <QList>
#include <QString>

// One sort key of the file pane ("isDirectory", "displayName", "date" or
// "size") with its direction; a list of them sorts documents by the first
// key, ties by the next, and so on. The sort is stable.
struct QNDocumentSortDescriptor {
    QString key;
    bool ascending = true;

    bool operator==(const QNDocumentSortDescriptor &other) const {
        return key == other.key && ascending == other.ascending;
    }

    // Negative, 0 or positive as a sorts before, with or after b under this key.
    int compare(const QNDocument &a, const QNDocument &b) const;

    static QNDocumentList sorted(QNDocumentList documents, const QList<QNDocumentSortDescriptor> &descriptors);
};
