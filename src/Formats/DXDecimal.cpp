#include "Formats/DXDecimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

using u128 = unsigned __int128;

namespace {

u128 pow10(int n) {
    u128 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

const u128 kMantissaLimit = pow10(DXDecimal::maxDigits);  // 10^38, exclusive

// Decimal digits of a 128-bit value, most significant first, into buf
// (at least 40 bytes); gives the count.
int digitsOf(u128 v, char *buf) {
    char tmp[48];
    int n = 0;
    do {
        tmp[n++] = char('0' + int(v % 10));
        v /= 10;
    } while (v != 0);
    for (int i = 0; i < n; ++i)
        buf[i] = tmp[n - 1 - i];
    return n;
}

}  // namespace

DXDecimal::DXDecimal(qint64 value) {
    m_negative = value < 0;
    // Negating the smallest value would overflow; go through unsigned.
    const quint64 magnitude = m_negative ? quint64(0) - quint64(value) : quint64(value);
    m_low = magnitude;
    normalise();
}

DXDecimal::DXDecimal(quint64 value) {
    m_low = value;
    normalise();
}

DXDecimal DXDecimal::fromParts(bool negative, quint64 mantissa, int exponent) {
    DXDecimal d;
    d.m_negative = negative;
    d.m_low = mantissa;
    d.m_exponent = exponent;
    d.normalise();
    return d;
}

void DXDecimal::normalise() {
    u128 m = (u128(m_high) << 64) | m_low;
    if (m == 0) {
        m_exponent = 0;
        m_negative = false;
        m_high = m_low = 0;
        return;
    }
    if (m_high == 0) {
        quint64 v = m_low;  // 64-bit division is much cheaper
        while (v % 10 == 0) {
            v /= 10;
            ++m_exponent;
        }
        m_low = v;
        return;
    }
    while (m % 10 == 0) {
        m /= 10;
        ++m_exponent;
    }
    m_high = quint64(m >> 64);
    m_low = quint64(m);
}

std::optional<DXDecimal> DXDecimal::fromString(const QString &text) {
    const QByteArray latin = text.toLatin1();
    return fromString(latin.constData(), latin.size());
}

std::optional<DXDecimal> DXDecimal::fromString(const char *text, qsizetype length) {
    const char *p = text, *end = text + length;
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        ++p;
    }
    u128 mantissa = 0;
    int kept = 0;           // significant digits kept in the mantissa
    qint64 exponent = 0;    // adjustment from dropped and fraction digits
    int firstDropped = -1;  // the first digit beyond the kept ones
    bool anyDigit = false;

    auto takeDigit = [&](int d, bool fraction) {
        anyDigit = true;
        if (kept == 0 && d == 0) {
            if (fraction)
                --exponent;  // a leading zero after the point
            return;
        }
        if (kept < maxDigits) {
            mantissa = mantissa * 10 + u128(d);
            ++kept;
            if (fraction)
                --exponent;
        } else {
            if (firstDropped < 0)
                firstDropped = d;
            if (!fraction)
                ++exponent;
        }
    };

    while (p < end && *p >= '0' && *p <= '9')
        takeDigit(*p++ - '0', false);
    if (!anyDigit)
        return std::nullopt;
    if (p < end && *p == '.') {
        ++p;
        const char *start = p;
        while (p < end && *p >= '0' && *p <= '9')
            takeDigit(*p++ - '0', true);
        if (p == start)
            return std::nullopt;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool expNegative = false;
        if (p < end && (*p == '+' || *p == '-'))
            expNegative = *p++ == '-';
        const char *start = p;
        qint64 e = 0;
        while (p < end && *p >= '0' && *p <= '9') {
            if (e < 1000000000)
                e = e * 10 + (*p - '0');
            ++p;
        }
        if (p == start)
            return std::nullopt;
        exponent += expNegative ? -e : e;
    }
    if (p != end)
        return std::nullopt;

    if (firstDropped >= 5) {
        mantissa += 1;
        if (mantissa == kMantissaLimit) {
            mantissa /= 10;
            ++exponent;
        }
    }
    DXDecimal d;
    d.m_negative = negative;
    d.m_high = quint64(mantissa >> 64);
    d.m_low = quint64(mantissa);
    if (mantissa == 0) {
        d.normalise();
        return d;
    }
    // Normalise with a wide exponent first, then check the range.
    while (mantissa % 10 == 0) {
        mantissa /= 10;
        ++exponent;
    }
    if (exponent < minExponent || exponent > maxExponent)
        return std::nullopt;
    d.m_high = quint64(mantissa >> 64);
    d.m_low = quint64(mantissa);
    d.m_exponent = qint32(exponent);
    return d;
}

DXDecimal DXDecimal::fromDouble(double value) {
    DXDecimal d;
    if (std::isnan(value)) {
        d.m_kind = NaN;
        return d;
    }
    if (std::isinf(value)) {
        d.m_kind = value < 0 ? NegativeInfinity : PositiveInfinity;
        return d;
    }
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    if (auto parsed = fromString(buf, result.ptr - buf))
        return *parsed;
    return d;  // unreachable for finite doubles
}

