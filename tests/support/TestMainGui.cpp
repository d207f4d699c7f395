// GoogleTest main for tests that need Qt's widget event loop: the main thread
// is the main queue, as in the application.
#include "Platform/VNLog.h"
#include "Platform/VNProcessExit.h"
#include "Platform/VNTempDirectory.h"
#include "Platform/VNUserDefaults.h"
#include "support/SanitizerClone.h"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // Each test binary gets its own private temporary folder and defaults file.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/varnello-home-XXXXXX"));
    VNTempDirectory::setPath(home.path() + QStringLiteral("/tmp"));
    VNUserDefaults::setStandardFile(home.path() + QStringLiteral("/defaults.ini"));
    VNLog::setCapturing(true);
    // Workers still finishing the last test must not meet the static destructors.
    return VNProcessExit::finish(RUN_ALL_TESTS());
}
