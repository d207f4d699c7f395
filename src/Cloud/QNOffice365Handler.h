#pragma once

#include "Cloud/QNWebDAVHandler.h"

// The drive handler of an Office 365 account's personal document site
// (SharePoint Online). After a sign-in chain of up to five HTTPS requests
// (refreshCookie()) the site's document library is a WebDAV collection
// reached with a cookie: every WebDAV operation is inherited and works
// through the three hooks. A sign-in is cached for an hour per user and
// site, so the short-lived handlers of one drive sign in once; login(),
// the drive form's check of the password, always signs in afresh.
class QNOffice365Handler : public QNWebDAVHandler {
public:
    // (success, cancelled, error, token, cookie); token and cookie null on failure.
    using SignInCallback = std::function<void(bool success, bool cancelled, VNErrorPtr error, QString token,
                                              QString cookie)>;

    explicit QNOffice365Handler(QNDriveConfigPtr driveConfig);
    ~QNOffice365Handler() override;

    QString className() const override;
    static QString errorDomain();  // "QNOffice365Handler"
    static void registerWithFactory();

    // The configuration the handler was made with (the drive list's own);
    // driveConfig() is a working copy whose url becomes the library's.
    QNDriveConfigPtr originalDriveConfig() const;

    void login(QNLoginCallback completed) override;
    void cancel() override;

    void authorizeRequestForPath(const QString &path, AuthorizeCallback completion) override;
    QString requestDriveConfig() const override;
    QString formsPath() const override;

    // Signs in (or takes the cached sign-in) and answers the cookie.
    void refreshCookie(SignInCallback completion);
    // Signs in afresh, whatever the cache holds; a success replaces the entry.
    void signIn(SignInCallback completion);

    // The error of this class: code 0, the message as description and under "error".
    static VNErrorPtr errorFromDomain(const QString &domain, const QString &message);

protected:
    bool authorizationRefused() override;

private:
    QString cacheKey() const;
    void useSite(const QString &site);
    // Why the token and cookie may not go to the host and site an answer
    // names (a host not on HTTPS, a site on another origin); null when they may.
    static VNErrorPtr siteRefusal(const QString &hostUrl, const QString &siteUrl);
    void requestRealm(SignInCallback completion);
    void requestFederationToken(const QString &authHost, SignInCallback completion);
    void requestTokens(const QString &securityText, SignInCallback completion);
    void requestUserConnected(const QString &sharePointToken, const QString &officeToken, SignInCallback completion);
    void requestCookie(const QString &hostUrl, const QString &siteUrl, const QString &sharePointToken,
                       SignInCallback completion);
    // Starts one step's request; done runs on its completion unless it
    // failed or was cancelled (then the completion gets the engine's error).
    void startStep(const NRHTTPRequestPtr &request, SignInCallback completion,
                   std::function<void(NRHTTPRequest &)> done);

    QNDriveConfigPtr m_originalDriveConfig;
    bool m_usedCachedCookie = false;
    bool m_retriedRefusedCookie = false;
};
