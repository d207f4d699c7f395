#include "Formats/DXJsonParser.h"

#include <bit>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Bytes that end a run of ordinary string content: the quote, the backslash
// and the control bytes.
struct StopTable {
    bool stop[256];
    constexpr StopTable() : stop() {
        for (int i = 0; i < 0x20; ++i)
            stop[i] = true;
        stop[int('"')] = true;
        stop[int('\\')] = true;
    }
};
constexpr StopTable kStops;

// What the escape "\x" stands for, by x, for the short-text reader: 'u' for
// \u (read on), 0 for no escape.
struct ShortEscapeTable {
    char to[256];
    constexpr ShortEscapeTable() : to() {
        to[int('"')] = '"';
        to[int('\\')] = '\\';
        to[int('/')] = '/';
        to[int('b')] = '\b';
        to[int('f')] = '\f';
        to[int('n')] = '\n';
        to[int('r')] = '\r';
        to[int('t')] = '\t';
        to[int('u')] = 'u';
    }
    constexpr char operator[](unsigned char c) const { return to[c]; }
};
constexpr ShortEscapeTable kShortEscapes;

inline int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

inline bool isJsonSpace(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0d); }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The stop bytes of an 8-byte word (little-endian): the high bit of each
// byte that may be one. The lowest marked byte is exact (later marks can be
// false, from a borrow), so its position is that of the first stop byte.
inline quint64 stopMask(quint64 w) {
    constexpr quint64 ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    const quint64 control = (w - ones * 0x20) & ~w & highs;
    const quint64 q = w ^ (ones * 0x22), b = w ^ (ones * 0x5c);
    const quint64 quote = (q - ones) & ~q & highs;
    const quint64 backslash = (b - ones) & ~b & highs;
    return control | quote | backslash;
}

inline quint64 load64(const char *p) {
    quint64 w;
    std::memcpy(&w, p, 8);
    return w;
}

// The first n (< 8) bytes at p as a word, zeros above; `readable` says how
// many bytes may be read from p.
inline quint64 loadShort(const char *p, qsizetype n, qsizetype readable) {
    if (n == 0)
        return 0;
    if (readable >= 8)
        return load64(p) & (~0ULL >> (64 - 8 * n));
    quint64 w = 0;
    for (qsizetype i = 0; i < n; ++i)
        w |= quint64(quint8(p[i])) << (8 * i);
    return w;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isValidUtf8(const unsigned char *p, qsizetype n) {
    const unsigned char *end = p + n;
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned min;
        unsigned cp;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1, min = 0x80, cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2, min = 0x800, cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3f);
        }
        if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        p += extra + 1;
    }
    return true;
}

// The hash of a text: over its bytes, eight at a time, when it is ASCII;
// over its UTF-16 units otherwise. An ASCII text hashes alike however it was
// read (a non-ASCII one never equals an ASCII one, so the two kinds need not
// agree). `readable` says how many bytes may be read from p (at least n).
inline quint32 hashAscii(const char *p, qsizetype n, qsizetype readable) {
    constexpr quint64 k = 0x9e3779b97f4a7c15ULL;
    quint64 h = quint64(n) * k;
    qsizetype i = 0;
    for (; n - i >= 8; i += 8)
        h = (h ^ load64(p + i)) * k, h ^= h >> 29;
    if (i < n)
        h = (h ^ loadShort(p + i, n - i, readable - i)) * k, h ^= h >> 29;
    h *= k;
    return quint32(h >> 32);
}

quint32 hashText(QStringView text) {
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii) {
        const QByteArray bytes = text.toLatin1();
        return hashAscii(bytes.constData(), bytes.size(), bytes.size());
    }
    quint32 h = 2166136261u;
    for (QChar c : text)
        h = (h ^ c.unicode()) * 16777619u;
    return h;
}

