#pragma once

#include "Formats/DXDecimal.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <variant>

class DXJsonArray;
class DXJsonObject;

// One JSON value: null, a boolean, an exact decimal number, a string, an
// array or an object (members kept in insertion order). A default-made value
// is "undefined": it stands for "absent" (a missing key, a failed parse) and
// is told apart from JSON null.
//
// Values copy like values; arrays and objects share their storage until one
// side changes (Qt's implicit sharing), so copies are cheap.
//
// Reading a reply:
//   DXJsonValue reply = JSONValue(bytes);
//   if (reply.isUndefined()) ... failed (logged)
//   for (const DXJsonValue &entry : reply["contents"].toArray())
//       qint64 size = entry["bytes"].toInt64();
//
// Building a body:
//   DXJsonObject body{{"path", path}, {"overwrite", true}};
//   QString text = JSONRepresentation(body);
class DXJsonValue {
public:
    enum class Type : quint8 { Undefined, Null, Bool, Number, String, Array, Object };

    DXJsonValue() = default;  // undefined
    DXJsonValue(std::nullptr_t) : m_data(nullptr) {}
    DXJsonValue(bool value) : m_data(value) {}
    DXJsonValue(int value) : m_data(DXDecimal(value)) {}
    DXJsonValue(unsigned value) : m_data(DXDecimal(value)) {}
    DXJsonValue(long value) : m_data(DXDecimal(value)) {}
    DXJsonValue(unsigned long value) : m_data(DXDecimal(value)) {}
    DXJsonValue(long long value) : m_data(DXDecimal(qint64(value))) {}
    DXJsonValue(unsigned long long value) : m_data(DXDecimal(quint64(value))) {}
    DXJsonValue(double value) : m_data(DXDecimal::fromDouble(value)) {}
    DXJsonValue(const DXDecimal &value) : m_data(value) {}
    DXJsonValue(const QString &value) : m_data(value) {}
    DXJsonValue(QString &&value) : m_data(std::move(value)) {}
    DXJsonValue(const char *utf8) : m_data(QString::fromUtf8(utf8)) {}
    DXJsonValue(QLatin1StringView value) : m_data(QString(value)) {}
    DXJsonValue(const DXJsonArray &value);
    DXJsonValue(DXJsonArray &&value);
    DXJsonValue(const DXJsonObject &value);
    DXJsonValue(DXJsonObject &&value);

    DXJsonValue(const DXJsonValue &other);
    DXJsonValue(DXJsonValue &&other) noexcept = default;
    DXJsonValue &operator=(const DXJsonValue &other);
    DXJsonValue &operator=(DXJsonValue &&other) noexcept = default;
    ~DXJsonValue();

    static DXJsonValue null() { return DXJsonValue(nullptr); }
    // A shared undefined value (what lookups give for "absent").
    static const DXJsonValue &undefined();

    Type type() const { return Type(m_data.index()); }
    bool isUndefined() const { return type() == Type::Undefined; }
    bool isValid() const { return !isUndefined(); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isNumber() const { return type() == Type::Number; }
    bool isString() const { return type() == Type::String; }
    bool isArray() const { return type() == Type::Array; }
    bool isObject() const { return type() == Type::Object; }

    // Booleans as they are; numbers: non-zero is true; strings "true"/"1"
    // and "false"/"0"; anything else gives the default.
    bool toBool(bool defaultValue = false) const;
    // Numbers, and strings holding a number literal ("123" as some services
    // send sizes); anything else gives the default. Fractions are truncated
    // toward zero; values out of range give the default.
    qint64 toInt64(qint64 defaultValue = 0) const;
    quint64 toUInt64(quint64 defaultValue = 0) const;
    int toInt(int defaultValue = 0) const;
    double toDouble(double defaultValue = 0) const;
    // The exact number (numbers, and strings holding a literal); else zero.
    DXDecimal toDecimal() const;
    // Strings as they are; numbers as their decimal text; booleans as
    // "true"/"false"; anything else gives the default (null by default).
    QString toString(const QString &defaultValue = QString()) const;

    // The array or object, or a shared empty one for other kinds.
    const DXJsonArray &toArray() const;
    const DXJsonObject &toObject() const;
    // Mutable access; null when the value is not of that kind.
    DXJsonArray *array();
    DXJsonObject *object();

    // Member of an object / element of an array; undefined when absent or
    // when the value is not an object / array.
    const DXJsonValue &operator[](const QString &key) const;
    const DXJsonValue &operator[](qsizetype index) const;
    const DXJsonValue &value(const QString &key) const { return (*this)[key]; }
    const DXJsonValue &at(qsizetype index) const { return (*this)[index]; }
    bool contains(const QString &key) const;
    // Elements of an array / members of an object; 0 for other kinds.
    qsizetype size() const;

    // Deep equality (object member order does not matter).
    friend bool operator==(const DXJsonValue &a, const DXJsonValue &b);
    friend bool operator!=(const DXJsonValue &a, const DXJsonValue &b) { return !(a == b); }

    // For the parser and writer.
    const DXDecimal *numberIf() const { return std::get_if<DXDecimal>(&m_data); }
    const QString *stringIf() const { return std::get_if<QString>(&m_data); }
    bool boolValue() const { return std::get<bool>(m_data); }

private:
    // The number, or the number a string holds; empty for anything else.
    std::optional<DXDecimal> decimalIf() const;

    std::variant<std::monostate, std::nullptr_t, bool, DXDecimal, QString, std::unique_ptr<DXJsonArray>,
                 std::unique_ptr<DXJsonObject>>
        m_data;
};

Q_DECLARE_TYPEINFO(DXJsonValue, Q_RELOCATABLE_TYPE);

#include "Formats/DXJsonArray.h"
#include "Formats/DXJsonObject.h"
