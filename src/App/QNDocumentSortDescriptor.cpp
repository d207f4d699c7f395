#include "App/QNDocumentSortDescriptor.h"

#include <algorithm>

namespace {

template <typename T>
int threeWay(const T &a, const T &b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

int QNDocumentSortDescriptor::compare(const QNDocument &a, const QNDocument &b) const {
    int result = 0;
    if (key == QLatin1String("isDirectory")) {
        result = threeWay(int(a.isDirectory()), int(b.isDirectory()));
    } else if (key == QLatin1String("displayName")) {
        // A missing name sorts first, as an absent value does.
        const QString x = a.displayName(), y = b.displayName();
        if (x.isNull() || y.isNull())
            result = threeWay(int(!x.isNull()), int(!y.isNull()));
        else
            result = x.compare(y);
    } else if (key == QLatin1String("date")) {
        const QDateTime x = a.date(), y = b.date();
        if (!x.isValid() || !y.isValid())
            result = threeWay(int(x.isValid()), int(y.isValid()));
        else
            result = threeWay(x.toMSecsSinceEpoch(), y.toMSecsSinceEpoch());
    } else if (key == QLatin1String("size")) {
        result = threeWay(a.size(), b.size());
    }
    return ascending ? result : -result;
}

QNDocumentList QNDocumentSortDescriptor::sorted(QNDocumentList documents,
                                                const QList<QNDocumentSortDescriptor> &descriptors) {
    if (descriptors.isEmpty())
        return documents;
    std::stable_sort(documents.begin(), documents.end(), [&](const QNDocumentPtr &a, const QNDocumentPtr &b) {
        if (!a || !b)
            return bool(b) && !a;
        for (const QNDocumentSortDescriptor &d : descriptors) {
            const int c = d.compare(*a, *b);
            if (c != 0)
                return c < 0;
        }
        return false;
    });
    return documents;
}
