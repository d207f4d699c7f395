// How every benchmark measures and reports: a sample is one timed run with
// the peak resident size it reached; sides (ours and the peers) take turns
// round by round, the order reversed every other round, so that a busy
// moment of a shared machine weighs on all of them alike; the report is the
// median of the rounds, ours ÷ peer, with each side's peak memory.
//
// Peak memory comes from a fresh process where the side is one (a command,
// or this benchmark run again for one case: runSelf), as bench_run_measured
// reports it; for work done inside this process it is VmHWM, reset just
// before the work.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace VNBench {

struct Sample {
    double seconds = 0;
    long peakKiB = 0;  // peak resident size
    bool ok = false;
};

// ---- memory of this process -----------------------------------------------

// Resets this process's VmHWM to its resident size now.
inline bool resetPeak() {
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, "5", 1) == 1;
    ::close(fd);
    return ok;
}

// A "Name:   123 kB" line of /proc/<pid>/status, in KiB (0 when missing).
inline long statusKiB(const char *field, pid_t pid = 0) {
    QFile f(pid ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    return 0;
}

// This process's peak resident size since start or the last resetPeak().
inline long peakKiB() { return statusKiB("VmHWM"); }

// Runs work inside this process: its wall time and the peak resident size
// of the process meanwhile (everything it holds counts, not only the work's).
inline Sample measure(const std::function<bool()> &work) {
    resetPeak();
    QElapsedTimer t;
    t.start();
    Sample s;
    s.ok = work();
    s.seconds = t.nsecsElapsed() / 1e9;
    s.peakKiB = peakKiB();
    return s;
}

// ---- child processes -------------------------------------------------------

// A command and where its standard streams go ("" is /dev/null; stderr is
// inherited so failures show).
struct Command {
    QString program;
    QStringList args;
    QString stdinPath;
    QString stdoutPath;
};

struct ChildResult {
    Sample sample;  // wall time and peak resident size of the command
    int exitCode = -1;
    QByteArray output;  // standard output, when captured
};

// Starts the command (found on PATH) through bench_run_measured, waits for
// it, and gives its wall time and peak resident size as that program
// reports them (started from here directly, a process would report this
// benchmark's resident size as its own peak). With captureOutput its
// standard output is read into the result instead of going to stdoutPath.
inline ChildResult runChild(const Command &c, bool captureOutput = false) {
    ChildResult r;
    std::vector<QByteArray> argBytes{QByteArray(VNBENCH_RUN_MEASURED), QFile::encodeName(c.program)};
    for (const QString &a : c.args)
        argBytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int outputFds[2] = {-1, -1}, reportFds[2] = {-1, -1};
    if (::pipe2(reportFds, O_CLOEXEC) != 0)
        return r;
    if (captureOutput && ::pipe2(outputFds, O_CLOEXEC) != 0)
        captureOutput = false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray in = c.stdinPath.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(c.stdinPath);
    const QByteArray out = c.stdoutPath.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(c.stdoutPath);
    posix_spawn_file_actions_addopen(&actions, 0, in.constData(), O_RDONLY, 0);
    if (captureOutput)
        posix_spawn_file_actions_adddup2(&actions, outputFds[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, reportFds[1], 3);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(reportFds[1]);
    if (captureOutput)
        ::close(outputFds[1]);
    auto readAll = [](int fd) {
        QByteArray bytes;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                bytes.append(buffer, n);
            else if (n == 0 || errno != EINTR)
                break;
        }
        ::close(fd);
        return bytes;
    };
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], strerror(rc));
        ::close(reportFds[0]);
        if (captureOutput)
            ::close(outputFds[0]);
        return r;
    }
    if (captureOutput)
        r.output = readAll(outputFds[0]);
    const QList<QByteArray> report = readAll(reportFds[0]).trimmed().split(' ');
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (report.size() == 3) {
        r.sample.seconds = report[0].toDouble();
        r.sample.peakKiB = report[1].toLong();
        r.exitCode = report[2].toInt();
    }
    r.sample.ok = r.exitCode == 0;
    if (!r.sample.ok)
        std::fprintf(stderr, "%s: exit %d\n", qPrintable(c.program), r.exitCode);
    return r;
}

inline Sample runCommand(const Command &c) { return runChild(c).sample; }

// This benchmark's own program run again for one case ("runSelf"): the
// child times its own work and says so with reportChildSample(); the
// parent keeps that time (the child's start-up is not the work's) and the
// child's peak resident size as a fresh process.
inline Sample runSelf(const QStringList &args) {
    ChildResult r = runChild({QCoreApplication::applicationFilePath(), args, {}, {}}, true);
    Sample s = r.sample;
    s.ok = false;
    for (const QByteArray &line : r.output.split('\n'))
        if (line.startsWith("vnbench-seconds ")) {
            s.seconds = line.mid(16).toDouble(&s.ok);
            s.ok = s.ok && r.exitCode == 0;
        }
    return s;
}

// The child's side of runSelf(): reports the work's time; gives the exit code.
inline int reportChildSample(double seconds, bool ok = true) {
    std::printf("vnbench-seconds %.9f\n", seconds);
    std::fflush(stdout);
    return ok ? 0 : 1;
}