// Are the n bytes at a and b the same? For the short texts of the cache.
inline bool sameShortBytes(const char *a, const char *b, qsizetype n) {
    if (n < 8) {
        for (qsizetype i = 0; i < n; ++i)
            if (a[i] != b[i])
                return false;
        return true;
    }
    quint64 diff = load64(a + n - 8) ^ load64(b + n - 8);
    for (qsizetype i = 0; i + 8 < n; i += 8)
        diff |= load64(a + i) ^ load64(b + i);
    return diff == 0;
}

}  // namespace

DXJsonParser::DXJsonParser() = default;

void DXJsonParser::reportEndInString() { addError(5, QStringLiteral("Unescaped control character '0x0'")); }

void DXJsonParser::reportEndInEscape() { addError(8, QStringLiteral("Illegal escape sequence '0x0'")); }

DXJsonValue DXJsonParser::fragmentWithString(const QString &text) {
    clearErrorTrace();
    if (text.isNull()) {
        addError(12, QStringLiteral("Input was 'nil'"));
        return DXJsonValue();
    }
    const QByteArray utf8 = text.toUtf8();
    return parse(utf8.constData(), utf8.size());
}

DXJsonValue DXJsonParser::fragmentWithData(const QByteArray &utf8) {
    clearErrorTrace();
    if (utf8.isNull()) {
        addError(12, QStringLiteral("Input was 'nil'"));
        return DXJsonValue();
    }
    return parse(utf8.constData(), utf8.size());
}

DXJsonValue DXJsonParser::requireContainer(DXJsonValue value) {
    if (value.isUndefined() || value.isArray() || value.isObject())
        return value;
    addError(4, QStringLiteral("Valid fragment, but not JSON"));
    return DXJsonValue();
}

DXJsonValue DXJsonParser::objectWithString(const QString &text) { return requireContainer(fragmentWithString(text)); }

DXJsonValue DXJsonParser::objectWithData(const QByteArray &utf8) { return requireContainer(fragmentWithData(utf8)); }

DXJsonValue DXJsonParser::parse(const char *bytes, qsizetype length) {
    m_depth = 0;
    m_c = bytes;
    m_end = bytes + length;
    DXJsonValue value;
    const bool ok = parseValue(value);
    if (ok)
        skipWhiteSpace();
    const bool garbage = ok && m_c != m_end;
    m_c = m_end = nullptr;
    if (!ok)
        return DXJsonValue();
    if (garbage) {
        addError(10, QStringLiteral("Garbage after JSON"));
        return DXJsonValue();
    }
    return value;
}

inline void DXJsonParser::skipWhiteSpace() {
    while (m_c < m_end && isJsonSpace(static_cast<unsigned char>(*m_c)))
        ++m_c;
}

bool DXJsonParser::parseValue(DXJsonValue &out) {
    skipWhiteSpace();
    if (m_c == m_end)
        return fail(11, "Unexpected end of string");
    const char c = *m_c++;
    switch (c) {
    case '"':
        return parseStringValue(out);
    case '{':
        return parseObject(out);
    case '[':
        return parseArray(out);
    case 't':
        if (m_end - m_c >= 3 && std::memcmp(m_c, "rue", 3) == 0) {
            m_c += 3;
            out = DXJsonValue(true);
            return true;
        }
        return fail(3, "Expected 'true'");
    case 'f':
        if (m_end - m_c >= 4 && std::memcmp(m_c, "alse", 4) == 0) {
            m_c += 4;
            out = DXJsonValue(false);
            return true;
        }
        return fail(3, "Expected 'false'");
    case 'n':
        if (m_end - m_c >= 3 && std::memcmp(m_c, "ull", 3) == 0) {
            m_c += 3;
            out = DXJsonValue::null();
            return true;
        }
        return fail(3, "Expected 'null'");
    case '+':
        return fail(2, "Leading + disallowed in number");
    default:
        if (c == '-' || isDigit(c)) {
            --m_c;
            return parseNumber(out);
        }
        return fail(3, "Unrecognised leading character");
    }
}

// The recursive readers keep their frames small (deep nesting runs them
// thousands deep): building a container and making an error's text happen
// in helpers of their own.

bool DXJsonParser::fail(int code, const char *text) {
    addError(code, QString::fromLatin1(text));
    return false;
}

