#pragma once

#include <QString>

#include <mutex>

// A shared library that only some of the program's work needs (network
// transfers, the desktop keyring), loaded when that work first asks for one
// of its functions rather than when the program starts. Libraries such as
// libcurl bring dozens of others with them, whose loading and set-up each
// start would pay even when nothing is transferred.
//
// Thread-safe; the library stays loaded to the end of the process.
class VNLazyLibrary {
public:
    // soname: the file name the system's loader knows it by ("libcurl.so.4").
    explicit VNLazyLibrary(const char *soname);

    // The function's address; null when the library or the function is
    // missing (errorString() says which).
    void *symbol(const char *name);
    // Like symbol(), but a missing function ends the program with a
    // message: for libraries the program cannot run without.
    void *requiredSymbol(const char *name);
    QString errorString();

private:
    void load();

    const char *m_soname;
    std::once_flag m_loaded;
    void *m_handle = nullptr;
    std::mutex m_mutex;
    QString m_error;
};
