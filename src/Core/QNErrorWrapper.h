#pragma once

#include "Platform/VNError.h"

#include <QString>

// Wraps a handler's error for the error alerts: handlers put their message
// under the user-info key "error", which the generic description would not
// show; the wrapper shows that message instead. Domain, code and user info
// are the wrapped error's.
class QNErrorWrapper : public VNError {
public:
    explicit QNErrorWrapper(VNErrorPtr error);

    static std::shared_ptr<QNErrorWrapper> wrap(VNErrorPtr error);

    // The wrapped error (null when a null error was wrapped).
    const VNErrorPtr &error() const { return m_error; }

    // The user-info "error" text when it is a non-empty text, else the
    // wrapped error's own localized description.
    QString localizedDescription() const override;

    // The same "error" text, else the wrapped error's own description:
    // "Error Domain=<domain> Code=<code> \"<localized description>\"".
    QString description() const;

    static const QString &errorKey();

    // What an error says (as localizedDescription()), "(null)" for none:
    // for logs and for texts that quote a drive's answer.
    static QString textOf(const VNErrorPtr &error);
    // Its first line without a closing full stop, to quote inside a
    // sentence (a file server's answer carries its transfer log below).
    static QString reasonOf(const VNErrorPtr &error);

private:
    QString errorText() const;

    VNErrorPtr m_error;
};
