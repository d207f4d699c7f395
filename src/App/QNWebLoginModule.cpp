#include "App/QNWebLoginModule.h"

#include "App/QNAlert.h"
#include "App/QNDialogService.h"
#include "App/QNOAuthCallbackMatcher.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNLoginSheetProvider.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QOpenGLContext>
#include <QSurfaceFormat>

#include <cstdio>

// Qt's own setter of the context every new OpenGL context shares with
// (exported by Qt GUI, not in its public headers). The application object
// makes this context at its start when asked to; here it is made later.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext *context);

namespace {

const char kEntry[] = "varnelloInstallWebLoginSheet";
using Entry = void (*)();

Entry g_entry = nullptr;  // main thread only
QStringList g_paths;      // main thread only; empty: the usual places
QtMessageHandler g_previousHandler = nullptr;

// Qt warns that the attribute belongs before the application object; set
// before any OpenGL context exists, it does what it does there (see
// prepareOpenGL).
void dropLateAttributeWarning(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (message.contains(QLatin1String("AA_ShareOpenGLContexts")))
        return;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
    else  // as Qt's own handler writes it
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

// Loads the module, then puts its services in place of ours.
bool useModule(QString *error) {
    if (!QNWebLoginModule::load(error))
        return false;
    g_entry();
    return true;
}

// The sheet cannot be had: the sign-in ends as a cancelled one would, and
// the user learns why.
void reportUnavailable(const std::shared_ptr<QNCloudInterface> &handler, const QString &reason) {
    VNLog::log(QStringLiteral("QNWebLoginModule could not load the sign-in sheet: %1").arg(reason));
    VNDispatch::mainAsync([handler, reason] {
        if (handler)
            handler->processOAuthLogin(QString());
        QNAlert alert;
        alert.messageText = QStringLiteral("The sign-in window could not be opened");
        alert.informativeText = QStringLiteral("The part of Varnello that shows web pages could not be loaded: %1").arg(reason);
        alert.style = QNAlert::Critical;
        QNDialogService::shared().runModal(alert);
    });
}

}  // namespace

void QNWebLoginModule::installLoginSheet() {
    QNLoginSheetProvider::Services services;
    services.makeSheet = [](const std::shared_ptr<QNCloudInterface> &handler) -> std::shared_ptr<QNAuthWindowController> {
        QString error;
        bool ready = false;
        VNDispatch::mainSync([&] { ready = useModule(&error); });
        if (!ready) {
            reportUnavailable(handler, error);
            return nullptr;
        }
        return QNLoginSheetProvider::makeSheet(handler);
    };
    // Only a sheet made by the module comes here, and its services are in
    // place unless these were installed again since.
    services.loadPage = [](const std::shared_ptr<QNAuthWindowController> &sheet, const QUrl &page) {
        VNDispatch::mainSync([] { useModule(nullptr); });
        QNLoginSheetProvider::loadPage(sheet, page);
    };
    services.watchRequests = [](const std::shared_ptr<QNAuthWindowController> &sheet,
                                std::function<bool(const QUrl &)> observer) {
        VNDispatch::mainSync([] { useModule(nullptr); });
        QNLoginSheetProvider::watchRequests(sheet, std::move(observer));
    };
    // Known without the module: the sheet recognises what the matcher does.
    services.loopbackCallbackUrl = [](const QString &path) { return QNOAuthCallbackMatcher::loopbackCallbackUrl(path); };
    QNLoginSheetProvider::install(std::move(services));
}

bool QNWebLoginModule::isLoaded() {
    return g_entry != nullptr;
}

void QNWebLoginModule::setCandidatePaths(const QStringList &paths) {
    g_paths = paths;
}

QStringList QNWebLoginModule::candidatePaths() {
    if (!g_paths.isEmpty())
        return g_paths;
    QStringList paths;
    const QString name = QStringLiteral(VARNELLO_WEB_LOGIN_MODULE_NAME);
    if (QCoreApplication::instance())
        paths << QDir(QCoreApplication::applicationDirPath()).filePath(name);
    paths << QStringLiteral(VARNELLO_WEB_LOGIN_MODULE_BUILT);
    paths.removeDuplicates();
    return paths;
}

bool QNWebLoginModule::load(QString *error) {
    if (g_entry)
        return true;
    QStringList failures;
    for (const QString &path : candidatePaths()) {
        if (!QFileInfo::exists(path)) {
            failures << QStringLiteral("%1 is missing").arg(path);
            continue;
        }
        prepareOpenGL();
        QLibrary module(path);
        // Every symbol bound now: a module that does not fit this program
        // fails here, not at its first call.
        module.setLoadHints(QLibrary::ResolveAllSymbolsHint);
        if (!module.load()) {
            failures << module.errorString();
            continue;
        }
        if (auto entry = reinterpret_cast<Entry>(module.resolve(kEntry))) {
            g_entry = entry;  // the module stays loaded to the end
            return true;
        }
        failures << QStringLiteral("%1 has no %2").arg(path, QLatin1String(kEntry));
    }
    if (error)
        *error = failures.join(QStringLiteral("; "));
    return false;
}

// What a program that shows web pages sets up before its application
// object: OpenGL contexts shared between threads, and the context they all
// share with, which the application object then makes (and with it loads
// the OpenGL driver, tens of megabytes). This application draws its own
// windows without OpenGL, so no context exists before the web engine comes;
// setting both up now, just before it, comes to the same for every context
// made from here on.
void QNWebLoginModule::prepareOpenGL() {
    if (QOpenGLContext::globalShareContext())
        return;  // made at start (a program that links the web engine)
    if (!QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts)) {
        g_previousHandler = qInstallMessageHandler(dropLateAttributeWarning);
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        qInstallMessageHandler(g_previousHandler);
        g_previousHandler = nullptr;
    }
    auto *context = new QOpenGLContext(QCoreApplication::instance());
    context->setFormat(QSurfaceFormat::defaultFormat());
    // Kept even when it cannot be made (no OpenGL): the web engine reads it
    // then too, and draws without, as after a start that made none.
    context->create();
    qt_gl_set_global_share_context(context);
}
