#include "QNErrorWrapper.h"

namespace {

VNError copyOf(const VNErrorPtr &error) {
    return error ? VNError(error->domain(), error->code(), error->userInfo()) : VNError(QString(), 0);
}

}  // namespace

QNErrorWrapper::QNErrorWrapper(VNErrorPtr error) : VNError(copyOf(error)), m_error(std::move(error)) {}

std::shared_ptr<QNErrorWrapper> QNErrorWrapper::wrap(VNErrorPtr error) {
    return std::make_shared<QNErrorWrapper>(std::move(error));
}

const QString &QNErrorWrapper::errorKey() {
    static const QString key = QStringLiteral("error");
    return key;
}

QString QNErrorWrapper::errorText() const {
    // Only a text counts: an empty message or a non-text value would make
    // an empty alert.
    const QVariant value = userInfo().value(errorKey());
    if (!value.isValid() || !value.canConvert<QString>())
        return {};
    return value.toString();
}

QString QNErrorWrapper::localizedDescription() const {
    const QString text = errorText();
    if (!text.isEmpty())
        return text;
    return m_error ? m_error->localizedDescription() : VNError::localizedDescription();
}

QString QNErrorWrapper::textOf(const VNErrorPtr &error) {
    return error ? QNErrorWrapper(error).localizedDescription() : QStringLiteral("(null)");
}

QString QNErrorWrapper::reasonOf(const VNErrorPtr &error) {
    QString text = textOf(error).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

QString QNErrorWrapper::description() const {
    const QString text = errorText();
    if (!text.isEmpty())
        return text;
    if (auto inner = std::dynamic_pointer_cast<const QNErrorWrapper>(m_error))
        return inner->description();
    const QString own = m_error ? m_error->localizedDescription() : VNError::localizedDescription();
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(domain()).arg(code()).arg(own);
}
