#include "Net/NRProxyScript.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QRegularExpression>

#include <duktape.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The helpers every script may call, written in the script's own language
// on top of two native ones (dnsResolve, myIpAddress).
const char *kHelpers = R"JS(
function isPlainHostName(host) { return String(host).indexOf('.') < 0; }
function dnsDomainIs(host, domain) {
    host = String(host); domain = String(domain);
    return host.length >= domain.length && host.substring(host.length - domain.length) === domain;
}
function localHostOrDomainIs(host, hostdom) {
    host = String(host); hostdom = String(hostdom);
    return host === hostdom || (host.indexOf('.') < 0 && hostdom.lastIndexOf(host + '.', 0) === 0);
}
function __ipv4(text) {
    var p = String(text).split('.');
    if (p.length !== 4) return null;
    var n = 0;
    for (var i = 0; i < 4; i++) {
        if (!/^\d{1,3}$/.test(p[i]) || +p[i] > 255) return null;
        n = n * 256 + (+p[i]);
    }
    return n;
}
function isResolvable(host) { return dnsResolve(host) !== null; }
function isInNet(host, pattern, mask) {
    var ip = __ipv4(host) !== null ? host : dnsResolve(host);
    if (ip === null) return false;
    var a = __ipv4(ip), p = __ipv4(pattern), m = __ipv4(mask);
    if (a === null || p === null || m === null) return false;
    return ((a & m) >>> 0) === ((p & m) >>> 0);
}
function dnsDomainLevels(host) { return String(host).split('.').length - 1; }
function convert_addr(ipaddr) {
    var n = __ipv4(ipaddr);
    return n === null ? 0 : n;
}
// A shell pattern: * any run, ? one character, [...] a class ([!...] or
// [^...] its complement); everything else stands for itself.
function shExpMatch(str, shexp) {
    var p = String(shexp), re = '';
    for (var i = 0; i < p.length; i++) {
        var c = p.charAt(i);
        if (c === '*') { re += '.*'; continue; }
        if (c === '?') { re += '.'; continue; }
        if (c === '[') {
            var end = p.indexOf(']', i + 2);
            if (end > i) {
                var body = p.substring(i + 1, end), negate = body.charAt(0) === '!' || body.charAt(0) === '^';
                if (negate) body = body.substring(1);
                re += '[' + (negate ? '^' : '') + body.replace(/[\\\]\[^]/g, '\\$&') + ']';
                i = end;
                continue;
            }
        }
        re += c.replace(/[.+^${}()|[\]\\\/]/g, '\\$&');
    }
    return new RegExp('^' + re + '$').test(String(str));
}
var __days = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var __months = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];
function __gmt(args) { return args.length > 0 && args[args.length - 1] === 'GMT'; }
function __inRange(v, a, b) { return a <= b ? (v >= a && v <= b) : (v >= a || v <= b); }
function weekdayRange(wd1, wd2) {
    var now = new Date(), gmt = __gmt(arguments);
    var d = gmt ? now.getUTCDay() : now.getDay();
    var a = __days.indexOf(String(wd1)), b = (wd2 === undefined || wd2 === 'GMT') ? a : __days.indexOf(String(wd2));
    if (a < 0 || b < 0) return false;
    return __inRange(d, a, b);
}
function timeRange() {
    var args = Array.prototype.slice.call(arguments), gmt = __gmt(args);
    if (gmt) args.pop();
    var now = new Date(), h = gmt ? now.getUTCHours() : now.getHours(), m = gmt ? now.getUTCMinutes() : now.getMinutes();
    var s = gmt ? now.getUTCSeconds() : now.getSeconds();
    if (args.length === 1) return h === +args[0];
    if (args.length === 2) return __inRange(h, +args[0], +args[1]);
    if (args.length === 4) return __inRange(h * 60 + m, +args[0] * 60 + +args[1], +args[2] * 60 + +args[3]);
    if (args.length === 6)
        return __inRange(h * 3600 + m * 60 + s, +args[0] * 3600 + +args[1] * 60 + +args[2], +args[3] * 3600 + +args[4] * 60 + +args[5]);
    return false;
}
function dateRange() {
    var args = Array.prototype.slice.call(arguments), gmt = __gmt(args);
    if (gmt) args.pop();
    var now = new Date();
    var day = gmt ? now.getUTCDate() : now.getDate(), month = gmt ? now.getUTCMonth() : now.getMonth();
    var year = gmt ? now.getUTCFullYear() : now.getFullYear();
    function value(x) {
        if (typeof x === 'number' || /^\d+$/.test(String(x))) { var n = +x; return n > 31 ? ['y', n] : ['d', n]; }
        var mi = __months.indexOf(String(x));
        return mi >= 0 ? ['m', mi] : null;
    }
    function current(kind) { return kind === 'y' ? year : kind === 'm' ? month : day; }
    // Each form compares one composite value: day, month, year, or a pair or
    // triple of them, in the order of its arguments.
    function composite(list) {
        var kinds = '', n = 0;
        for (var i = 0; i < list.length; i++) {
            var v = value(list[i]);
            if (v === null) return null;
            kinds += v[0];
        }
        var order = { d: 0, m: 1, y: 2 }, parts = [];
        for (var j = 0; j < list.length; j++) parts.push(value(list[j]));
        parts.sort(function (x, y) { return order[y[0]] - order[x[0]]; });
        var now = 0;
        for (var k = 0; k < parts.length; k++) {
            var scale = parts[k][0] === 'd' ? 32 : parts[k][0] === 'm' ? 12 : 10000;
            n = n * scale + parts[k][1];
            now = now * scale + current(parts[k][0]);
        }
        return { kinds: kinds, value: n, now: now };
    }
    if (args.length === 1) { var v = value(args[0]); return v !== null && current(v[0]) === v[1]; }
    if (args.length === 2 || args.length === 4 || args.length === 6) {
        var half = args.length / 2;
        var a = composite(args.slice(0, half)), b = composite(args.slice(half));
        if (a === null || b === null || a.kinds !== b.kinds) return false;
        if (a.kinds.indexOf('y') >= 0) return a.now >= a.value && a.now <= b.value;
        return __inRange(a.now, a.value, b.value);
    }
    return false;
}
)JS";

