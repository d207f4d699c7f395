#include "Net/NRProxyScript.h"

#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QRegularExpression>

#include <duktape.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr size_t kMemoryLimit = 64u << 20;
constexpr int kLoggedAlerts = 20;
constexpr qsizetype kAnswerLimit = 65536;

// The helpers every script may call, written in the script's own language
// on top of three native ones (dnsResolve, myIpAddress, alert).
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

// One run of a script: its deadline, checked by the engine between
// instructions (every few hundred thousand of them) and by the allocator (a
// few instructions can ask for much work: building huge strings), and the
// memory its heap holds, bounded.
struct ScriptRun {
    std::chrono::steady_clock::time_point deadline;
    bool running = false;  // the script's own code runs (not the set-up or the tear-down)
    size_t allocated = 0;
    int alerts = 0;
    bool refuses(size_t more) const {
        return allocated + more > kMemoryLimit || (running && std::chrono::steady_clock::now() >= deadline);
    }
};


ScriptRun *runOf(duk_context *ctx) {
    duk_memory_functions functions;
    duk_get_memory_functions(ctx, &functions);
    return static_cast<ScriptRun *>(functions.udata);
}

// Each block carries its size in front, so the heap's total is known.
struct alignas(std::max_align_t) BlockHeader {
    size_t size;
};

void *boundedAlloc(void *udata, duk_size_t size) {
    auto *run = static_cast<ScriptRun *>(udata);
    if (run->refuses(size))
        return nullptr;  // the engine raises an error (the script ends unless it catches it)
    auto *block = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + size));
    if (!block)
        return nullptr;
    block->size = size;
    run->allocated += size;
    return block + 1;
}

void boundedFree(void *udata, void *pointer) {
    if (!pointer)
        return;
    BlockHeader *block = static_cast<BlockHeader *>(pointer) - 1;
    static_cast<ScriptRun *>(udata)->allocated -= block->size;
    std::free(block);
}

void *boundedRealloc(void *udata, void *pointer, duk_size_t size) {
    if (!pointer)
        return boundedAlloc(udata, size);
    if (size == 0) {
        boundedFree(udata, pointer);
        return nullptr;
    }
    auto *run = static_cast<ScriptRun *>(udata);
    BlockHeader *block = static_cast<BlockHeader *>(pointer) - 1;
    const size_t old = block->size;
    if (size > old && run->refuses(size - old))
        return nullptr;
    auto *moved = static_cast<BlockHeader *>(std::realloc(block, sizeof(BlockHeader) + size));
    if (!moved)
        return nullptr;
    moved->size = size;
    run->allocated = run->allocated - old + size;
    return moved + 1;
}

// Only reached for an error outside every protected call, which the runner
// below never makes; the engine must not go on after it.
void fatalError(void *, const char *message) {
    VNLog::log(QStringLiteral("NRProxyScript: the script engine failed: %1").arg(QString::fromUtf8(message)));
    std::abort();
}

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

// alert(text): logged, as browsers do for scripts (the first few of a run).
duk_ret_t alert(duk_context *ctx) {
    ScriptRun *run = runOf(ctx);
    if (run && run->alerts++ < kLoggedAlerts)
        VNLog::log(QStringLiteral("NRProxyScript alert: %1").arg(QString::fromUtf8(duk_safe_to_string(ctx, 0)).left(1000)));
    return 0;
}

struct Evaluation {
    QByteArray script, url, host;
    QByteArray answer;  // null: the script answered nothing
};

