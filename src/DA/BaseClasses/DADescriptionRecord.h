#pragma once

#include "DA/BaseClasses/DAClass.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <type_traits>

// How a description record shows what it reads.
enum class DADescriptionKind {
    Value,            // the value's description, when there is a value
    LabelIfPresent,   // the label alone, when there is a value
    CountIfNonZero,   // a list's count, when not zero
    ListIfNonEmpty,   // a list's description, when not empty
    YesNo,            // "YES" or "NO"
    YesIfTrue,        // "YES", only when true
    LengthIfNonZero,  // a text's or data's length as "#n", when not zero
    Literal,          // the record's own text
};

// What a description record reads off its object, in the forms the kinds
// need: whether there is a value, its description, a count (of a list's
// items, or a text's or data's length) and a truth. A number is its own
// count, so a count record is given the list's size.
class DADescribedValue {
public:
    DADescribedValue() = default;  // nothing
    DADescribedValue(const QString &text);  // a null text is nothing
    DADescribedValue(const QByteArray &data);
    DADescribedValue(bool truth);
    DADescribedValue(int number) : DADescribedValue(qint64(number)) {}
    DADescribedValue(qint64 number);
    // Numbers read off elements that may be absent; a truth is described
    // as 1 or 0, as a number holding it is.
    DADescribedValue(std::optional<int> number);
    DADescribedValue(std::optional<qint64> number);
    DADescribedValue(std::optional<bool> truth);
    template <typename T, typename = std::enable_if_t<std::is_base_of_v<DAExtensionItem, T>>>
    DADescribedValue(const std::shared_ptr<T> &item) {
        if (item)
            setText(item->description());
    }
    template <typename T, typename = std::enable_if_t<std::is_base_of_v<DAExtensionItem, T>>>
    DADescribedValue(const QList<std::shared_ptr<T>> &items) {
        QStringList descriptions;
        for (const auto &item : items)
            descriptions << (item ? item->description() : QStringLiteral("(null)"));
        setList(descriptions);
    }

    bool isPresent() const { return m_present; }
    const QString &text() const { return m_text; }
    qsizetype count() const { return m_count; }
    bool truth() const { return m_truth; }

private:
    void setText(const QString &text);
    void setList(const QStringList &descriptions);

    bool m_present = false;
    QString m_text;
    qsizetype m_count = 0;
    bool m_truth = false;
};

// One item of an object's debugging description: a label, what the label's
// key path reads and the kind that says how it is shown. A label written
// "version>=V:label" (or "version<=V:label") counts only for an object whose
// service version is at least (at most) V, and then shows as "label".
struct DADescriptionRecord {
    QString label;
    DADescribedValue value;
    DADescriptionKind kind = DADescriptionKind::Value;

    // The item the record gives ("label:text" or the label alone), or a null
    // text when it gives none. The version condition is the caller's.
    QString item() const;
};
