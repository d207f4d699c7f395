#include "VNLazyLibrary.h"

#include <QtGlobal>

#include <dlfcn.h>

VNLazyLibrary::VNLazyLibrary(const char *soname) : m_soname(soname) {}

void VNLazyLibrary::load() {
    // Its symbols stay its own (RTLD_LOCAL): nothing else in the process
    // binds to them by accident.
    m_handle = ::dlopen(m_soname, RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char *why = ::dlerror();
        std::lock_guard lock(m_mutex);
        m_error = QString::fromLocal8Bit(why ? why : m_soname);
    }
}

void *VNLazyLibrary::symbol(const char *name) {
    std::call_once(m_loaded, [this] { load(); });
    if (!m_handle)
        return nullptr;
    // Looked up in the library and in those it brought with it.
    void *address = ::dlsym(m_handle, name);
    if (!address) {
        std::lock_guard lock(m_mutex);
        m_error = QStringLiteral("%1 has no function %2").arg(QLatin1String(m_soname), QLatin1String(name));
    }
    return address;
}

void *VNLazyLibrary::requiredSymbol(const char *name) {
    void *address = symbol(name);
    if (!address)
        qFatal("A library this program needs could not be loaded: %s", qPrintable(errorString()));
    return address;
}

QString VNLazyLibrary::errorString() {
    std::lock_guard lock(m_mutex);
    return m_error;
}
