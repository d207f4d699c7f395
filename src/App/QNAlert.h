#pragma once

#include "Core/QNDriveConfig.h"
#include "Platform/VNError.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

// The description of one alert: the question, its detail, up to three
// buttons and the optional extras. Return codes follow the buttons: the first
// (default) answers 1, the second 0, the third -1.
struct QNAlert {
    enum Style { Informational, Warning, Critical };

    static constexpr int FirstButtonReturn = 1;
    static constexpr int SecondButtonReturn = 0;
    static constexpr int ThirdButtonReturn = -1;

    QString messageText;
    QString informativeText;
    // The rest of a long text (a transfer log), behind the details button.
    QString detailText;
    QStringList buttons;  // default button first; empty gives "OK"
    // The button Return presses when it is not the first: a question whose
    // cautious answer ("Cancel") is not its first button.
    int defaultButton = 0;
    Style style = Warning;
    bool showsSuppressionButton = false;
    QString suppressionText = QStringLiteral("Do not show this message again");
    // A control shown under the texts (a text field); the caller keeps it.
    QPointer<QWidget> accessoryView;

    // The alert that reports an error. Its text (the user-info "error"
    // text, else its description) may go on with a transfer log: the first
    // line is the alert's message, the server's last reply line in the log
    // (a numbered reply such as "530 Login incorrect.") its informative
    // text, and the whole text its details.
    // With the drive it concerns, a connection failure names the drive and
    // its address.
    static QNAlert fromError(const VNErrorPtr &error, const QNDriveConfigPtr &drive = {});
    // "Could not Login", the error's first line (and the server's last
    // reply) as its text, the whole error behind the details button.
    static QNAlert loginFailure(const VNErrorPtr &error, const QNDriveConfigPtr &drive = {});
    // A one-line title for the alert's window: the message's first line.
    static QString titleFor(const QString &messageText);
    // The return code of the button at the index (0, 1, 2).
    static int returnCodeForButton(int index);
};

// How an alert ended.
struct QNAlertResult {
    int returnCode = QNAlert::SecondButtonReturn;
    bool suppressed = false;
};
