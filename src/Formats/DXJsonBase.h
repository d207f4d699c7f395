#pragma once

#include "Platform/VNError.h"

#include <QList>
#include <QString>

// What the JSON parser and writer share: the error trace of the last
// operation and the nesting limit.
class DXJsonBase {
public:
    static QString errorDomain();  // "org.vostrelin.JSON.ErrorDomain"
    static constexpr quint64 defaultMaxDepth = 512;
    // Applies whatever maxDepth says (0 included), so hostile nesting can
    // never exhaust the stack.
    static constexpr quint64 hardDepthLimit = 4096;

    DXJsonBase() = default;
    virtual ~DXJsonBase() = default;

    // The errors of the last parse or write, innermost first; empty after a
    // successful one.
    const QList<VNErrorPtr> &errorTrace() const { return m_errorTrace; }
    // The trace as one line of text, for logs.
    QString errorTraceDescription() const;
    static QString describeTrace(const QList<VNErrorPtr> &trace);
    void clearErrorTrace() { m_errorTrace.clear(); }
    // Appends an error; it holds the previous last error as its underlying one.
    void addError(int code, const QString &description);

    // 0 means no limit of the caller's (the hard limit still holds).
    quint64 maxDepth() const { return m_maxDepth; }
    virtual void setMaxDepth(quint64 maxDepth) { m_maxDepth = maxDepth; }
    quint64 depth() const { return m_depth; }

protected:
    // Counts one more level of nesting; false (with "Nested too deep") when
    // that goes past the limit.
    bool enterContainer();
    void leaveContainer() { --m_depth; }

    quint64 m_depth = 0;
    quint64 m_maxDepth = defaultMaxDepth;
    QList<VNErrorPtr> m_errorTrace;
};