// dnsResolve(host): the first IPv4 address of the host, or null.
duk_ret_t dnsResolve(duk_context *ctx) {
    const char *host = duk_safe_to_string(ctx, 0);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) {
        duk_push_null(ctx);
        return 1;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    duk_push_string(ctx, text);
    return 1;
}

// myIpAddress(): this machine's first IPv4 address that is not loopback.
duk_ret_t myIpAddress(duk_context *ctx) {
    QByteArray address = "127.0.0.1";
    for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) {
            address = a.toString().toLatin1();
            break;
        }
    }
    duk_push_string(ctx, address.constData());
    return 1;
}

// Runs the script in this (child) process; the answer text, or an error
// text starting with "!".
QByteArray evaluate(const QByteArray &script, const QByteArray &url, const QByteArray &host) {
    duk_context *ctx = duk_create_heap_default();
    if (!ctx)
        return "!no script engine";
    duk_push_c_function(ctx, dnsResolve, 1);
    duk_put_global_string(ctx, "dnsResolve");
    duk_push_c_function(ctx, myIpAddress, 0);
    duk_put_global_string(ctx, "myIpAddress");
    QByteArray out;
    if (duk_peval_string(ctx, kHelpers) != 0) {
        out = QByteArray("!") + duk_safe_to_string(ctx, -1);
    } else {
        duk_pop(ctx);
        if (duk_peval_lstring(ctx, script.constData(), size_t(script.size())) != 0) {
            out = QByteArray("!") + duk_safe_to_string(ctx, -1);
        } else {
            duk_pop(ctx);
            if (!duk_get_global_string(ctx, "FindProxyForURL") || !duk_is_function(ctx, -1)) {
                out = "!the script has no function FindProxyForURL";
            } else {
                duk_push_lstring(ctx, url.constData(), size_t(url.size()));
                duk_push_lstring(ctx, host.constData(), size_t(host.size()));
                if (duk_pcall(ctx, 2) != 0)
                    out = QByteArray("!") + duk_safe_to_string(ctx, -1);
                else if (!duk_is_string(ctx, -1))
                    out = "!the script answered something that is not a text";
                else
                    out = duk_get_string(ctx, -1);
            }
        }
    }
    duk_destroy_heap(ctx);
    return out;
}