// ---- rounds, medians and the report ----------------------------------------

struct Side {
    QString name;
    std::function<Sample()> run;
};

// Runs every side once per round for the given number of rounds, in the
// given order in even rounds and the reverse order in odd ones. `between`
// runs before every sample (to clear targets, sync the disk). Gives the
// samples of each side, in the order of `sides`.
inline QList<QList<Sample>> interleave(int rounds, const QList<Side> &sides, const std::function<void()> &between = {}) {
    QList<QList<Sample>> samples(sides.size());
    for (int round = 0; round < rounds; ++round) {
        for (qsizetype k = 0; k < sides.size(); ++k) {
            const qsizetype i = round % 2 == 0 ? k : sides.size() - 1 - k;
            if (between)
                between();
            samples[i].append(sides[i].run());
        }
    }
    return samples;
}

inline double median(QList<double> values) {
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

inline double medianSeconds(const QList<Sample> &samples) {
    QList<double> v;
    for (const Sample &s : samples)
        if (s.ok)
            v.append(s.seconds);
    return median(v);
}

inline long medianPeakKiB(const QList<Sample> &samples) {
    QList<double> v;
    for (const Sample &s : samples)
        if (s.ok)
            v.append(double(s.peakKiB));
    return long(median(v));
}

inline int failures(const QList<Sample> &samples) {
    return int(std::count_if(samples.begin(), samples.end(), [](const Sample &s) { return !s.ok; }));
}

// ours ÷ peer round by round (rounds where both succeeded), median and range.
struct Ratio {
    double median = 0, low = 0, high = 0;
    int rounds = 0;
};

inline Ratio ratio(const QList<Sample> &ours, const QList<Sample> &peer) {
    QList<double> r;
    for (qsizetype i = 0; i < std::min(ours.size(), peer.size()); ++i)
        if (ours[i].ok && peer[i].ok && peer[i].seconds > 0)
            r.append(ours[i].seconds / peer[i].seconds);
    Ratio out;
    out.rounds = int(r.size());
    if (r.isEmpty())
        return out;
    out.median = median(r);
    out.low = *std::min_element(r.begin(), r.end());
    out.high = *std::max_element(r.begin(), r.end());
    return out;
}

inline QByteArray formatSeconds(double s) {
    return s < 10 ? QByteArray::number(s * 1000, 'f', 1) + " ms" : QByteArray::number(s, 'f', 2) + " s";
}

inline QByteArray formatSide(const QString &name, const QList<Sample> &samples) {
    QByteArray out = name.toUtf8() + ' ' + formatSeconds(medianSeconds(samples)) + ", peak " +
                     QByteArray::number(medianPeakKiB(samples) / 1024.0, 'f', 1) + " MiB";
    if (const int f = failures(samples))
        out += ", " + QByteArray::number(f) + " FAILED";
    return out;
}

// One line: each side's median time and peak memory, then ours ÷ peer as
// the median of the per-round ratios with their range.
inline void printComparison(const char *what, const QString &oursName, const QList<Sample> &ours, const QString &peerName,
                            const QList<Sample> &peer) {
    const Ratio r = ratio(ours, peer);
    std::printf("  %-38s %s | %s | ours/peer %.2f (%.2f-%.2f, %d rounds)\n", what, formatSide(oursName, ours).constData(),
                formatSide(peerName, peer).constData(), r.median, r.low, r.high, r.rounds);
    std::fflush(stdout);
    // VARNELLO_BENCH_SAMPLES=1: every round's times too, to see what a range
    // is made of.
    if (qEnvironmentVariableIntValue("VARNELLO_BENCH_SAMPLES") > 0)
        for (qsizetype i = 0; i < std::max(ours.size(), peer.size()); ++i)
            std::fprintf(stderr, "    round %lld: %s %s, %s %s\n", static_cast<long long>(i + 1),
                         qPrintable(oursName), i < ours.size() ? formatSeconds(ours[i].seconds).constData() : "-",
                         qPrintable(peerName), i < peer.size() ? formatSeconds(peer[i].seconds).constData() : "-");
}

// A side with no peer: its median time and peak.
inline void printSide(const char *what, const QString &name, const QList<Sample> &samples) {
    std::printf("  %-38s %s (median of %lld)\n", what, formatSide(name, samples).constData(),
                static_cast<long long>(samples.size()));
    std::fflush(stdout);
}

// The number of rounds: the default, or --rounds N from the arguments.
inline int roundsFrom(const QStringList &args, int byDefault) {
    const qsizetype i = args.indexOf(QStringLiteral("--rounds"));
    if (i >= 0 && i + 1 < args.size() && args[i + 1].toInt() > 0)
        return args[i + 1].toInt();
    return byDefault;
}

// The case asked for: the first argument that is neither an option nor
// the value of --rounds; byDefault when there is none.
inline QString caseFrom(const QStringList &args, const QString &byDefault) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rounds"))
            ++i;
        else if (!args[i].startsWith(QLatin1String("--")))
            return args[i];
    }
    return byDefault;
}

}  // namespace VNBench
