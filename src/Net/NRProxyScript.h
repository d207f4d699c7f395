#pragma once

#include "Platform/VNError.h"

#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

// A proxy auto-configuration script: JavaScript with a function
// FindProxyForURL(url, host) answering "PROXY host:port; SOCKS host:port;
// DIRECT". Run by duktape with the usual helper functions (isPlainHostName,
// dnsDomainIs, localHostOrDomainIs, isResolvable, isInNet, dnsResolve,
// myIpAddress, dnsDomainLevels, convert_addr, shExpMatch, weekdayRange,
// dateRange, timeRange).
//
// The script runs in this process, on the calling thread, within a time
// limit the engine checks between instructions and with a bounded heap: one
// that loops or hoards memory costs the request an error, never the program
// a thread. alert() only logs.
class NRProxyScript {
public:
    // The largest script read or fetched; a larger one is refused, as a
    // script that cannot be had (the request goes direct).
    static constexpr qint64 maximumScriptSize = 4 << 20;

    // The script in a file: only a regular file, of at most
    // maximumScriptSize bytes, is read (a FIFO, a device or a folder is
    // refused without waiting for it). Null, with an error, when it cannot
    // be had. Blocks on a slow or hung file system: call it off the network
    // thread.
    static QByteArray readScriptFile(const QString &path, VNErrorPtr *error = nullptr);

    // Told the outcome of a script file's read: the script, or null and why.
    using FileReadListener = std::function<void(const QByteArray &script, const VNErrorPtr &error)>;
    // Reads the script file (as readScriptFile does) on a background thread
    // and tells the listener there, if it still lives. While a read of the
    // path is going on, the listener joins it instead of starting another:
    // a file on a hung mount holds one thread, however many requests want
    // it, and who comes once that read has ended reads the file anew. The
    // registry keeps only a weak reference: the caller holds the listener
    // for as long as it waits.
    static void readScriptFileInBackground(const QString &path, const std::shared_ptr<FileReadListener> &listener);
    // Called on the reading thread as each script file's read begins (a
    // test holds it there, as a hung mount would).
    static void setFileReadHookForTesting(std::function<void(const QString &path)> hook);

    // The entries of the script's answer for the URL, each normalised to
    // "DIRECT", "PROXY host:port", "HTTPS host:port" (TLS to the proxy),
    // "SOCKS host:port" (SOCKS5) or "SOCKS4 host:port". Blocks for as long
    // as the script runs: call it off the network thread. Empty, with an error,
    // when the script does not compile, throws, runs past the time limit or
    // answers something that is not a proxy list. (A name look-up the script
    // asks for may outlast the limit: the caller keeps its own watch.)
    static QStringList proxiesForURL(const QString &script, const QUrl &url, double timeLimitSeconds,
                                     VNErrorPtr *error = nullptr);
    // The entries of an answer text; empty when any entry is malformed. An
    // entry of a kind this engine cannot speak is skipped; one without a port
    // takes its kind's usual one (80, 443 for HTTPS, 1080 for SOCKS).
    static QStringList parseAnswer(const QString &answer);
};
