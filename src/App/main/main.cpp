// Varnello's entry point: one instance per user and settings file; a second
// launch asks the running one for a new window and quits.
#include "App/QNMacAppDelegate.h"
#include "App/QNSingleInstance.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNUserDefaults.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnello"));
    QApplication::setOrganizationName(QStringLiteral("Varnello"));
    QApplication::setQuitOnLastWindowClosed(true);

    QNSingleInstance instance(QNSingleInstance::serverNameFor(VNUserDefaults::standard().filePath()));
    if (instance.notifyRunningInstance())
        return 0;
    instance.listen();

    // The drive handlers this build carries.
    QNCloudInterfaceFactory::registerCoreHandlers();

    QNMacAppDelegate delegate;
    delegate.attachSingleInstance(&instance);
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
