#pragma once

#include <QJsonObject>
#include <QString>

// The benchmark's "small" part (see FTPSmallFilesBench.cpp): home is the
// benchmark's folder, ftp and ssh the states of the vsftpd and sshd peers.
// VARNELLO_BENCH_SMALL picks one server ("FTP", "FTPS" or "SFTP").
void benchSmallFiles(const QString &home, const QJsonObject &ftp, const QJsonObject &ssh, int rounds);