// Inside a protected call: every error, the time limit's too, comes back
// as the call's result.
duk_ret_t evaluateProtected(duk_context *ctx, void *udata) {
    auto *job = static_cast<Evaluation *>(udata);
    const struct {
        const char *name;
        duk_c_function function;
        duk_idx_t arguments;
    } natives[] = {{"dnsResolve", dnsResolve, 1}, {"myIpAddress", myIpAddress, 0}, {"alert", alert, 1}};
    for (const auto &native : natives) {
        duk_push_c_function(ctx, native.function, native.arguments);
        duk_put_global_string(ctx, native.name);
    }
    duk_eval_string_noresult(ctx, kHelpers);
    duk_eval_lstring_noresult(ctx, job->script.constData(), size_t(job->script.size()));
    if (!duk_get_global_string(ctx, "FindProxyForURL") || !duk_is_function(ctx, -1))
        return duk_error(ctx, DUK_ERR_TYPE_ERROR, "the script has no function FindProxyForURL");
    duk_push_lstring(ctx, job->url.constData(), size_t(job->url.size()));
    duk_push_lstring(ctx, job->host.constData(), size_t(job->host.size()));
    duk_call(ctx, 2);
    if (duk_is_string(ctx, -1)) {
        duk_size_t length = 0;
        const char *text = duk_get_lstring(ctx, -1, &length);
        job->answer = QByteArray(text, qsizetype(std::min<duk_size_t>(length, kAnswerLimit)));
    }
    return 0;
}

// The script files being read, each with who waits for it. Lives to the
// end of the process: a read stuck on a hung mount may never come back.
struct FileReads {
    std::mutex mutex;
    QHash<QString, std::vector<std::weak_ptr<NRProxyScript::FileReadListener>>> listeners;
    std::function<void(const QString &)> hook;
};

FileReads &fileReads() {
    static auto *reads = new FileReads();
    return *reads;
}

void readForListeners(const QString &path) {
    FileReads &reads = fileReads();
    VNErrorPtr why;
    const QByteArray script = NRProxyScript::readScriptFile(path, &why);
    std::vector<std::weak_ptr<NRProxyScript::FileReadListener>> listeners;
    {
        std::lock_guard lock(reads.mutex);
        listeners = reads.listeners.take(path);
    }
    for (const auto &weak : listeners)
        if (const auto listener = weak.lock())
            (*listener)(script, why);
}

VNErrorPtr scriptError(const QString &why) {
    return VNError::withDescription(QStringLiteral("NRProxyScriptErrorDomain"), 1, why);
}

}  // namespace

extern "C" int vn_duktape_exec_timeout_check(void *udata) {
    const auto *run = static_cast<const ScriptRun *>(udata);
    return run && std::chrono::steady_clock::now() >= run->deadline ? 1 : 0;
}

void NRProxyScript::readScriptFileInBackground(const QString &path, const std::shared_ptr<FileReadListener> &listener) {
    FileReads &reads = fileReads();
    {
        std::lock_guard lock(reads.mutex);
        const auto going = reads.listeners.find(path);
        if (going != reads.listeners.end()) {
            // Those that stopped waiting (timed out, gone) leave nothing behind.
            std::erase_if(*going, [](const auto &weak) { return weak.expired(); });
            going->push_back(listener);
            return;
        }
        reads.listeners[path].push_back(listener);
    }
    VNDispatch::globalAsync([path] { readForListeners(path); });
}

void NRProxyScript::setFileReadHookForTesting(std::function<void(const QString &path)> hook) {
    std::lock_guard lock(fileReads().mutex);
    fileReads().hook = std::move(hook);
}

