#include "Platform/VNPartName.h"

#include <QRandomGenerator>

namespace VNPartName {

QString cut(const QString &name, qsizetype maxBytes) {
    QString kept = name;
    while (!kept.isEmpty() && kept.toUtf8().size() > maxBytes) {
        kept.chop(1);
        if (!kept.isEmpty() && kept.back().isHighSurrogate())
            kept.chop(1);
    }
    return kept;
}

QString hidden(const QString &fileName, const QString &suffix) {
    return QLatin1Char('.') + cut(fileName, kMaxNameBytes - 1 - suffix.toUtf8().size()) + suffix;
}

QString beside(const QString &path, const QString &suffix) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return path.left(slash + 1) + hidden(path.mid(slash + 1), suffix);
}

QString randomSuffix(const QString &tag, int hexDigits) {
    QString digits;
    while (digits.size() < hexDigits)
        digits += QStringLiteral("%1").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    return QLatin1Char('.') + tag + QLatin1Char('-') + digits.left(hexDigits);
}

}  // namespace VNPartName
