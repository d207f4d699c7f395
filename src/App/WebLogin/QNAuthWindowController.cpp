#include "App/WebLogin/QNAuthWindowController.h"

#include "App/WebLogin/QNAuthRequestInterceptor.h"
#include "App/WebLogin/QNAuthWebPage.h"
#include "App/QNDialogService.h"
#include "Core/QNCloudInterface.h"
#include "Core/QNLoginSheetProvider.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"

#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWidget>

#include <unistd.h>

void QNAuthWindowController::prepareWebEngine() {
    // The web engine's sandbox refuses to start as root, and the sheet could
    // not open at all. Everyone else keeps the sandbox; only a process that
    // runs as root (a container, a build machine) goes without it.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

QNAuthWindowController::QNAuthWindowController(QObject *parent) : QObject(parent) {
    prepareWebEngine();
    // No storage name: an off-the-record profile, in memory only and gone
    // with this sheet.
    m_profile = new QWebEngineProfile(this);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->setUrlRequestInterceptor(new QNAuthRequestInterceptor(this, m_profile));
}

QNAuthWindowController::~QNAuthWindowController() {
    m_closed = true;
    if (m_window)
        QNDialogService::shared().endSheet(m_window, 0);
    // Pages go before their profile.
    for (const QPointer<QWidget> &popup : std::as_const(m_popups))
        delete popup.data();
    delete m_window;
    m_window = nullptr;
    m_webView = nullptr;
    m_page = nullptr;
}

QWidget *QNAuthWindowController::window() {
    if (m_window)
        return m_window;
    auto *dialog = new QDialog;
    m_window = dialog;
    // Escape and the window's close box leave the sign-in as Cancel does.
    connect(dialog, &QDialog::rejected, this, &QNAuthWindowController::cancelLogin);
    m_window->setObjectName(QStringLiteral("QNAuthWindowController"));
    m_window->setWindowTitle(QStringLiteral("Sign In"));
    m_window->resize(760, 600);
    m_window->setMinimumSize(480, 400);
    auto *column = new QVBoxLayout(m_window);
    column->setContentsMargins(0, 0, 0, 8);
    column->setSpacing(8);

    m_webView = new QWebEngineView(m_window);
    m_webView->setObjectName(QStringLiteral("webView"));
    // Room for a provider's sign-in page; a sheet is sized to what it holds.
    m_webView->setMinimumSize(640, 480);
    m_page = new QNAuthWebPage(this, m_profile, m_webView);
    m_webView->setPage(m_page);
    column->addWidget(m_webView, 1);

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(12, 0, 12, 0);
    bar->addStretch(1);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), m_window);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(m_cancelButton, &QPushButton::clicked, this, &QNAuthWindowController::cancelLogin);
    bar->addWidget(m_cancelButton);
    column->addLayout(bar);

    windowDidLoad();
    return m_window;
}

void QNAuthWindowController::windowDidLoad() {
    // The profile is new and off the record; deleting is belt and braces so
    // a provider always asks for the credentials again.
    m_profile->cookieStore()->deleteAllCookies();
    VNUserDefaults::standard().synchronize();
    connect(m_page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
            return;
        // Expected for a callback address the sheet stopped.
        VNLog::log(QStringLiteral("QNAuthWindowController webView didFailLoadWithError: %1 (%2)")
                       .arg(info.errorString(),
                            QNOAuthCallbackMatcher::redactedForLog(info.url().toString(QUrl::FullyEncoded))));
        emit loadFailed(info.url(), info.errorString());
    });
}

QWebEngineView *QNAuthWindowController::webView() {
    window();
    return m_webView;
}

QWebEnginePage *QNAuthWindowController::page() {
    window();
    return m_page;
}

void QNAuthWindowController::installAsLoginSheet() {
    QNLoginSheetProvider::Services services;
    services.makeSheet = [](const std::shared_ptr<QNCloudInterface> &handler) {
        auto sheet = std::make_shared<QNAuthWindowController>();
        sheet->window();
        sheet->setCloudInterface(handler);
        return sheet;
    };
    services.loadPage = [](const std::shared_ptr<QNAuthWindowController> &sheet, const QUrl &page) {
        sheet->loadRequest(page);
    };
    services.loopbackCallbackUrl = [](const QString &path) { return QNOAuthCallbackMatcher::loopbackCallbackUrl(path); };
    services.watchRequests = [](const std::shared_ptr<QNAuthWindowController> &sheet,
                                std::function<bool(const QUrl &)> observer) {
        sheet->addRequestObserver([observer = std::move(observer)](const QUrl &url) {
            return observer(url) ? RequestDecision::Block : RequestDecision::Continue;
        });
    };
    QNLoginSheetProvider::install(std::move(services));
}

