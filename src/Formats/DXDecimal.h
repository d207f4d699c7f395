#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// An exact decimal number: sign, an integer mantissa of up to 38 decimal
// digits and a base-10 exponent, value = mantissa x 10^exponent. JSON
// numbers are kept this way, so "0.1" is exactly one tenth and a 19-digit
// id comes back digit for digit. Values are normalised (no trailing zeros in
// the mantissa), so equal numbers compare equal whatever their spelling.
//
// Besides finite values it can hold NaN and the infinities (made from a
// double); they have no JSON form and the writer refuses them.
class DXDecimal {
public:
    static constexpr int maxDigits = 38;
    static constexpr int minExponent = -32000;
    static constexpr int maxExponent = 32000;

    DXDecimal() = default;  // zero
    DXDecimal(int value) : DXDecimal(qint64(value)) {}
    DXDecimal(qint64 value);
    DXDecimal(quint64 value);
    DXDecimal(long value) : DXDecimal(qint64(value)) {}
    DXDecimal(unsigned long value) : DXDecimal(quint64(value)) {}
    DXDecimal(unsigned value) : DXDecimal(quint64(value)) {}
    // The shortest decimal that reads back as the same double.
    static DXDecimal fromDouble(double value);

    // Reads a JSON number literal (optional "-", digits, optional fraction,
    // optional exponent). More than 38 significant digits are rounded half
    // away from zero; an exponent beyond the range or a malformed literal
    // gives nothing.
    static std::optional<DXDecimal> fromString(const char *text, qsizetype length);
    static std::optional<DXDecimal> fromString(const QString &text);

    bool isFinite() const { return m_kind == Finite; }
    bool isNaN() const { return m_kind == NaN; }
    bool isInfinite() const { return m_kind == PositiveInfinity || m_kind == NegativeInfinity; }
    bool isNegative() const { return m_negative || m_kind == NegativeInfinity; }
    bool isZero() const { return m_kind == Finite && m_high == 0 && m_low == 0; }
    bool isInteger() const { return m_kind == Finite && m_exponent >= 0; }
    int exponent() const { return m_exponent; }

    // Plain decimal text ("12", "-0.0015", "100000"); scientific ("1.5e+300")
    // when the plain form would be very long; "NaN", "Infinity", "-Infinity".
    QString toString() const;
    QByteArray toLatin1() const;
    void appendTo(QByteArray &out) const;

    // Integers: exact when in range, fractions truncated toward zero. *ok is
    // false when out of range or not finite (the result is then 0).
    qint64 toInt64(bool *ok = nullptr) const;
    quint64 toUInt64(bool *ok = nullptr) const;
    int toInt(bool *ok = nullptr) const;
    double toDouble() const;

    friend bool operator==(const DXDecimal &a, const DXDecimal &b);
    friend bool operator!=(const DXDecimal &a, const DXDecimal &b) { return !(a == b); }
    friend bool operator<(const DXDecimal &a, const DXDecimal &b);

    // For the JSON parser: a non-negative mantissa that fits 64 bits and
    // a plain integer (the common case, no text round trip).
    static DXDecimal fromParts(bool negative, quint64 mantissa, int exponent);

private:
    enum Kind : quint8 { Finite, NaN, PositiveInfinity, NegativeInfinity };
    void normalise();

    quint64 m_high = 0;  // mantissa, high and low 64 bits
    quint64 m_low = 0;
    qint32 m_exponent = 0;
    bool m_negative = false;
    Kind m_kind = Finite;
};
