#include "Core/QNDocument.h"

QNDocumentPtr QNDocument::withPath(const QString &path, bool isDirectory) {
    auto doc = create();
    doc->setPath(path);
    doc->setIsDirectory(isDirectory);
    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    const int slash = name.lastIndexOf(QLatin1Char('/'));
    doc->setDisplayName(slash >= 0 && name.size() > 1 ? name.mid(slash + 1) : name);
    return doc;
}

bool QNDocument::isEqualTo(const QNDocument &other) const {
    if (&other == this)
        return true;
    const QString otherDrive = other.driveConfigId();
    if (otherDrive.isNull() || otherDrive != driveConfigId())
        return false;
    if (const auto object = fileObject()) {
        const auto otherObject = other.fileObject();
        return otherObject && object->isEqualTo(*otherObject);
    }
    const QString ownId = id();
    if (!ownId.isNull()) {
        if (other.id() != ownId || other.id().isNull())
            return false;
        if (isNote() && isDirectory()) {
            const QString ownPath = path();
            return !ownPath.isNull() && other.path() == ownPath;
        }
        return true;
    }
    const QString ownPath = path();
    const QString otherPath = other.path();
    return !ownPath.isNull() && !otherPath.isNull() && ownPath == otherPath;
}
