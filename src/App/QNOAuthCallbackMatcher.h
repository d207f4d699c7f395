#pragma once

#include <QString>
#include <QStringList>

// Recognises the addresses at which a web sign-in ends: the redirect or
// callback URLs that the drive handlers give their providers. The login
// sheet tests every request of its web view with match(); a pure function of
// the URL text and the configuration, so it is tested on its own.
//
// The handlers build their redirect addresses from the same configuration
// (loopbackCallbackHost(), productCallbackSite()), so what a provider sends
// back is what the sheet recognises.
class QNOAuthCallbackMatcher {
public:
    struct Config {
        // How the local machine is addressed in redirect URLs. Nothing
        // listens there: the sheet catches the request before it goes out.
        // May carry a port ("127.0.0.1:8123"), which tests use.
        QString loopbackHost;
        // The host of our own web site, whose "/redirect" page receives
        // authorization codes for providers that accept only public addresses.
        QString productSite;
        // The user handle of the referral path "/en-<handle>".
        QString referralHandle;
    };

    enum class Outcome {
        NoMatch,    // an ordinary request: let it go
        Callback,   // the sign-in ended: hand the URL to the handler
        Cancelled,  // the user cancelled or the provider refused: hand over nothing
    };

    struct Match {
        Outcome outcome = Outcome::NoMatch;
        int marker = 0;       // 1 to 12: which marker decided; 0 for none
        QString callbackUrl;  // the URL to hand over (Callback only), else null
    };

    // The configuration in use (defaults: loopback "localhost", product site
    // "www.varnello.app", referral handle "varnello").
    static Config config();
    static void setConfig(const Config &config);
    static Config defaultConfig();

    // Redirect addresses for the handlers, built from the configuration in
    // use: "http://<loopback host><path>" (path "/", "/bitcasa", "/flickr"
    // ...) and "https://<product site>/redirect".
    static QString loopbackCallbackUrl(const QString &path = QStringLiteral("/"));
    static QString productRedirectUrl();

    // The twelve markers, in the order they are tested.
    static QStringList markers(const Config &config);
    // Tests the absolute URL text against the markers in order; the first
    // marker it contains (case-sensitive substring) decides.
    static Match match(const QString &absoluteUrl, const Config &config);
    static Match match(const QString &absoluteUrl) { return match(absoluteUrl, config()); }

    // The URL as it may appear in a log: no user info, and every query or
    // fragment value replaced by "…", so codes and tokens never reach it.
    static QString redactedForLog(const QString &absoluteUrl);
};
