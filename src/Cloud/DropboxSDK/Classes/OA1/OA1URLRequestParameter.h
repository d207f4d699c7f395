#pragma once

#include <QList>
#include <QMap>
#include <QString>

// One name-value pair of an OAuth 1.0 request (a query or form parameter, or
// an oauth_ protocol parameter), with the encoding the signature uses.
class OA1URLRequestParameter {
public:
    OA1URLRequestParameter() = default;
    OA1URLRequestParameter(QString name, QString value) : m_name(std::move(name)), m_value(std::move(value)) {}

    const QString &name() const { return m_name; }
    const QString &value() const { return m_value; }

    // "name=value", both encoded.
    QString encodedNameValuePair() const;

    // Percent-encodes the UTF-8 bytes of the text, leaving only the
    // unreserved characters (letters, digits, "-", ".", "_", "~") as they are.
    static QString encode(const QString &text);

    // The pairs of a query text: pairs separated by "&", each split at its
    // first "=" (a pair without one has the empty value), read as form
    // encoding: name and value percent-unescaped as UTF-8 (kept as sent when
    // the escapes are not UTF-8), "+" a blank; a later pair with the same name replaces
    // the earlier. A null or empty text gives an empty dictionary; a pair
    // with an empty value does not stop the parse.
    static QMap<QString, QString> parameterDictionaryFromString(const QString &query);

    // The same pairs in order, names and values both unescaped, "+" read as
    // a blank (form bodies and queries as the signature sees them).
    static QList<OA1URLRequestParameter> parametersFromString(const QString &query);

    // The normalized parameter string of a signature: every pair encoded,
    // sorted by encoded name then encoded value, joined with "&".
    static QString normalizedParameterString(const QList<OA1URLRequestParameter> &parameters);

private:
    QString m_name;
    QString m_value;
};