bool DXJsonParser::parseStringValue(DXJsonValue &out) {
    QString s;
    if (!parseString(s, nullptr))
        return false;
    out = DXJsonValue(std::move(s));
    return true;
}

void DXJsonParser::closeArray(size_t base, DXJsonValue &out) {
    DXJsonArray array(std::make_move_iterator(m_elements.begin() + qsizetype(base)),
                      std::make_move_iterator(m_elements.end()));
    m_elements.erase(m_elements.begin() + qsizetype(base), m_elements.end());
    out = DXJsonValue(std::move(array));
}

bool DXJsonParser::failArray(size_t base, int code, const char *text) {
    m_elements.erase(m_elements.begin() + qsizetype(base), m_elements.end());
    return fail(code, text);
}

void DXJsonParser::closeObject(size_t base, DXJsonValue &out) {
    DXJsonObject object =
        DXJsonObject::withDistinctMembers(m_members.data() + base, m_members.data() + m_members.size());
    m_members.erase(m_members.begin() + qsizetype(base), m_members.end());
    m_keyHashes.resize(base);
    out = DXJsonValue(std::move(object));
}

bool DXJsonParser::failObject(size_t base, int code, const char *text) {
    m_members.erase(m_members.begin() + qsizetype(base), m_members.end());
    m_keyHashes.resize(base);
    return fail(code, text);
}

bool DXJsonParser::failObjectValue(size_t base, const QString &key) {
    m_members.erase(m_members.begin() + qsizetype(base), m_members.end());
    m_keyHashes.resize(base);
    addError(3, QStringLiteral("Object value expected for key: %1").arg(key));
    return false;
}

bool DXJsonParser::parseArray(DXJsonValue &out) {
    if (!enterContainer())
        return false;
    const size_t base = m_elements.size();
    while (m_c < m_end) {
        skipWhiteSpace();
        if (m_c < m_end && *m_c == ']') {
            ++m_c;
            leaveContainer();
            closeArray(base, out);
            return true;
        }
        // Read into a value of its own: reading it may grow the stack.
        DXJsonValue element;
        if (!parseValue(element))
            return failArray(base, 3, "Expected value while parsing array");
        m_elements.push_back(std::move(element));
        skipWhiteSpace();
        if (m_c < m_end && *m_c == ',') {
            ++m_c;
            skipWhiteSpace();
            if (m_c < m_end && *m_c == ']')
                return failArray(base, 9, "Trailing comma disallowed in array");
        }
    }
    return failArray(base, 11, "End of input while parsing array");
}

bool DXJsonParser::parseObject(DXJsonValue &out) {
    if (!enterContainer())
        return false;
    const size_t base = m_members.size();
    quint64 keyBits = 0;  // a bit for each key's hash, of 64
    if (m_c == m_end)
        return failObject(base, 11, "End of input while parsing object");
    for (;;) {
        skipWhiteSpace();
        if (m_c < m_end && *m_c == '}') {
            ++m_c;
            leaveContainer();
            closeObject(base, out);
            return true;
        }
        QString key;
        quint32 keyHash = 0;
        if (!(m_c < m_end && *m_c == '"'))
            return failObject(base, 3, "Object key string expected");
        ++m_c;
        if (!parseString(key, &keyHash))
            return failObject(base, 3, "Object key string expected");
        skipWhiteSpace();
        if (!(m_c < m_end && *m_c == ':'))
            return failObject(base, 3, "Expected ':' separating key and value");
        ++m_c;
        DXJsonValue value;
        if (!parseValue(value))
            return failObjectValue(base, key);
        // A key that comes again replaces the earlier value, in its place.
        // Most keys are new, and their bit among those of the keys so far
        // says so without a look at the members.
        const size_t count = m_members.size();
        const quint64 keyBit = quint64(1) << (keyHash >> 26);
        size_t i = count;
        if (keyBits & keyBit) {
            i = base;
            while (i < count && !(m_keyHashes[i] == keyHash && m_members[i].key == key))
                ++i;
        }
        keyBits |= keyBit;
        if (i < count) {
            m_members[i].value = std::move(value);
        } else {
            m_members.emplace_back(std::move(key), std::move(value));
            m_keyHashes.push_back(keyHash);
        }
        skipWhiteSpace();
        if (m_c < m_end && *m_c == ',') {
            ++m_c;
            skipWhiteSpace();
            if (m_c < m_end && *m_c == '}')
                return failObject(base, 9, "Trailing comma disallowed in object");
        }
        if (m_c == m_end)
            return failObject(base, 11, "End of input while parsing object");
    }
}