QByteArray NRProxyScript::readScriptFile(const QString &path, VNErrorPtr *error) {
    std::function<void(const QString &)> hook;
    {
        std::lock_guard lock(fileReads().mutex);
        hook = fileReads().hook;
    }
    if (hook)
        hook(path);
    auto fail = [&](const QString &why) {
        if (error)
            *error = scriptError(why);
        return QByteArray();
    };
    const auto systemError = [] { return QString::fromLocal8Bit(std::strerror(errno)); };
    const QByteArray name = QFile::encodeName(path);
    // Looked at before it is opened: opening a device may do something of
    // its own (a tape rewinds), and opening a FIFO waits for a writer.
    struct stat info {};
    if (::stat(name.constData(), &info) != 0)
        return fail(systemError());
    if (!S_ISREG(info.st_mode))
        return fail(QStringLiteral("%1 is not a regular file").arg(path));
    if (info.st_size > maximumScriptSize)
        return fail(QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(maximumScriptSize));
    // Without waiting, should it have been swapped for a FIFO meanwhile.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(systemError());
    QByteArray data;
    QString why;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = QStringLiteral("%1 is not a regular file").arg(path);
    } else {
        // Read to its end, which may come later than its size said (it
        // grows meanwhile) but never past the bound.
        data.resize(qsizetype(std::min<qint64>(info.st_size, maximumScriptSize)) + 1);
        qsizetype have = 0;
        for (;;) {
            if (have == data.size()) {
                if (have > maximumScriptSize) {
                    why = QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(maximumScriptSize);
                    break;
                }
                data.resize(std::min<qsizetype>(data.size() * 2, maximumScriptSize + 1));
            }
            const ssize_t got = ::read(fd, data.data() + have, size_t(data.size() - have));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                why = systemError();
                break;
            }
            if (got == 0)
                break;
            have += got;
        }
        data.truncate(have);
    }
    ::close(fd);
    if (!why.isNull())
        return fail(why);
    if (data.isNull())
        data = QByteArray("");  // an empty file: a script that says nothing
    return data;
}

QStringList NRProxyScript::parseAnswer(const QString &answer) {
    // Lives to the end of the process, as the workers that run scripts are
    // never joined.
    static const auto *hostPort = new QRegularExpression(
        QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9._-]+)(?::(\\d{1,5}))?$"));
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
        const auto match = hostPort->match(words[1]);
        if (!match.hasMatch())
            return {};
        QString name;
        int usualPort = 0;
        if (kind == QLatin1String("PROXY") || kind == QLatin1String("HTTP"))
            name = QStringLiteral("PROXY"), usualPort = 80;
        else if (kind == QLatin1String("HTTPS"))
            name = QStringLiteral("HTTPS"), usualPort = 443;  // spoken to over TLS
        else if (kind == QLatin1String("SOCKS") || kind == QLatin1String("SOCKS5"))
            name = QStringLiteral("SOCKS"), usualPort = 1080;
        else if (kind == QLatin1String("SOCKS4"))
            name = QStringLiteral("SOCKS4"), usualPort = 1080;
        // Without a port, the kind's usual one, as browsers read it.
        const int port = match.captured(2).isEmpty() ? usualPort : match.captured(2).toInt();
        if (!match.captured(2).isEmpty() && (port <= 0 || port > 65535))
            return {};
        // A kind this engine cannot speak is skipped; the others still serve.
        if (!name.isEmpty())
            entries << QStringLiteral("%1 %2:%3").arg(name, match.captured(1)).arg(port);
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
    ScriptRun run;
    run.deadline = std::chrono::steady_clock::now() +
                   std::chrono::milliseconds(qint64(std::max(1.0, timeLimitSeconds) * 1000));
    duk_context *ctx = duk_create_heap(boundedAlloc, boundedRealloc, boundedFree, &run, fatalError);
    if (!ctx)
        return fail(QStringLiteral("The proxy script could not be run (no script engine)"));
    Evaluation job{script.toUtf8(), url.toEncoded(QUrl::RemoveUserInfo), url.host().toUtf8(), QByteArray()};
    run.running = true;
    const bool ran = duk_safe_call(ctx, evaluateProtected, &job, 0, 1) == DUK_EXEC_SUCCESS;
    run.running = false;
    const QString why = ran ? QString() : QString::fromUtf8(duk_safe_to_string(ctx, -1));
    const bool timedOut = std::chrono::steady_clock::now() >= run.deadline;
    duk_destroy_heap(ctx);
    if (!ran && timedOut)
        return fail(QStringLiteral("The proxy script ran too long"));
    if (!ran)
        return fail(QStringLiteral("The proxy script failed: %1").arg(why));
    if (job.answer.isNull())
        return fail(QStringLiteral("The proxy script answered something that is not a text"));
    const QStringList entries = parseAnswer(QString::fromUtf8(job.answer));
    if (entries.isEmpty())
        return fail(QStringLiteral("The proxy script answered no proxy list: %1").arg(QString::fromUtf8(job.answer.left(200))));
    return entries;
}
