#pragma once

#include <QString>
#include <QStringList>

// Starts a program on its own: in a session of its own, not a child this
// process waits for, and holding nothing of this process but its standard
// input, output and error. Every other descriptor (a logged-in server
// connection, a transfer engine's wake-up pair, an open file) is closed in
// the new process before the program runs, whether or not whoever opened
// it asked for that: libraries open some that a started program would
// otherwise keep for as long as it runs.
class QNDetachedProcess {
public:
    // The program (found on the PATH when its name has no "/") with its
    // arguments; false when it could not be started, and *why says why.
    static bool start(const QString &program, const QStringList &arguments, QString *why = nullptr);
};
