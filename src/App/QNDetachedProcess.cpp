#include "App/QNDetachedProcess.h"

#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// Closes every descriptor from lowest up but keep. Runs between fork and
// exec, so it calls nothing that takes a lock or allocates.
void closeFrom(int lowest, int keep) {
#ifdef SYS_close_range
    const bool below = keep <= lowest || ::syscall(SYS_close_range, lowest, keep - 1, 0) == 0;
    if (below && ::syscall(SYS_close_range, keep + 1, ~0U, 0) == 0)
        return;
#endif
    struct rlimit limit {};
    const int last = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                         ? int(std::min<rlim_t>(limit.rlim_cur, 1 << 20))
                         : 1 << 16;
    for (int fd = lowest; fd < last; ++fd)
        if (fd != keep)
            ::close(fd);
}

// The grandchild's part: nothing inherited but stdio (and the report pipe,
// closed by the exec), default signals, then the program.
[[noreturn]] void runProgram(char *const *argv, int report) {
    closeFrom(STDERR_FILENO + 1, report);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &defaults, nullptr);
    ::execve(argv[0], argv, environ);
    const int error = errno;
    ssize_t written;
    do
        written = ::write(report, &error, sizeof error);
    while (written < 0 && errno == EINTR);
    ::_exit(127);
}

}  // namespace

bool QNDetachedProcess::start(const QString &program, const QStringList &arguments, QString *why) {
    auto fail = [why](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    const QString path = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return fail(QString::fromLocal8Bit(std::strerror(ENOENT)));
    // Everything the new process needs, made before the fork.
    QList<QByteArray> words{QFile::encodeName(path)};
    for (const QString &argument : arguments)
        words << argument.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    const pid_t child = ::fork();
    if (child == 0) {
        // A session of its own, under a grandchild that no one waits for.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0)
            runProgram(argv.data(), report[1]);
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        return fail(QString::fromLocal8Bit(std::strerror(error)));
    }
    int status = 0;
    pid_t waited;
    do
        waited = ::waitpid(child, &status, 0);
    while (waited < 0 && errno == EINTR);
    // The report closes at the exec, or brings the exec's error.
    int error = 0;
    ssize_t got;
    do
        got = ::read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == ssize_t(sizeof error))
        return fail(QString::fromLocal8Bit(std::strerror(error)));
    if (waited == child && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        return fail(QStringLiteral("the process could not be made"));
    return true;
}
