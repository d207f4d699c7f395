#include "DA/BaseClasses/DAValueConstruct.h"

#include "DA/BaseClasses/DAUtilities.h"

#include <QLocale>

DA_DEFINE_CLASS(DAValueConstruct, DAObject)
DA_DEFINE_CLASS(DAValueElementConstruct, DAValueConstruct)
DA_DEFINE_CLASS(DAImplicitValueConstruct, DAValueElementConstruct)
DA_DEFINE_CLASS(DANameValueConstruct, DAValueConstruct)
DA_DEFINE_CLASS(DABoolValueConstruct, DAValueConstruct)

DAObjectPtr DAValueConstruct::valueWithString(DAClass cls, const QString &value) {
    if (value.isNull())
        return nullptr;
    auto object = std::dynamic_pointer_cast<DAValueConstruct>(objectOfClass(cls));
    if (object)
        object->setStringValue(value);
    return object;
}

DAObjectPtr DAValueConstruct::valueWithLongLong(DAClass cls, qint64 value) {
    return valueWithString(cls, QString::number(value));
}

DAObjectPtr DAValueConstruct::valueWithNumber(DAClass cls, const QVariant &number) {
    if (!number.isValid() || number.isNull())
        return nullptr;
    switch (number.typeId()) {
    case QMetaType::Bool:
        return valueWithString(cls, number.toBool() ? QStringLiteral("1") : QStringLiteral("0"));
    case QMetaType::Double:
    case QMetaType::Float:
        return valueWithDouble(cls, number.toDouble());
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UInt:
        return valueWithString(cls, QString::number(number.toULongLong()));
    default: {
        bool ok = false;
        const qint64 v = number.toLongLong(&ok);
        return ok ? valueWithLongLong(cls, v) : nullptr;
    }
    }
}

DAObjectPtr DAValueConstruct::valueWithDouble(DAClass cls, double value) {
    auto object = std::dynamic_pointer_cast<DAValueConstruct>(objectOfClass(cls));
    if (object)
        object->setDoubleValue(value);
    return object;
}

DAObjectPtr DAValueConstruct::valueWithBool(DAClass cls, bool value) {
    return valueWithString(cls, value ? QStringLiteral("true") : QStringLiteral("false"));
}

DAObjectPtr DAValueConstruct::valueWithDateTime(DAClass cls, const DADateTimePtr &value) {
    return value ? valueWithString(cls, value->RFC3339String()) : nullptr;
}

void DAValueConstruct::addParseDeclarations() {
    const QString name = attributeName();
    if (name.isNull())
        addContentValueDeclaration();
    else
        addLocalAttributeDeclarations({name});
}

QString DAValueConstruct::stringValue() const {
    const QString name = attributeName();
    return name.isNull() ? contentStringValue() : stringValueForAttribute(name);
}

void DAValueConstruct::setStringValue(const QString &value) {
    const QString name = attributeName();
    if (name.isNull())
        setContentStringValue(value);
    else
        DAObject::setStringValue(value, name);
}

namespace {

std::optional<qint64> leading(const QString &text) {
    if (text.isNull())
        return std::nullopt;
    return DAUtilities::longLongValueForString(text);
}

}  // namespace

int DAValueConstruct::intValue() const { return DAUtilities::intValueForString(stringValue()); }

std::optional<int> DAValueConstruct::intNumberValue() const {
    const QString text = stringValue();
    if (text.isEmpty())
        return std::nullopt;
    return DAUtilities::intValueForString(text);
}

qint64 DAValueConstruct::longLongValue() const { return leading(stringValue()).value_or(0); }

std::optional<qint64> DAValueConstruct::longLongNumberValue() const {
    const QString text = stringValue();
    if (text.isEmpty())
        return std::nullopt;
    return leading(text);
}

std::optional<double> DAValueConstruct::doubleNumberValue() const {
    return DAUtilities::doubleNumberOrInfForString(stringValue()).value_or(0.0);
}

double DAValueConstruct::doubleValue() const { return *doubleNumberValue(); }

void DAValueConstruct::setDoubleValue(double value) {
    if (std::isinf(value))
        setStringValue(value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF"));
    else
        // The shortest text that reads back as the same number: 0.1 is
        // written "0.1", not "0.10000000000000001".
        setStringValue(QString::number(value, 'g', QLocale::FloatingPointShortest));
}

bool DAValueConstruct::boolValue() const {
    return stringValue().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

DADateTimePtr DAValueConstruct::dateTimeValue() const {
    const QString text = stringValue();
    return text.isEmpty() ? nullptr : DADateTime::dateTimeWithRFC3339String(text);
}

DAObjectPtr DANameValueConstruct::valueWithName(DAClass cls, const QString &name, const QString &value) {
    if (name.isNull() && value.isNull())
        return nullptr;
    auto object = std::dynamic_pointer_cast<DANameValueConstruct>(objectOfClass(cls));
    if (object) {
        object->setName(name);
        object->setStringValue(value);
    }
    return object;
}

QString DANameValueConstruct::name() const {
    const QString attribute = nameAttributeName();
    return attribute.isNull() ? QString() : stringValueForAttribute(attribute);
}

void DANameValueConstruct::setName(const QString &name) {
    const QString attribute = nameAttributeName();
    if (!attribute.isNull())
        DAObject::setStringValue(name, attribute);
}

void DANameValueConstruct::addParseDeclarations() {
    DAValueConstruct::addParseDeclarations();
    if (!nameAttributeName().isNull())
        addLocalAttributeDeclarations({nameAttributeName()});
}
