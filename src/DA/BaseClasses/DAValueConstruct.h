#pragma once

#include "DA/BaseClasses/DAObject.h"

// One value, held in the attribute named by attributeName() ("value"), or,
// for element constructs, as the element's text. Typed accessors convert
// the stored text on every call.
class DAValueConstruct : public DAObject {
    DA_CLASS(DAValueConstruct)
public:
    // A new object of the class holding the value (null for a null text).
    static DAObjectPtr valueWithString(DAClass cls, const QString &value);
    // The number's text form: decimal for integers, "1" or "0" for a bool,
    // a double as setDoubleValue() writes it; null for an invalid value.
    static DAObjectPtr valueWithNumber(DAClass cls, const QVariant &number);
    static DAObjectPtr valueWithInt(DAClass cls, int value) { return valueWithLongLong(cls, value); }
    static DAObjectPtr valueWithLongLong(DAClass cls, qint64 value);
    static DAObjectPtr valueWithDouble(DAClass cls, double value);
    static DAObjectPtr valueWithBool(DAClass cls, bool value);
    static DAObjectPtr valueWithDateTime(DAClass cls, const DADateTimePtr &value);
    template <typename T>
    static std::shared_ptr<T> valueWithString(const QString &value) {
        return std::static_pointer_cast<T>(valueWithString(T::staticClass(), value));
    }

    // Null: the value is the element's text.
    virtual QString attributeName() const { return QStringLiteral("value"); }
    virtual QString stringValue() const;
    virtual void setStringValue(const QString &value);

    // Leading integer of the text (0 when there is none).
    int intValue() const;
    std::optional<int> intNumberValue() const;
    void setIntValue(int value) { setStringValue(QString::number(value)); }
    qint64 longLongValue() const;
    std::optional<qint64> longLongNumberValue() const;
    void setLongLongValue(qint64 value) { setStringValue(QString::number(value)); }
    // Always a number: 0 when the text is no number ("INF" and "-INF" are
    // the infinities).
    std::optional<double> doubleNumberValue() const;
    double doubleValue() const;
    void setDoubleValue(double value);
    // True only for "true" in any case.
    bool boolValue() const;
    // Always a value: an absent text reads false.
    std::optional<bool> boolNumberValue() const { return boolValue(); }
    void setBoolValue(bool value) { setStringValue(value ? QStringLiteral("true") : QStringLiteral("false")); }
    DADateTimePtr dateTimeValue() const;
    void setDateTimeValue(const DADateTimePtr &value) { setStringValue(value ? value->RFC3339String() : QString()); }

    void addParseDeclarations() override;
};
using DAValueConstructPtr = std::shared_ptr<DAValueConstruct>;

// The value is the element's text.
class DAValueElementConstruct : public DAValueConstruct {
    DA_CLASS(DAValueElementConstruct)
public:
    QString attributeName() const override { return QString(); }
};

// An element whose presence is the value.
class DAImplicitValueConstruct : public DAValueElementConstruct {
    DA_CLASS(DAImplicitValueConstruct)
public:
    // A new object of the class: written as an empty element.
    static DAObjectPtr implicitValue(DAClass cls) { return objectOfClass(cls); }
    template <typename T>
    static std::shared_ptr<T> implicitValue() {
        return std::static_pointer_cast<T>(implicitValue(T::staticClass()));
    }
    // Text found in a parsed element is kept and written back, but the
    // value is the element's presence alone.
    QString stringValue() const override { return QString(); }
};

// A value attribute plus a "name" attribute.
class DANameValueConstruct : public DAValueConstruct {
    DA_CLASS(DANameValueConstruct)
public:
    // A new object of the class with the name and the value; null when
    // both are null.
    static DAObjectPtr valueWithName(DAClass cls, const QString &name, const QString &value);
    // Null: the class has no name attribute (name() and setName() then do nothing).
    virtual QString nameAttributeName() const { return QStringLiteral("name"); }
    QString name() const;
    void setName(const QString &name);
    void addParseDeclarations() override;
};

// A value construct made from a bool ("true" or "false").
class DABoolValueConstruct : public DAValueConstruct {
    DA_CLASS(DABoolValueConstruct)
public:
    static DAObjectPtr boolValueWithBool(DAClass cls, bool value) { return valueWithBool(cls, value); }
};

// Declares a value-element class that only names its element.
#define DA_DECLARE_ELEMENT(Name, Base)                                                                                \
    class Name : public Base {                                                                                        \
        DA_CLASS(Name)                                                                                                \
    };
