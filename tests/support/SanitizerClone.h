#pragma once

// Included once by each test main. Under the thread sanitizer, QProcess
// starts its children with clone(CLONE_VM | CLONE_VFORK): the child then runs
// the sanitizer's fork bookkeeping in the parent's own memory, and the parent
// thread comes back with its bookkeeping counted twice; from then on the
// sanitizer ignores every lock that thread takes and reports each hand-off
// from it as a race. Such children are made with a plain fork instead.

#if defined(__SANITIZE_THREAD__)
#include <cstdarg>
#include <dlfcn.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef CLONE_PIDFD
#define CLONE_PIDFD 0x00001000
#endif

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...) {
    va_list rest;
    va_start(rest, arg);
    pid_t *parentTid = va_arg(rest, pid_t *);
    void *tls = va_arg(rest, void *);
    pid_t *childTid = va_arg(rest, pid_t *);
    va_end(rest);
    if ((flags & CLONE_VM) && !(flags & CLONE_THREAD)) {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(fn(arg));
        if (pid > 0 && (flags & CLONE_PIDFD))
            *reinterpret_cast<int *>(parentTid) = int(syscall(SYS_pidfd_open, pid, 0));
        return pid;
    }
    using Clone = int (*)(int (*)(void *), void *, int, void *, ...);
    static const auto next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    return next(fn, stack, flags, arg, parentTid, tls, childTid);
}
#endif
