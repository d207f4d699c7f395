// Small pieces the benchmarks share: bulk test files and starting and
// stopping the test peers (measuring is support/BenchHarness.h's).
// Header-only on purpose: each benchmark is one source file and links
// nothing extra for these.
#pragma once

#include <QFile>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace VNBench {

// Fills the block with xorshift bytes, x carrying the state to the next call
// (incompressible data, the same on every run).
inline void fill(QByteArray &block, quint64 &x) {
    for (int i = 0; i + 8 <= block.size(); i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        memcpy(block.data() + i, &x, 8);
    }
}

// Writes a file of size bytes of fill() data, 1 MiB at a time.
inline bool makeBigFile(const QString &path, qint64 size) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    quint64 x = 0x9e3779b97f4a7c15ULL;
    for (qint64 done = 0; done < size; done += block.size()) {
        fill(block, x);
        const qint64 n = std::min<qint64>(block.size(), size - done);
        if (f.write(block.constData(), n) != n)
            return false;
    }
    return f.flush();
}

#ifdef VARNELLO_PEERS_DIR
// Starts or stops one test peer through peerctl.py, its state kept in stateDir.
inline bool peerctl(const QString &stateDir, const QString &verb, const QString &peer) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VARNELLO_PEER_STATE"), stateDir);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("python3"), {QStringLiteral(VARNELLO_PEERS_DIR "/peerctl.py"), verb, peer});
    p.waitForFinished(60000);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
#endif

}  // namespace VNBench
