// bench_run_measured PROGRAM [ARGS...]: runs the program and writes to file
// descriptor 3 "<wall seconds> <peak resident KiB> <exit code>".
//
// A process started straight from a benchmark inherits the benchmark's own
// resident size as its peak (the kernel keeps the larger of the memory a
// process had before exec and after), so the benchmarks start their peers
// through this small program: what it starts inherits only its own few
// hundred KiB.
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_run_measured PROGRAM [ARGS...]\n");
        return 127;
    }
    ::fcntl(3, F_SETFD, FD_CLOEXEC);
    timespec start {}, end {};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t pid = ::fork();
    if (pid < 0)
        return 127;
    if (pid == 0) {
        ::execvp(argv[1], argv + 1);
        std::fprintf(stderr, "bench_run_measured: cannot run %s\n", argv[1]);
        ::_exit(127);
    }
    int status = 0;
    rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    ::clock_gettime(CLOCK_MONOTONIC, &end);
    const double seconds = double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ::dprintf(3, "%.9f %ld %d\n", seconds, usage.ru_maxrss, code);
    return code;
}
