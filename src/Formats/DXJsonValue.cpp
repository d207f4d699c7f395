#include "Formats/DXJsonValue.h"

DXJsonValue::DXJsonValue(const DXJsonArray &value) : m_data(std::make_unique<DXJsonArray>(value)) {}
DXJsonValue::DXJsonValue(DXJsonArray &&value) : m_data(std::make_unique<DXJsonArray>(std::move(value))) {}
DXJsonValue::DXJsonValue(const DXJsonObject &value) : m_data(std::make_unique<DXJsonObject>(value)) {}
DXJsonValue::DXJsonValue(DXJsonObject &&value) : m_data(std::make_unique<DXJsonObject>(std::move(value))) {}

DXJsonValue::~DXJsonValue() = default;

DXJsonValue::DXJsonValue(const DXJsonValue &other) { *this = other; }

DXJsonValue &DXJsonValue::operator=(const DXJsonValue &other) {
    if (this == &other)
        return *this;
    switch (other.type()) {
    case Type::Array:
        m_data = std::make_unique<DXJsonArray>(*std::get<std::unique_ptr<DXJsonArray>>(other.m_data));
        break;
    case Type::Object:
        m_data = std::make_unique<DXJsonObject>(*std::get<std::unique_ptr<DXJsonObject>>(other.m_data));
        break;
    case Type::Undefined:
        m_data = std::monostate();
        break;
    case Type::Null:
        m_data = nullptr;
        break;
    case Type::Bool:
        m_data = std::get<bool>(other.m_data);
        break;
    case Type::Number:
        m_data = std::get<DXDecimal>(other.m_data);
        break;
    case Type::String:
        m_data = std::get<QString>(other.m_data);
        break;
    }
    return *this;
}

const DXJsonValue &DXJsonValue::undefined() {
    static const DXJsonValue none;
    return none;
}

bool DXJsonValue::toBool(bool defaultValue) const {
    switch (type()) {
    case Type::Bool:
        return std::get<bool>(m_data);
    case Type::Number:
        return !std::get<DXDecimal>(m_data).isZero();
    case Type::String: {
        const QString &s = std::get<QString>(m_data);
        if (s == QLatin1String("true") || s == QLatin1String("1"))
            return true;
        if (s == QLatin1String("false") || s == QLatin1String("0"))
            return false;
        return defaultValue;
    }
    default:
        return defaultValue;
    }
}

std::optional<DXDecimal> DXJsonValue::decimalIf() const {
    if (const DXDecimal *d = numberIf())
        return *d;
    if (const QString *s = stringIf())
        return DXDecimal::fromString(s->trimmed());
    return std::nullopt;
}

DXDecimal DXJsonValue::toDecimal() const {
    return decimalIf().value_or(DXDecimal());
}

qint64 DXJsonValue::toInt64(qint64 defaultValue) const {
    const std::optional<DXDecimal> d = decimalIf();
    bool ok = false;
    const qint64 v = d ? d->toInt64(&ok) : 0;
    return ok ? v : defaultValue;
}

quint64 DXJsonValue::toUInt64(quint64 defaultValue) const {
    const std::optional<DXDecimal> d = decimalIf();
    bool ok = false;
    const quint64 v = d ? d->toUInt64(&ok) : 0;
    return ok ? v : defaultValue;
}

int DXJsonValue::toInt(int defaultValue) const {
    const std::optional<DXDecimal> d = decimalIf();
    bool ok = false;
    const int v = d ? d->toInt(&ok) : 0;
    return ok ? v : defaultValue;
}

double DXJsonValue::toDouble(double defaultValue) const {
    const std::optional<DXDecimal> d = decimalIf();
    return d ? d->toDouble() : defaultValue;
}

QString DXJsonValue::toString(const QString &defaultValue) const {
    switch (type()) {
    case Type::String:
        return std::get<QString>(m_data);
    case Type::Number:
        return std::get<DXDecimal>(m_data).toString();
    case Type::Bool:
        return std::get<bool>(m_data) ? QStringLiteral("true") : QStringLiteral("false");
    default:
        return defaultValue;
    }
}

const DXJsonArray &DXJsonValue::toArray() const {
    static const DXJsonArray empty;
    if (auto *p = std::get_if<std::unique_ptr<DXJsonArray>>(&m_data))
        return **p;
    return empty;
}

const DXJsonObject &DXJsonValue::toObject() const {
    static const DXJsonObject empty;
    if (auto *p = std::get_if<std::unique_ptr<DXJsonObject>>(&m_data))
        return **p;
    return empty;
}

DXJsonArray *DXJsonValue::array() {
    auto *p = std::get_if<std::unique_ptr<DXJsonArray>>(&m_data);
    return p ? p->get() : nullptr;
}

DXJsonObject *DXJsonValue::object() {
    auto *p = std::get_if<std::unique_ptr<DXJsonObject>>(&m_data);
    return p ? p->get() : nullptr;
}

const DXJsonValue &DXJsonValue::operator[](const QString &key) const {
    if (auto *p = std::get_if<std::unique_ptr<DXJsonObject>>(&m_data))
        return (*p)->value(key);
    return undefined();
}

const DXJsonValue &DXJsonValue::operator[](qsizetype index) const {
    if (auto *p = std::get_if<std::unique_ptr<DXJsonArray>>(&m_data))
        return (*p)->valueAt(index);
    return undefined();
}

bool DXJsonValue::contains(const QString &key) const {
    if (auto *p = std::get_if<std::unique_ptr<DXJsonObject>>(&m_data))
        return (*p)->contains(key);
    return false;
}

qsizetype DXJsonValue::size() const {
    if (auto *p = std::get_if<std::unique_ptr<DXJsonArray>>(&m_data))
        return (*p)->size();
    if (auto *p = std::get_if<std::unique_ptr<DXJsonObject>>(&m_data))
        return (*p)->size();
    return 0;
}

bool operator==(const DXJsonValue &a, const DXJsonValue &b) {
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
    case DXJsonValue::Type::Undefined:
    case DXJsonValue::Type::Null:
        return true;
    case DXJsonValue::Type::Bool:
        return a.boolValue() == b.boolValue();
    case DXJsonValue::Type::Number:
        return *a.numberIf() == *b.numberIf();
    case DXJsonValue::Type::String:
        return *a.stringIf() == *b.stringIf();
    case DXJsonValue::Type::Array:
        return a.toArray() == b.toArray();
    case DXJsonValue::Type::Object:
        return a.toObject() == b.toObject();
    }
    return false;
}
