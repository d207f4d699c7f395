#include "DA/BaseClasses/DADescriptionRecord.h"

DADescribedValue::DADescribedValue(const QString &text) {
    if (!text.isNull())
        setText(text);
}

DADescribedValue::DADescribedValue(const QByteArray &data) {
    if (data.isNull())
        return;
    m_present = true;
    m_count = data.size();
    m_truth = !data.isEmpty();
    m_text = QStringLiteral("#%1").arg(data.size());
}

DADescribedValue::DADescribedValue(bool truth)
    : m_present(true), m_text(truth ? QStringLiteral("1") : QStringLiteral("0")), m_truth(truth) {}

DADescribedValue::DADescribedValue(qint64 number)
    : m_present(true), m_text(QString::number(number)), m_count(qsizetype(number)), m_truth(number != 0) {}

DADescribedValue::DADescribedValue(std::optional<int> number) {
    if (number)
        *this = DADescribedValue(qint64(*number));
}

DADescribedValue::DADescribedValue(std::optional<qint64> number) {
    if (number)
        *this = DADescribedValue(*number);
}

DADescribedValue::DADescribedValue(std::optional<bool> truth) {
    if (truth)
        *this = DADescribedValue(*truth);
}

void DADescribedValue::setText(const QString &text) {
    m_present = true;
    m_text = text;
    m_count = text.size();
    m_truth = !text.isEmpty();
}

void DADescribedValue::setList(const QStringList &descriptions) {
    m_present = true;
    m_count = descriptions.size();
    m_truth = !descriptions.isEmpty();
    m_text = QStringLiteral("(%1)").arg(descriptions.join(QStringLiteral(", ")));
}

QString DADescriptionRecord::item() const {
    auto labelled = [this](const QString &text) { return QStringLiteral("%1:%2").arg(label, text); };
    switch (kind) {
    case DADescriptionKind::Value:
    case DADescriptionKind::Literal:
        return value.isPresent() ? labelled(value.text()) : QString();
    case DADescriptionKind::LabelIfPresent:
        return value.isPresent() ? label : QString();
    case DADescriptionKind::CountIfNonZero:
        return value.count() != 0 ? labelled(QString::number(value.count())) : QString();
    case DADescriptionKind::ListIfNonEmpty:
        return value.count() != 0 ? labelled(value.text()) : QString();
    case DADescriptionKind::YesNo:
        return labelled(value.truth() ? QStringLiteral("YES") : QStringLiteral("NO"));
    case DADescriptionKind::YesIfTrue:
        return value.truth() ? labelled(QStringLiteral("YES")) : QString();
    case DADescriptionKind::LengthIfNonZero:
        return value.count() != 0 ? labelled(QStringLiteral("#%1").arg(value.count())) : QString();
    }
    return QString();
}
