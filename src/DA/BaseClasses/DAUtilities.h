#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// Stateless helpers of the data-API client.
namespace DAUtilities {

// Removes control and format characters (Unicode Cc and Cf) except tab,
// line feed, carriage return and U+0085; vertical tab and form feed go too.
// A null text gives an empty one.
QString stringWithControlsFilteredForString(const QString &text);

// The text's number, read leniently (text that is no number reads as 0);
// "INF" and "-INF" in any case give the infinities; empty for empty text.
std::optional<double> doubleNumberOrInfForString(const QString &text);

// The text's leading integer as a scanner reads one: blanks, an optional
// sign, digits; 0 when there is none. A value beyond 64 bits reads as the
// nearest 64-bit value.
qint64 longLongValueForString(const QString &text);
// The same as a 32-bit integer: "3000000000" reads as the largest int.
int intValueForString(const QString &text);

// Characters not allowed in a URL percent-encoded; reserved ones left.
QString stringByURLEncodingString(const QString &text);
// Everything but ASCII letters, digits, "-", "_", "." and "~" encoded.
QString stringByURLEncodingForURI(const QString &text);
// The same, with spaces written as "+".
QString stringByURLEncodingStringParameter(const QString &text);
// UTF-8 bytes below 0x20, "%" and 0x7F and above as %XX; the rest kept.
QString stringByPercentEncodingUTF8ForString(const QString &text);

// "key=value" lines; lines without "=", key or value are skipped; a later
// key replaces an earlier one.
QMap<QString, QString> dictionaryWithResponseString(const QString &text);
QMap<QString, QString> dictionaryWithResponseData(const QByteArray &data);

// Dotted versions of up to four integers: -1, 0 or 1.
qint64 compareVersion(const QString &a, const QString &b);

// The MIME type the type database gives for the path's extension, else the default.
QString MIMETypeForFileAtPath(const QString &path, const QString &defaultMIMEType);

// Equal or both absent, for shared objects with an isEqual().
template <typename T>
bool areEqualOrBothNil(const std::shared_ptr<T> &a, const std::shared_ptr<T> &b) {
    if (a == b)
        return true;
    return a && b && a->isEqual(*b);
}
inline bool areEqualOrBothNil(const QString &a, const QString &b) {
    if (a.isNull() || b.isNull())
        return a.isNull() == b.isNull();
    return a == b;
}
inline bool areBoolsEqual(bool a, bool b) { return a == b; }

// Items whose value at the key path equals the value (absent equals absent).
template <typename T, typename V>
QList<T> objectsFromArray(const QList<T> &items, const V &value, const std::function<V(const T &)> &keyPath) {
    QList<T> out;
    for (const T &item : items) {
        if (keyPath(item) == value)
            out.append(item);
    }
    return out;
}
template <typename T, typename V>
T firstObjectFromArray(const QList<T> &items, const V &value, const std::function<V(const T &)> &keyPath) {
    for (const T &item : items) {
        if (keyPath(item) == value)
            return item;
    }
    return T();
}

// Deep copies of lists of shared objects with a copy().
template <typename T>
QList<std::shared_ptr<T>> arrayWithCopiesOfObjectsInArray(const QList<std::shared_ptr<T>> &items) {
    QList<std::shared_ptr<T>> out;
    out.reserve(items.size());
    for (const auto &item : items)
        out.append(item ? std::static_pointer_cast<T>(item->copy()) : nullptr);
    return out;
}
// Lists are values here: the "mutable" form is the same list.
template <typename T>
QList<std::shared_ptr<T>> mutableArrayWithCopiesOfObjectsInArray(const QList<std::shared_ptr<T>> &items) {
    return arrayWithCopiesOfObjectsInArray(items);
}

// The same keys with copies of the values.
template <typename K, typename T>
QMap<K, std::shared_ptr<T>> dictionaryWithCopiesOfObjectsInDictionary(const QMap<K, std::shared_ptr<T>> &map) {
    QMap<K, std::shared_ptr<T>> out;
    for (auto it = map.begin(); it != map.end(); ++it)
        out.insert(it.key(), it.value() ? std::static_pointer_cast<T>(it.value()->copy()) : nullptr);
    return out;
}
template <typename K, typename T>
QMap<K, std::shared_ptr<T>> mutableDictionaryWithCopiesOfObjectsInDictionary(const QMap<K, std::shared_ptr<T>> &map) {
    return dictionaryWithCopiesOfObjectsInDictionary(map);
}

// The same keys, each list of values copied item by item.
template <typename K, typename T>
QMap<K, QList<std::shared_ptr<T>>> mutableDictionaryWithCopiesOfArraysInDictionary(const QMap<K, QList<std::shared_ptr<T>>> &map) {
    QMap<K, QList<std::shared_ptr<T>>> out;
    for (auto it = map.begin(); it != map.end(); ++it)
        out.insert(it.key(), arrayWithCopiesOfObjectsInArray(it.value()));
    return out;
}
template <typename K, typename T>
QMap<K, QList<std::shared_ptr<T>>> dictionaryWithCopiesOfArraysInDictionary(const QMap<K, QList<std::shared_ptr<T>>> &map) {
    return mutableDictionaryWithCopiesOfArraysInDictionary(map);
}

}  // namespace DAUtilities
