#pragma once

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
    QStringList buttons;  // default button first; empty gives "OK"
    Style style = Warning;
    bool showsSuppressionButton = false;
    QString suppressionText = QStringLiteral("Do not show this message again");
    // A control shown under the texts (a text field); the caller keeps it.
    QPointer<QWidget> accessoryView;

    // The alert that reports an error: its message (the user-info "error"
    // text, else its description) as the alert's message.
    static QNAlert fromError(const VNErrorPtr &error);
    // The return code of the button at the index (0, 1, 2).
    static int returnCodeForButton(int index);
};

// How an alert ended.
struct QNAlertResult {
    int returnCode = QNAlert::SecondButtonReturn;
    bool suppressed = false;
};
