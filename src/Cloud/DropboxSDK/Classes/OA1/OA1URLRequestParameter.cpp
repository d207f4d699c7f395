#include "OA1URLRequestParameter.h"

#include <QStringDecoder>
#include <QStringList>
#include <algorithm>

namespace {

// Percent escapes replaced as UTF-8; the text as it was when they are not UTF-8.
QString unescape(const QString &text) {
    if (!text.contains(QLatin1Char('%')))
        return text;
    const QByteArray bytes = QByteArray::fromPercentEncoding(text.toUtf8());
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    return decoder.hasError() ? text : decoded;
}

}  // namespace

QString OA1URLRequestParameter::encode(const QString &text) {
    return QString::fromLatin1(text.toUtf8().toPercentEncoding());
}

QString OA1URLRequestParameter::encodedNameValuePair() const {
    return encode(m_name) + QLatin1Char('=') + encode(m_value);
}

// Form encoding (token replies, callback queries): names and values both
// percent-unescaped, "+" standing for a blank; a later pair replaces an
// earlier one of the same name.
QMap<QString, QString> OA1URLRequestParameter::parameterDictionaryFromString(const QString &query) {
    QMap<QString, QString> dictionary;
    for (const OA1URLRequestParameter &p : parametersFromString(query))
        dictionary.insert(p.name(), p.value());
    return dictionary;
}

QList<OA1URLRequestParameter> OA1URLRequestParameter::parametersFromString(const QString &query) {
    QList<OA1URLRequestParameter> parameters;
    if (query.isEmpty())
        return parameters;
    for (const QString &pair : query.split(QLatin1Char('&'))) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? pair : pair.left(equals);
        const QString value = equals < 0 ? QString(QLatin1String("")) : pair.mid(equals + 1);
        parameters.append({unescape(QString(name).replace(QLatin1Char('+'), QLatin1Char(' '))),
                           unescape(QString(value).replace(QLatin1Char('+'), QLatin1Char(' ')))});
    }
    return parameters;
}

QString OA1URLRequestParameter::normalizedParameterString(const QList<OA1URLRequestParameter> &parameters) {
    QList<std::pair<QString, QString>> encoded;
    encoded.reserve(parameters.size());
    for (const auto &p : parameters)
        encoded.append({encode(p.name()), encode(p.value())});
    std::sort(encoded.begin(), encoded.end());
    QStringList pairs;
    pairs.reserve(encoded.size());
    for (const auto &[name, value] : encoded)
        pairs << name + QLatin1Char('=') + value;
    return pairs.join(QLatin1Char('&'));
}
