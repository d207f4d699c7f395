#pragma once

#include "support/TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

// xmllint --noout over the bytes: true when well-formed without any warning
// (namespace warnings included).
inline bool xmlLintClean(const QByteArray &xml) {
    auto dir = VNTest::makeTempDir();
    const QString path = dir->filePath(QStringLiteral("doc.xml"));
    VNTest::writeFile(path, xml);
    QProcess lint;
    lint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), path});
    lint.waitForFinished();
    const QByteArray complaints = lint.readAllStandardError();
    EXPECT_TRUE(complaints.isEmpty()) << complaints.constData() << "\n" << xml.constData();
    return lint.exitCode() == 0 && complaints.isEmpty();
}
