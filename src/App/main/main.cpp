// Varnello's entry point: one instance per user and settings file; a second
// launch asks the running one for a new window and quits.
#include "App/QNAddDriveWindowController.h"
#include "App/QNApplicationStyle.h"
#include "App/QNDriveConfigWindowController.h"
#include "App/QNMacAppDelegate.h"
#include "App/QNSingleInstance.h"
#include "Cloud/QNBitcasaHandler.h"
#include "Cloud/QNBoxHandler.h"
#include "Cloud/QNCopyHandler.h"
#include "Cloud/QNDropboxHandler.h"
#include "Cloud/QNFTPHandler.h"
#include "Cloud/QNFlickrHandler.h"
#include "Cloud/QNGoogleDriveHandler.h"
#include "Cloud/QNGooglePhotosHandler.h"
#include "Cloud/QNOffice365Handler.h"
#include "Cloud/QNSkyDriveHandler.h"
#include "Cloud/QNSugarSyncHandler.h"
#include "Cloud/QNWebDAVHandler.h"
#include "Core/QNCloudInterfaceFactory.h"
#include "Platform/VNProcessExit.h"
#include "Platform/VNUserDefaults.h"

#include <QApplication>

int main(int argc, char **argv) {
    // No OpenGL set up here for the web sign-in sheet: its module does that
    // when it loads (QNWebLoginModule), and a start without a sign-in never
    // loads the OpenGL driver.
    QApplication app(argc, argv);
    QNApplicationStyle::install();
    QApplication::setApplicationName(QStringLiteral("Varnello"));
    QApplication::setOrganizationName(QStringLiteral("Varnello"));
    // The delegate ends the application once no window and no task is left.
    QApplication::setQuitOnLastWindowClosed(false);

    QNSingleInstance instance(QNSingleInstance::serverNameFor(VNUserDefaults::standard().filePath()));
    if (instance.notifyRunningInstance())
        return 0;
    instance.listen();

    // The drive handlers this build carries.
    QNCloudInterfaceFactory::registerCoreHandlers();
    QNDropboxHandler::registerWithFactory();
    QNBoxHandler::registerWithFactory();
    QNCopyHandler::registerWithFactory();
    QNFlickrHandler::registerWithFactory();
    QNFTPHandler::registerHandler();
    QNGoogleDriveHandler::registerWithFactory();
    QNGooglePhotosHandler::registerWithFactory();
    QNWebDAVHandler::registerWithFactory();
    QNOffice365Handler::registerWithFactory();
    QNSugarSyncHandler::registerWithFactory();
    QNSkyDriveHandler::registerWithFactory();
    QNBitcasaHandler::registerWithFactory();
    // "Add Drive" and "Edit" of the main windows.
    QNAddDriveWindowController::install();
    QNDriveConfigWindowController::install();

    QNMacAppDelegate delegate;
    delegate.attachSingleInstance(&instance);
    delegate.applicationDidFinishLaunching();
    // Unfinished tasks end with the process, but never mid-way through its exit.
    return VNProcessExit::finish(app.exec(), 2000);
}