void QNAuthWindowController::loadRequest(const QUrl &url) {
    page()->load(url);
}

int QNAuthWindowController::addRequestObserver(RequestObserver observer) {
    const int id = m_nextObserverId++;
    m_observers.emplace(id, std::move(observer));
    return id;
}

void QNAuthWindowController::removeRequestObserver(int id) { m_observers.erase(id); }

QList<QWidget *> QNAuthWindowController::popupWindows() const {
    QList<QWidget *> list;
    for (const QPointer<QWidget> &p : m_popups)
        if (p)
            list << p.data();
    return list;
}

bool QNAuthWindowController::navigationRequest(const QUrl &url) {
    m_lastNavigation = url;
    return testRequest(url);
}

bool QNAuthWindowController::interceptRequest(const QUrl &url, bool frame) {
    // A frame load that navigationRequest() let through arrives here once more.
    if (frame && url == m_lastNavigation) {
        m_lastNavigation.clear();
        return false;
    }
    return testRequest(url);
}

bool QNAuthWindowController::testRequest(const QUrl &url) {
    const QString absolute = url.toString(QUrl::FullyEncoded);
    VNLog::log(QStringLiteral("QNAuthWindowController absoluteURL: %1").arg(QNOAuthCallbackMatcher::redactedForLog(absolute)));
    emit requestWillBeSent(url);

    // Observers may remove themselves while they run: call a snapshot.
    std::vector<RequestObserver> observers;
    for (const auto &entry : m_observers)
        observers.push_back(entry.second);
    for (const RequestObserver &observer : observers)
        if (observer && observer(url) == RequestDecision::Block)
            return true;

    const QNOAuthCallbackMatcher::Match match = QNOAuthCallbackMatcher::match(absolute);
    if (match.outcome == QNOAuthCallbackMatcher::Outcome::NoMatch)
        return false;
    if (m_handedOver || m_closed) {
        VNLog::log(QStringLiteral("QNAuthWindowController stopped a further callback (marker %1)").arg(match.marker));
        return true;
    }
    VNLog::log(QStringLiteral("QNAuthWindowController callback recognised (marker %1)").arg(match.marker));
    handOver(match.callbackUrl);
    return true;
}

void QNAuthWindowController::handOver(const QString &callbackUrl) {
    m_handedOver = true;
    // On a later turn: the handler may close and release this sheet, which
    // must not happen inside the web engine's own callback.
    std::shared_ptr<QNCloudInterface> handler = m_cloudInterface;
    QPointer<QNAuthWindowController> guard(this);
    VNDispatch::mainAsync([guard, handler, callbackUrl] {
        if (guard)
            emit guard->handedOver(callbackUrl);
        if (handler)
            handler->processOAuthLogin(callbackUrl);
        else
            VNLog::log(QStringLiteral("QNAuthWindowController no handler for the sign-in's outcome"));
    });
}

void QNAuthWindowController::cancelLogin() {
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
    if (!m_handedOver && !m_closed)
        handOver(QString());
}

void QNAuthWindowController::closePanel() {
    if (m_closed)
        return;
    m_closed = true;
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
    for (const QPointer<QWidget> &popup : std::as_const(m_popups))
        if (popup)
            popup->hide();
    if (m_window) {
        QNDialogService::shared().endSheet(m_window, 0);
        m_window->hide();
    }
    // The handler holds this sheet too; letting go here ends the cycle.
    m_cloudInterface.reset();
    emit closed();
}

QWebEnginePage *QNAuthWindowController::createPopupPage() {
    QWidget *parentWindow = window();
    auto *popup = new QWidget(parentWindow, Qt::Window);
    popup->setObjectName(QStringLiteral("authPopup"));
    popup->resize(800, 600);
    auto *fill = new QVBoxLayout(popup);
    fill->setContentsMargins(0, 0, 0, 0);
    auto *view = new QWebEngineView(popup);
    auto *page = new QNAuthWebPage(this, m_profile, view);
    view->setPage(page);
    fill->addWidget(view);
    if (QScreen *screen = parentWindow->screen() ? parentWindow->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        popup->move(area.center() - QPoint(400, 300));
    }
    m_popups << popup;
    popup->show();
    popup->raise();
    return page;
}

// The module's entry, looked up by name when the application loads the
// module (QNWebLoginModule).
extern "C" Q_DECL_EXPORT void varnelloInstallWebLoginSheet() {
    QNAuthWindowController::installAsLoginSheet();
}
