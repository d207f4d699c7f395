#include "Formats/DXJsonWriter.h"

#include <algorithm>
#include <charconv>

QString DXJsonWriter::stringWithObject(const DXJsonValue &value) {
    const QByteArray bytes = dataWithObject(value);
    return bytes.isNull() ? QString() : QString::fromUtf8(bytes);
}

QString DXJsonWriter::stringWithFragment(const DXJsonValue &value) {
    const QByteArray bytes = dataWithFragment(value);
    return bytes.isNull() ? QString() : QString::fromUtf8(bytes);
}

QByteArray DXJsonWriter::dataWithObject(const DXJsonValue &value) {
    if (value.isArray() || value.isObject())
        return dataWithFragment(value);
    clearErrorTrace();
    addError(4, QStringLiteral("Not valid type for JSON"));
    return QByteArray();
}

QByteArray DXJsonWriter::dataWithFragment(const DXJsonValue &value) {
    clearErrorTrace();
    m_depth = 0;
    QByteArray out;
    out.reserve(128);
    if (!appendValue(value, out))
        return QByteArray();
    if (out.isNull())
        out = QByteArray("");
    return out;
}

void DXJsonWriter::appendIndent(QByteArray &out) const {
    out += '\n';
    out.append(qsizetype(m_depth) * 2, ' ');
}

bool DXJsonWriter::appendValue(const DXJsonValue &value, QByteArray &out) {
    switch (value.type()) {
    case DXJsonValue::Type::Object:
        return appendObject(value.toObject(), out);
    case DXJsonValue::Type::Array:
        return appendArray(value.toArray(), out);
    case DXJsonValue::Type::String:
        appendString(*value.stringIf(), out);
        return true;
    case DXJsonValue::Type::Number: {
        const DXDecimal &number = *value.numberIf();
        if (!number.isFinite()) {
            // NaN and the infinities have no JSON form.
            addError(1, QStringLiteral("JSON serialisation not supported for %1").arg(number.toString()));
            return false;
        }
        number.appendTo(out);
        return true;
    }
    case DXJsonValue::Type::Bool:
        out += value.boolValue() ? "true" : "false";
        return true;
    case DXJsonValue::Type::Null:
        out += "null";
        return true;
    case DXJsonValue::Type::Undefined:
        break;
    }
    addError(1, QStringLiteral("JSON serialisation not supported for %1").arg(QStringLiteral("an undefined value")));
    return false;
}

bool DXJsonWriter::appendArray(const DXJsonArray &array, QByteArray &out) {
    if (!enterContainer())
        return false;
    out += '[';
    bool first = true;
    for (const DXJsonValue &element : array) {
        if (!first)
            out += ',';
        first = false;
        if (m_humanReadable)
            appendIndent(out);
        if (!appendValue(element, out))
            return false;
    }
    leaveContainer();
    if (m_humanReadable && !array.isEmpty())
        appendIndent(out);
    out += ']';
    return true;
}

bool DXJsonWriter::appendObject(const DXJsonObject &object, QByteArray &out) {
    if (!enterContainer())
        return false;
    out += '{';
    const char *separator = m_humanReadable ? " : " : ":";
    QList<const DXJsonObject::Member *> members;
    members.reserve(object.size());
    for (const DXJsonObject::Member &m : object)
        members.append(&m);
    if (m_sortKeys)
        std::stable_sort(members.begin(), members.end(),
                         [](const DXJsonObject::Member *a, const DXJsonObject::Member *b) {
                             return QString::compare(a->key, b->key, Qt::CaseSensitive) < 0;
                         });
    bool first = true;
    for (const DXJsonObject::Member *m : members) {
        if (!first)
            out += ',';
        first = false;
        if (m_humanReadable)
            appendIndent(out);
        if (m->key.isNull()) {
            addError(1, QStringLiteral("JSON object key must be string"));
            return false;
        }
        appendString(m->key, out);
        out += separator;
        if (!appendValue(m->value, out)) {
            addError(1, QStringLiteral("Unsupported value for key %1 in object").arg(m->key));
            return false;
        }
    }
    leaveContainer();
    if (m_humanReadable && !object.isEmpty())
        appendIndent(out);
    out += '}';
    return true;
}

void DXJsonWriter::appendString(const QString &text, QByteArray &out) {
    // Encodes UTF-16 to UTF-8 and escapes in one pass, straight into out.
    const qsizetype n = text.size();
    const qsizetype start = out.size();
    out.resize(start + n * 6 + 2);  // the most any unit can take ("\u001f")
    char *w = out.data() + start;
    *w++ = '"';
    const char16_t *s = reinterpret_cast<const char16_t *>(text.constData());
    static const char hex[] = "0123456789abcdef";
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = s[i];
        if (u < 0x80) {
            if (u >= 0x20 && u != '"' && u != '\\') {
                *w++ = char(u);
                continue;
            }
            *w++ = '\\';
            switch (u) {
            case '"': *w++ = '"'; break;
            case '\\': *w++ = '\\'; break;
            case 0x08: *w++ = 'b'; break;
            case 0x09: *w++ = 't'; break;
            case 0x0a: *w++ = 'n'; break;
            case 0x0c: *w++ = 'f'; break;
            case 0x0d: *w++ = 'r'; break;
            default:
                *w++ = 'u';
                *w++ = '0';
                *w++ = '0';
                *w++ = hex[(u >> 4) & 0xf];
                *w++ = hex[u & 0xf];
                break;
            }
        } else if (u < 0x800) {
            *w++ = char(0xc0 | (u >> 6));
            *w++ = char(0x80 | (u & 0x3f));
        } else if (u >= 0xd800 && u <= 0xdbff && i + 1 < n && s[i + 1] >= 0xdc00 && s[i + 1] <= 0xdfff) {
            const char32_t cp = 0x10000 + ((char32_t(u) - 0xd800) << 10) + (char32_t(s[i + 1]) - 0xdc00);
            ++i;
            *w++ = char(0xf0 | (cp >> 18));
            *w++ = char(0x80 | ((cp >> 12) & 0x3f));
            *w++ = char(0x80 | ((cp >> 6) & 0x3f));
            *w++ = char(0x80 | (cp & 0x3f));
        } else {
            // A lone surrogate cannot be written as UTF-8: U+FFFD instead.
            const char16_t c = (u >= 0xd800 && u <= 0xdfff) ? char16_t(0xfffd) : u;
            *w++ = char(0xe0 | (c >> 12));
            *w++ = char(0x80 | ((c >> 6) & 0x3f));
            *w++ = char(0x80 | (c & 0x3f));
        }
    }
    *w++ = '"';
    out.resize(w - out.constData());
}
