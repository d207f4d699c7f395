// Start-up of the application beside the least a Qt 6 program does to show
// a main window (startup_peer, a QMainWindow with one widget), each on a
// virtual display (Xvfb) of this benchmark's own:
//   time from starting the process to its first top-level window mapped
//   (the X server's MapNotify of a window whose _NET_WM_PID is the
//   process), and
//   resident size a while after that (the settle time, default 2 s), with
//   the peak so far.
// Prints ours ÷ peer (below 1 means ours is faster or smaller) as the
// median of interleaved rounds, the order alternating. Both start once,
// unmeasured, in the home folder they then use in every round (a returning
// user's start, settings written and files in the page cache).
//
//   startup_bench [--rounds N] [--settle SECONDS] [--keep-running]
//
// --keep-running leaves the application running after one start, printing
// its process id and display, to look at it (strace, /proc) by hand.
#include "support/BenchHarness.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

namespace {

double now() {
    timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

pid_t spawn(const std::vector<QByteArray> &args, const std::vector<QByteArray> &environment) {
    std::vector<char *> argv, envp;
    for (const QByteArray &a : args)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    for (const QByteArray &e : environment)
        envp.push_back(const_cast<char *>(e.constData()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Ends a process of ours: asked first, then made to.
void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        QThread::msleep(50);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// An Xvfb of our own, watched for top-level windows being mapped.
class VirtualDisplay {
public:
    ~VirtualDisplay() {
        if (m_connection)
            xcb_disconnect(m_connection);
        if (m_server > 0)
            stop(m_server);
    }

    bool start() {
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char *argv[] = {const_cast<char *>("Xvfb"), const_cast<char *>("-displayfd"), const_cast<char *>("3"),
                        const_cast<char *>("-screen"), const_cast<char *>("0"), const_cast<char *>("1440x900x24"),
                        const_cast<char *>("-nolisten"), const_cast<char *>("tcp"), nullptr};
        const int rc = posix_spawnp(&m_server, "Xvfb", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            ::close(fds[0]);
            m_server = -1;
            return false;
        }
        // Xvfb writes its display number once it accepts clients.
        QByteArray number;
        char c;
        pollfd p{fds[0], POLLIN, 0};
        while (::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (number.isEmpty())
            return false;
        m_name = ":" + number;
        m_connection = xcb_connect(m_name.constData(), nullptr);
        if (xcb_connection_has_error(m_connection))
            return false;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_intern_atom_reply_t *atom =
            xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, 11, "_NET_WM_PID"), nullptr);
        if (!atom)
            return false;
        m_pidAtom = atom->atom;
        free(atom);
        xcb_flush(m_connection);
        return true;
    }

    const QByteArray &name() const { return m_name; }

    // Waits until a top-level window of process pid is mapped; the moment
    // its MapNotify arrived, or a negative number on time-out.
    double waitForWindowOf(pid_t pid, double timeoutSeconds) {
        const double deadline = now() + timeoutSeconds;
        pollfd p{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        for (;;) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
                const double at = now();
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                const bool ours = mapped && !map->override_redirect && pidOf(map->window) == pid;
                free(event);
                if (ours)
                    return at;
            }
            const double left = deadline - now();
            if (left <= 0 || xcb_connection_has_error(m_connection))
                return -1;
            ::poll(&p, 1, int(left * 1000) + 1);
        }
    }

private:
    pid_t pidOf(xcb_window_t window) {
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        pid_t pid = -1;
        if (reply && xcb_get_property_value_length(reply) == 4)
            pid = pid_t(*static_cast<uint32_t *>(xcb_get_property_value(reply)));
        free(reply);
        return pid;
    }

    pid_t m_server = -1;
    QByteArray m_name;
    xcb_connection_t *m_connection = nullptr;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
};

struct Launch {
    VNBench::Sample toMapped;  // seconds to the window; peakKiB: VmHWM after settling
    long residentKiB = 0;      // VmRSS after settling
};

// One start of program with its own home, on display.
Launch launch(VirtualDisplay &display, const QByteArray &program, const QString &home, double settleSeconds,
              bool keepRunning = false) {
    std::vector<QByteArray> environment;
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (!entry.startsWith("HOME=") && !entry.startsWith("XDG_") && !entry.startsWith("DISPLAY=") &&
            !entry.startsWith("QT_QPA_PLATFORM="))
            environment.push_back(entry);
    }
    const QByteArray h = QFile::encodeName(home);
    environment.push_back("HOME=" + h);
    environment.push_back("XDG_CONFIG_HOME=" + h + "/.config");
    environment.push_back("XDG_CACHE_HOME=" + h + "/.cache");
    environment.push_back("XDG_DATA_HOME=" + h + "/.local/share");
    environment.push_back("XDG_RUNTIME_DIR=" + h + "/.runtime");
    environment.push_back("DISPLAY=" + display.name());
    environment.push_back("QT_QPA_PLATFORM=xcb");
    environment.push_back("QTWEBENGINE_DISABLE_SANDBOX=1");
    QDir().mkpath(home + QStringLiteral("/.runtime"));
    QFile::setPermissions(home + QStringLiteral("/.runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    Launch result;
    const double started = now();
    const pid_t pid = spawn({program}, environment);
    if (pid < 0)
        return result;
    const double mapped = display.waitForWindowOf(pid, 60);
    if (mapped > 0) {
        result.toMapped.seconds = mapped - started;
        QThread::msleep(ulong(settleSeconds * 1000));
        result.residentKiB = VNBench::statusKiB("VmRSS", pid);
        result.toMapped.peakKiB = VNBench::statusKiB("VmHWM", pid);
        result.toMapped.ok = result.residentKiB > 0;
    } else {
        std::fprintf(stderr, "%s: no window within 60 s\n", program.constData());
    }
    if (keepRunning) {
        std::printf("running: pid %d on DISPLAY=%s, home %s\n", int(pid), display.name().constData(), qPrintable(home));
        std::fflush(stdout);
        ::waitpid(pid, nullptr, 0);
        return result;
    }
    stop(pid);
    return result;
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rounds = VNBench::roundsFrom(args, 5);
    const qsizetype settleAt = args.indexOf(QStringLiteral("--settle"));
    const double settle = settleAt > 0 && settleAt + 1 < args.size() ? args[settleAt + 1].toDouble() : 2.0;

    VirtualDisplay display;
    if (!display.start()) {
        std::printf("start-up: skipped, cannot start Xvfb and connect to it\n");
        return 0;
    }
    QTemporaryDir homes(QDir::tempPath() + QStringLiteral("/startup-bench-XXXXXX"));
    const QString oursHome = homes.path() + QStringLiteral("/ours"), peerHome = homes.path() + QStringLiteral("/peer");
    const QByteArray ours(VARNELLO_APP), peer(VARNELLO_STARTUP_PEER);
    if (args.contains(QStringLiteral("--keep-running"))) {
        launch(display, ours, oursHome, settle, true);
        return 0;
    }

    // The first start of each, unmeasured.
    launch(display, ours, oursHome, 0.5);
    launch(display, peer, peerHome, 0.5);
    QList<long> oursResident, peerResident;
    const auto s = VNBench::interleave(rounds, {{QStringLiteral("ours"),
                                                 [&] {
                                                     const Launch l = launch(display, ours, oursHome, settle);
                                                     oursResident.append(l.residentKiB);
                                                     return l.toMapped;
                                                 }},
                                                {QStringLiteral("Qt window"), [&] {
                                                     const Launch l = launch(display, peer, peerHome, settle);
                                                     peerResident.append(l.residentKiB);
                                                     return l.toMapped;
                                                 }}});
    auto medianKiB = [](const QList<long> &v) {
        QList<double> d;
        for (long x : v)
            if (x > 0)
                d.append(double(x));
        return VNBench::median(d);
    };
    const double oursKiB = medianKiB(oursResident), peerKiB = medianKiB(peerResident);
    std::printf("start-up on Xvfb, %d rounds (peak: VmHWM %.1f s after the window):\n", rounds, settle);
    VNBench::printComparison("process start to window mapped", QStringLiteral("ours"), s[0], QStringLiteral("Qt window"),
                             s[1]);
    std::printf("  %-38s ours %.1f MiB | Qt window %.1f MiB | ours/peer %.2f\n", "resident after start (median)",
                oursKiB / 1024, peerKiB / 1024, peerKiB > 0 ? oursKiB / peerKiB : 0.0);
    return VNBench::failures(s[0]) || VNBench::failures(s[1]) ? 1 : 0;
}
