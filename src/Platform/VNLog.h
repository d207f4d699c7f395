#pragma once

#include <QString>
#include <QStringList>

// The log: diagnostic lines, each naming the class first ("QNTask cleaning
// temp dir: ..."). Lines go to standard error; tests can capture them.
// Never pass a password or a token; texts registered as secrets are masked
// in any line that would carry them anyway.
namespace VNLog {

void log(const QString &line);

// Masks this text (a password, a token) in every later log line.
void addSecret(const QString &secret);
// The line as the log would write it, every registered secret masked.
QString masked(const QString &line);

// Capturing for tests: while on, lines are also kept in memory.
void setCapturing(bool capturing);
QStringList captured();
void clearCaptured();

// Silences standard error (tests that log a lot); capture still works.
void setQuiet(bool quiet);

}  // namespace VNLog