bool DXJsonParser::makeRun(const char *start, qsizetype length, bool nonAscii, QString &out) {
    if (!nonAscii) {
        out = QString::fromLatin1(start, length);
        return true;
    }
    if (!isValidUtf8(reinterpret_cast<const unsigned char *>(start), length)) {
        addError(3, QStringLiteral("Invalid UTF-8 in string"));
        return false;
    }
    out = QString::fromUtf8(start, length);
    return true;
}

// The longest run from p without stop bytes, sixteen or eight bytes at a
// time where possible; *nonAscii tells whether it holds a byte above 0x7f.
inline const char *scanRun(const char *p, const char *end, bool *nonAscii) {
    quint64 bits = 0;
#if defined(__SSE2__)
    // Sixteen at a time: the quote, the backslash, and bytes up to 0x1f
    // (those the unsigned maximum with 0x1f leaves at 0x1f).
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\'), control = _mm_set1_epi8(0x1f);
    unsigned wide = 0;
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                           _mm_cmpeq_epi8(_mm_max_epu8(v, control), control));
        const unsigned stopBits = unsigned(_mm_movemask_epi8(stops));
        const unsigned highBits = unsigned(_mm_movemask_epi8(v));
        if (stopBits == 0) {
            wide |= highBits;
            p += 16;
            continue;
        }
        const int before = std::countr_zero(stopBits);
        *nonAscii = (wide | (highBits & ((1u << before) - 1))) != 0;
        return p + before;
    }
    bits = wide ? 0x80 : 0;
#endif
    for (;;) {
        if (end - p >= 8) {
            const quint64 w = load64(p);
            const quint64 stops = stopMask(w);
            if (stops == 0) {
                bits |= w;
                p += 8;
                continue;
            }
            const int before = std::countr_zero(stops) / 8;  // bytes ahead of the stop byte
            if (before > 0)
                bits |= w & (~0ULL >> (64 - 8 * before));
            p += before;
            break;
        }
        while (p < end && !kStops.stop[static_cast<unsigned char>(*p)]) {
            bits |= static_cast<unsigned char>(*p);
            ++p;
        }
        break;
    }
    *nonAscii = (bits & 0x8080808080808080ULL) != 0;
    return p;
}

[[gnu::always_inline]] inline void DXJsonParser::shareText(const char *bytes, qsizetype length, qsizetype readable,
                                                          QString &out, quint32 *hash) {
    const quint32 h = hashAscii(bytes, length, readable);
    if (hash)
        *hash = h;
    CachedString &slot = m_cache[h % m_cache.size()];
    if (slot.length == length && !slot.text.isNull() && sameShortBytes(slot.bytes, bytes, length)) {
        out = QString(slot.text);
        return;
    }
    out = QString::fromLatin1(bytes, length);
    // A text takes an occupied slot when it comes a second time: one-off
    // texts (ids, sizes) neither evict a shared one nor touch it (letting
    // go of it reaches its header, long out of the processor's caches).
    if (slot.text.isNull() || slot.lastMiss == h) {
        slot.length = quint8(length);
        std::memcpy(slot.bytes, bytes, length);
        slot.text = out;
    } else {
        slot.lastMiss = h;
    }
}

