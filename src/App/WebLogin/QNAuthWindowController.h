#pragma once

#include "App/QNOAuthCallbackMatcher.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>

class QNCloudInterface;
class QNAuthWebPage;
class QPushButton;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;
class QWidget;

// The login sheet of drives that sign in on their provider's web pages: a
// web view in a sheet. A drive handler creates it, sets itself as
// cloudInterface, loads the provider's authorize page (loadRequest) and
// returns it from oAuthLoginWithCompletedBlock(); the add-drive window
// presents it and closes it (closePanel) once the handler has answered.
//
// Every sheet has a browser profile of its own, off the record: no cookie,
// cache or login of an earlier sheet is there, so the provider always asks
// for the credentials again.
//
// Every request of the sheet's pages (navigations with their redirects,
// sub-frames, sub-resources, pop-ups) is tested against the callback
// markers (QNOAuthCallbackMatcher). A match is never sent: the authorization
// code must not reach whatever listens at the callback address. The first
// match is handed to the handler's processOAuthLogin() (the URL, or a null
// string for a cancel or refusal), once, on the next turn of the main loop;
// later matches are stopped and dropped. Navigations (server redirects
// included) are stopped before they start; other requests through the
// profile's interceptor. One case escapes: a sub-resource (an image, a
// script) whose own server redirects it to a callback address is recognised
// but still sent, since this web engine only reports such redirects. Sign-in
// redirects are navigations, so an authorization code never takes that path.
//
// Clients that watch the view themselves (the Flickr and Live Connect
// clients) use webView()/page() and addRequestObserver().
//
// The sheet and the web engine live in a module of their own, loaded when
// the first sheet is asked for (QNWebLoginModule): the application itself
// does not link them, and reaches a sheet only through window() and
// closePanel(), which are virtual for that reason. This header names no web
// engine type in full.
class QNAuthWindowController : public QObject {
    Q_OBJECT
public:
    explicit QNAuthWindowController(QObject *parent = nullptr);
    ~QNAuthWindowController() override;

    // The sheet, built on first request (windowDidLoad runs then: cookies
    // deleted, defaults synchronized).
    virtual QWidget *window();
    bool isWindowLoaded() const { return m_window != nullptr; }
    // The browser area (loads the window when needed) and its page.
    QWebEngineView *webView();
    QWebEnginePage *page();
    // The sheet's own off-the-record profile.
    QWebEngineProfile *profile() const { return m_profile; }

    // The handler that receives processOAuthLogin().
    std::shared_ptr<QNCloudInterface> cloudInterface() const { return m_cloudInterface; }
    void setCloudInterface(std::shared_ptr<QNCloudInterface> handler) { m_cloudInterface = std::move(handler); }
    // Reserved; never set.
    QWidget *popupWindow() const { return nullptr; }

    // Loads the page into the main frame (the handler's authorize request).
    void loadRequest(const QUrl &url);

    // ---- Hooks for clients that watch the view themselves ----
    enum class RequestDecision { Continue, Block };
    // Sees every request before the markers do; Block stops it (the
    // observer has taken it over) and skips the markers.
    using RequestObserver = std::function<RequestDecision(const QUrl &url)>;
    int addRequestObserver(RequestObserver observer);
    void removeRequestObserver(int id);

    // ---- State ----
    // Whether the sign-in's outcome went to the handler already.
    bool hasHandedOver() const { return m_handedOver; }
    bool isClosed() const { return m_closed; }
    // The sheet's pop-up windows opened by its pages.
    QList<QWidget *> popupWindows() const;
    QPushButton *cancelButton() const { return m_cancelButton; }

    // The sheet's Cancel button: the user leaves the provider's page; the
    // handler hears of it as of a cancel on the page (a null URL).
    void cancelLogin();
    // Stops the page, ends the sheet and orders its window out. The sheet
    // lets go of its handler here (they hold each other).
    virtual void closePanel();

    // ---- Called by the sheet's pages and profile ----
    // A navigation (redirects included) is about to start; true stops it.
    bool navigationRequest(const QUrl &url);
    // Any request is about to go out; true stops it. frame: a main- or
    // sub-frame load, which navigationRequest() has seen already.
    bool interceptRequest(const QUrl &url, bool frame);
    // A page asks for a pop-up window: made here, shown as a child window.
    QWebEnginePage *createPopupPage();

    // The web engine's sandbox cannot start in a process running as root
    // (containers, build machines); only then it is switched off. Call
    // before the first web view is made (the constructor does).
    static void prepareWebEngine();

    // Makes this the sheet drive handlers get from QNLoginSheetProvider.
    static void installAsLoginSheet();

signals:
    // Every request the sheet's pages send or are about to send.
    void requestWillBeSent(const QUrl &url);
    // The sign-in's outcome went to the handler (null for cancel/refusal).
    void handedOver(const QString &callbackUrl);
    // A page could not be loaded (a stopped callback address among them).
    void loadFailed(const QUrl &url, const QString &errorText);
    void closed();

private:
    void windowDidLoad();
    // Observers, then markers; true when the request must not go out.
    bool testRequest(const QUrl &url);
    void handOver(const QString &callbackUrl);

    QWebEngineProfile *m_profile = nullptr;
    // Re-parented onto the window it is shown on, which may delete it first.
    QPointer<QWidget> m_window;
    QPointer<QWebEngineView> m_webView;
    QPointer<QNAuthWebPage> m_page;
    QPushButton *m_cancelButton = nullptr;  // a child of m_window
    QList<QPointer<QWidget>> m_popups;
    std::shared_ptr<QNCloudInterface> m_cloudInterface;
    std::map<int, RequestObserver> m_observers;
    int m_nextObserverId = 1;
    QUrl m_lastNavigation;  // seen by navigationRequest(), not tested again
    bool m_handedOver = false;
    bool m_closed = false;
};