void DXDecimal::appendTo(QByteArray &out) const {
    switch (m_kind) {
    case NaN:
        out += "NaN";
        return;
    case PositiveInfinity:
        out += "Infinity";
        return;
    case NegativeInfinity:
        out += "-Infinity";
        return;
    case Finite:
        break;
    }
    char digits[48];
    int n;
    if (m_high == 0) {
        const auto r = std::to_chars(digits, digits + sizeof digits, m_low);
        n = int(r.ptr - digits);
    } else {
        n = digitsOf((u128(m_high) << 64) | m_low, digits);
    }
    if (m_negative)
        out += '-';
    const int e = m_exponent;
    if (e >= 0) {
        if (n + e <= 60) {
            out.append(digits, n);
            out.append(e, '0');
            return;
        }
    } else {
        const int point = n + e;  // digits before the decimal point
        if (point > 0) {
            out.append(digits, point);
            out += '.';
            out.append(digits + point, n - point);
            return;
        }
        if (-point <= 30) {
            out += "0.";
            out.append(-point, '0');
            out.append(digits, n);
            return;
        }
    }
    // Scientific form for very large or very small magnitudes.
    out += digits[0];
    if (n > 1) {
        out += '.';
        out.append(digits + 1, n - 1);
    }
    const int adjusted = e + n - 1;
    out += 'e';
    out += adjusted < 0 ? '-' : '+';
    out += QByteArray::number(adjusted < 0 ? -adjusted : adjusted);
}

QByteArray DXDecimal::toLatin1() const {
    QByteArray out;
    appendTo(out);
    return out;
}

QString DXDecimal::toString() const { return QString::fromLatin1(toLatin1()); }

double DXDecimal::toDouble() const {
    switch (m_kind) {
    case NaN:
        return std::numeric_limits<double>::quiet_NaN();
    case PositiveInfinity:
        return std::numeric_limits<double>::infinity();
    case NegativeInfinity:
        return -std::numeric_limits<double>::infinity();
    case Finite:
        break;
    }
    if (m_high == 0 && m_exponent == 0 && m_low < (quint64(1) << 53))
        return m_negative ? -double(m_low) : double(m_low);
    char digits[48];
    QByteArray text;
    if (m_negative)
        text += '-';
    text.append(digits, digitsOf((u128(m_high) << 64) | m_low, digits));
    text += 'e';
    text += QByteArray::number(m_exponent);
    double value = 0;
    const auto r = std::from_chars(text.constData(), text.constData() + text.size(), value);
    if (r.ec == std::errc::result_out_of_range)
        return m_exponent > 0 ? (m_negative ? -HUGE_VAL : HUGE_VAL) : (m_negative ? -0.0 : 0.0);
    return value;
}

quint64 DXDecimal::toUInt64(bool *ok) const {
    if (ok)
        *ok = false;
    if (m_kind != Finite || (m_negative && !isZero()))
        return 0;
    u128 m = (u128(m_high) << 64) | m_low;
    if (m_exponent < 0) {
        m = m_exponent < -40 ? 0 : m / pow10(-m_exponent);
    } else if (m != 0) {
        for (int i = 0; i < m_exponent; ++i) {
            m *= 10;
            if (m > std::numeric_limits<quint64>::max())
                return 0;
        }
    }
    if (m > std::numeric_limits<quint64>::max())
        return 0;
    if (ok)
        *ok = true;
    return quint64(m);
}

qint64 DXDecimal::toInt64(bool *ok) const {
    if (ok)
        *ok = false;
    if (m_kind != Finite)
        return 0;
    u128 m = (u128(m_high) << 64) | m_low;
    const u128 limit = m_negative ? u128(std::numeric_limits<qint64>::max()) + 1
                                  : u128(std::numeric_limits<qint64>::max());
    if (m_exponent < 0) {
        m = m_exponent < -40 ? 0 : m / pow10(-m_exponent);
    } else if (m != 0) {
        for (int i = 0; i < m_exponent; ++i) {
            m *= 10;
            if (m > limit)
                return 0;
        }
    }
    if (m > limit)
        return 0;
    if (ok)
        *ok = true;
    return m_negative ? qint64(quint64(0) - quint64(m)) : qint64(quint64(m));
}

int DXDecimal::toInt(bool *ok) const {
    bool fits = false;
    const qint64 v = toInt64(&fits);
    fits = fits && v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
    if (ok)
        *ok = fits;
    return fits ? int(v) : 0;
}

bool operator==(const DXDecimal &a, const DXDecimal &b) {
    if (a.m_kind != b.m_kind)
        return false;
    if (a.m_kind == DXDecimal::NaN)
        return false;
    if (a.m_kind != DXDecimal::Finite)
        return true;
    return a.m_negative == b.m_negative && a.m_high == b.m_high && a.m_low == b.m_low &&
           a.m_exponent == b.m_exponent;
}

bool operator<(const DXDecimal &a, const DXDecimal &b) {
    if (a.isNaN() || b.isNaN())
        return false;
    auto rank = [](const DXDecimal &d) {
        return d.m_kind == DXDecimal::NegativeInfinity ? -1 : d.m_kind == DXDecimal::PositiveInfinity ? 1 : 0;
    };
    if (rank(a) != rank(b))
        return rank(a) < rank(b);
    if (rank(a) != 0)
        return false;
    const bool an = a.m_negative, bn = b.m_negative;
    if (an != bn)
        return an;
    if (a.isZero() || b.isZero())
        return a.isZero() ? !b.isZero() && !bn : an;
    // Same sign, both non-zero: compare magnitudes by size, then digits.
    char da[48], db[48];
    const int na = digitsOf((u128(a.m_high) << 64) | a.m_low, da);
    const int nb = digitsOf((u128(b.m_high) << 64) | b.m_low, db);
    const qint64 ma = qint64(na) + a.m_exponent, mb = qint64(nb) + b.m_exponent;
    int cmp = 0;
    if (ma != mb) {
        cmp = ma < mb ? -1 : 1;
    } else {
        for (int i = 0; i < std::max(na, nb) && cmp == 0; ++i) {
            const char ca = i < na ? da[i] : '0', cb = i < nb ? db[i] : '0';
            cmp = ca < cb ? -1 : ca > cb ? 1 : 0;
        }
    }
    return an ? cmp > 0 : cmp < 0;
}