bool DXJsonParser::parseString(QString &out, quint32 *hash) {
    // Most strings are one run up to the quote: one piece, shared when short.
    const char *start = m_c;
    bool nonAscii;
    const char *p = scanRun(start, m_end, &nonAscii);
    if (!(p < m_end && *p == '"'))
        return parseEscapedString(out, hash);
    m_c = p + 1;
    const qsizetype runLength = p - start;
    if (!nonAscii && runLength <= qsizetype(sizeof(CachedString::bytes))) {
        shareText(start, runLength, m_end - start, out, hash);
        return true;
    }
    if (!makeRun(start, runLength, nonAscii, out))
        return false;
    if (hash)
        *hash = hashText(out);
    return true;
}

// A short ASCII text with escapes ("image\/jpeg", "\u0041"): decoded into
// bytes and shared like a plain one. False, with nothing read, for anything
// else (longer, beyond ASCII, or faulty: the general reader tells why).
bool DXJsonParser::parseShortEscaped(QString &out, quint32 *hash) {
    char text[sizeof(CachedString::bytes)];
    qsizetype length = 0;
    const char *p = m_c;
    while (p < m_end && *p != '"') {
        char c = *p;
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x80)
            return false;
        if (c == '\\') {
            if (m_end - p < 2)
                return false;
            c = kShortEscapes[static_cast<unsigned char>(p[1])];
            if (c == 'u') {
                if (m_end - p < 6)
                    return false;
                int unit = 0;
                for (int i = 2; i < 6; ++i) {
                    const int v = hexValue(p[i]);
                    if (v < 0)
                        return false;
                    unit = unit << 4 | v;
                }
                if (unit >= 0x80)
                    return false;
                c = char(unit);
                p += 6;
            } else if (c == 0) {
                return false;
            } else {
                p += 2;
            }
        } else {
            ++p;
        }
        if (length == qsizetype(sizeof(text)))
            return false;
        text[length++] = c;
    }
    if (p == m_end)
        return false;
    m_c = p + 1;
    shareText(text, length, length, out, hash);
    return true;
}

bool DXJsonParser::parseEscapedString(QString &out, quint32 *hash) {
    if (parseShortEscaped(out, hash))
        return true;
    QString built;
    for (;;) {
        const char *start = m_c;
        bool nonAscii;
        m_c = scanRun(start, m_end, &nonAscii);
        const qsizetype runLength = m_c - start;
        if (runLength > 0 && !nonAscii) {
            built.append(QLatin1StringView(start, runLength));
        } else if (runLength > 0) {
            QString piece;
            if (!makeRun(start, runLength, nonAscii, piece))
                return false;
            built += piece;
        }

        // The byte that stopped the run.
        if (m_c == m_end) {
            reportEndInString();
            return false;
        }
        const unsigned char c = static_cast<unsigned char>(*m_c);
        if (c == '"') {
            ++m_c;
            out = std::move(built);
            if (hash)
                *hash = hashText(out);
            return true;
        }
        if (c < 0x20) {
            addError(5, QStringLiteral("Unescaped control character '0x%1'").arg(uint(c), 0, 16));
            return false;
        }
        // The backslash.
        ++m_c;
        if (m_c == m_end) {
            reportEndInEscape();
            return false;
        }
        const unsigned char e = m_c < m_end ? static_cast<unsigned char>(*m_c) : 0;
        if (m_c < m_end)
            ++m_c;
        switch (e) {
        case '"':
        case '\\':
        case '/':
            built += QLatin1Char(char(e));
            break;
        case 'b':
            built += QChar(0x08);
            break;
        case 'f':
            built += QChar(0x0c);
            break;
        case 'n':
            built += QChar(0x0a);
            break;
        case 'r':
            built += QChar(0x0d);
            break;
        case 't':
            built += QChar(0x09);
            break;
        case 'u':
            if (!parseUnicodeEscape(built)) {
                addError(6, QStringLiteral("Broken unicode character"));
                return false;
            }
            break;
        default: {
            // The byte as a signed 8-bit value widened to 16 bits.
            const quint16 shown = quint16(qint16(qint8(e)));
            addError(8, QStringLiteral("Illegal escape sequence '0x%1'").arg(uint(shown), 0, 16));
            return false;
        }
        }
        if (m_c == m_end) {
            addError(11, QStringLiteral("Unexpected EOF while parsing string"));
            return false;
        }
    }
}

