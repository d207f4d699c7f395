#pragma once

#include "DA/BaseClasses/DAServerError.h"

#include <QByteArray>
#include <QList>

class DAServerErrorGroup;
using DAServerErrorGroupPtr = std::shared_ptr<DAServerErrorGroup>;

// The errors of a data-API server's error document, in document order.
class DAServerErrorGroup {
public:
    DAServerErrorGroup() = default;

    // Null when the data holds no "error" element in the data-API namespace
    // (also for data that is not XML).
    static DAServerErrorGroupPtr groupWithData(const QByteArray &data);
    static QList<DAServerErrorPtr> serverErrorsWithData(const QByteArray &data);

    const QList<DAServerErrorPtr> &errors() const { return m_errors; }
    void setErrors(const QList<DAServerErrorPtr> &errors) { m_errors = errors; }
    // The first error; null when there is none.
    DAServerErrorPtr mainError() const { return m_errors.isEmpty() ? nullptr : m_errors.first(); }

    QString description() const;
    bool isEqual(const DAServerErrorGroup &other) const;
    DAServerErrorGroupPtr copy() const;

private:
    QList<DAServerErrorPtr> m_errors;
};