VNErrorPtr scriptError(const QString &why) {
    return VNError::withDescription(QStringLiteral("NRProxyScriptErrorDomain"), 1, why);
}

}  // namespace

QStringList NRProxyScript::parseAnswer(const QString &answer) {
    static const QRegularExpression hostPort(QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9._-]+):(\\d{1,5})$"));
    QStringList entries;
    for (const QString &piece : answer.split(QLatin1Char(';'))) {
        const QStringList words = piece.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const QString kind = words[0].toUpper();
        if (kind == QLatin1String("DIRECT") && words.size() == 1) {
            entries << QStringLiteral("DIRECT");
            continue;
        }
        if (words.size() != 2)
            return {};
        const auto match = hostPort.match(words[1]);
        if (!match.hasMatch() || match.captured(2).toInt() <= 0 || match.captured(2).toInt() > 65535)
            return {};
        if (kind == QLatin1String("PROXY") || kind == QLatin1String("HTTP"))
            entries << QStringLiteral("PROXY ") + words[1];
        else if (kind == QLatin1String("HTTPS"))
            entries << QStringLiteral("HTTPS ") + words[1];  // spoken to over TLS
        else if (kind == QLatin1String("SOCKS") || kind == QLatin1String("SOCKS5"))
            entries << QStringLiteral("SOCKS ") + words[1];
        else if (kind == QLatin1String("SOCKS4"))
            entries << QStringLiteral("SOCKS4 ") + words[1];
        // A kind this engine cannot speak is skipped; the others still serve.
    }
    return entries;
}

QStringList NRProxyScript::proxiesForURL(const QString &script, const QUrl &url, double timeLimitSeconds,
                                         VNErrorPtr *error) {
    auto fail = [&](const QString &why) {
        if (error)
            *error = scriptError(why);
        return QStringList();
    };
    int fds[2];
    if (pipe(fds) != 0)
        return fail(QString::fromLocal8Bit(strerror(errno)));
    const QByteArray code = script.toUtf8();
    const QByteArray urlText = url.toEncoded(QUrl::RemoveUserInfo);
    const QByteArray host = url.host().toUtf8();
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return fail(QString::fromLocal8Bit(strerror(errno)));
    }
    if (child == 0) {
        close(fds[0]);
        const QByteArray answer = evaluate(code, urlText, host);
        qsizetype written = 0;
        while (written < answer.size()) {
            const ssize_t n = write(fds[1], answer.constData() + written, size_t(answer.size() - written));
            if (n <= 0)
                break;
            written += n;
        }
        _exit(0);
    }
    close(fds[1]);
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = qint64(std::max(1.0, timeLimitSeconds) * 1000);
    bool timedOut = false;
    for (;;) {
        const qint64 left = limitMs - clock.elapsed();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        char buffer[4096];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        answer.append(buffer, n);
        if (answer.size() > 65536)
            break;
    }
    close(fds[0]);
    if (timedOut)
        kill(child, SIGKILL);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        return fail(QStringLiteral("The proxy script ran too long"));
    if (!WIFEXITED(status) || answer.isEmpty())
        return fail(QStringLiteral("The proxy script did not answer"));
    if (answer.startsWith('!'))
        return fail(QStringLiteral("The proxy script failed: %1").arg(QString::fromUtf8(answer.mid(1))));
    const QStringList entries = parseAnswer(QString::fromUtf8(answer));
    if (entries.isEmpty())
        return fail(QStringLiteral("The proxy script answered no proxy list: %1").arg(QString::fromUtf8(answer.left(200))));
    return entries;
}