bool DXJsonParser::readHexQuad(char16_t &unit) {
    unit = 0;
    for (int i = 0; i < 4; ++i) {
        const int v = hexValue(m_c < m_end ? *m_c : '\0');
        if (v < 0) {
            addError(6, QStringLiteral("Missing hex digit in quad"));
            return false;
        }
        unit = char16_t((unit << 4) | v);
        ++m_c;
    }
    return true;
}

bool DXJsonParser::parseUnicodeEscape(QString &out) {
    char16_t high;
    if (!readHexQuad(high)) {
        addError(6, QStringLiteral("Missing hex quad"));
        return false;
    }
    if (high < 0xd800 || high >= 0xe000) {
        out += QChar(high);
        return true;
    }
    if (high >= 0xdc00) {
        addError(6, QStringLiteral("Invalid high character in surrogate pair"));
        return false;
    }
    char16_t low;
    if (!(m_end - m_c >= 2 && m_c[0] == '\\' && m_c[1] == 'u')) {
        addError(6, QStringLiteral("Missing low character in surrogate pair"));
        return false;
    }
    m_c += 2;
    if (!readHexQuad(low)) {
        addError(6, QStringLiteral("Missing low character in surrogate pair"));
        return false;
    }
    if (low < 0xdc00 || low > 0xdfff) {
        addError(6, QStringLiteral("Invalid low surrogate char"));
        return false;
    }
    out += QChar(high);
    out += QChar(low);
    return true;
}

bool DXJsonParser::parseNumber(DXJsonValue &out) {
    const char *start = m_c;
    bool negative = false;
    if (*m_c == '-') {
        negative = true;
        ++m_c;
    }
    quint64 mantissa = 0;
    int digits = 0;
    if (m_c < m_end && *m_c == '0') {
        ++m_c;
        digits = 1;
        if (m_c < m_end && isDigit(*m_c)) {
            addError(2, QStringLiteral("Leading 0 disallowed in number"));
            return false;
        }
    } else if (!(m_c < m_end && isDigit(*m_c))) {
        addError(2, QStringLiteral("No digits after initial minus"));
        return false;
    } else {
        while (m_c < m_end && isDigit(*m_c)) {
            if (digits < 19)
                mantissa = mantissa * 10 + quint64(*m_c - '0');
            ++digits;
            ++m_c;
        }
    }
    int fractionDigits = 0;
    if (m_c < m_end && *m_c == '.') {
        ++m_c;
        if (!(m_c < m_end && isDigit(*m_c))) {
            addError(2, QStringLiteral("No digits after decimal point"));
            return false;
        }
        while (m_c < m_end && isDigit(*m_c)) {
            if (digits + fractionDigits < 19)
                mantissa = mantissa * 10 + quint64(*m_c - '0');
            ++fractionDigits;
            ++m_c;
        }
    }
    bool hasExponent = false;
    if (m_c < m_end && (*m_c == 'e' || *m_c == 'E')) {
        hasExponent = true;
        ++m_c;
        if (m_c < m_end && (*m_c == '+' || *m_c == '-'))
            ++m_c;
        if (!(m_c < m_end && isDigit(*m_c))) {
            addError(2, QStringLiteral("No digits after exponent"));
            return false;
        }
        while (m_c < m_end && isDigit(*m_c))
            ++m_c;
    }
    // Up to 19 digits and no exponent: exact in 64 bits, no text round trip.
    if (!hasExponent && digits + fractionDigits <= 19) {
        out = DXJsonValue(DXDecimal::fromParts(negative, mantissa, -fractionDigits));
        return true;
    }
    std::optional<DXDecimal> d = DXDecimal::fromString(start, m_c - start);
    if (!d) {
        addError(2, QStringLiteral("Failed creating decimal instance"));
        return false;
    }
    out = DXJsonValue(*d);
    return true;
}
