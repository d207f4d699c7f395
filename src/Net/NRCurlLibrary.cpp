// libcurl, loaded the first time a transfer needs it rather than at start:
// it brings some thirty other libraries (TLS, Kerberos, LDAP, SSH, ...)
// whose loading and set-up cost every start about 8 ms, while a start
// transfers nothing. The program is linked without libcurl; these functions
// stand for the library's own, the ones the program calls, and pass each
// call on to the loaded library.
#define CURL_DISABLE_TYPECHECK  // the checking macros would stand for the definitions below
#include <curl/curl.h>

#include "Platform/VNLazyLibrary.h"

#include <cstdarg>

static_assert(LIBCURL_VERSION_MAJOR >= 7, "libcurl.so.4 is the library of curl 7.16 and later");

namespace {

VNLazyLibrary &curlLibrary() {
    static VNLazyLibrary library("libcurl.so.4");
    return library;
}

// The library's function of that name, looked up once per function.
template <typename Function>
Function real(const char *name) {
    return reinterpret_cast<Function>(curlLibrary().requiredSymbol(name));
}

// The value of an option or the pointer of an information: always a long,
// a curl_off_t or a pointer, each passed as one 64-bit word, so one word
// passed on is the value itself.
static_assert(sizeof(long) == sizeof(void *) && sizeof(curl_off_t) == sizeof(void *));
void *variadicWord(va_list &arguments) {
    return va_arg(arguments, void *);
}

}  // namespace

extern "C" {

CURLcode curl_global_init(long flags) {
    static const auto f = real<decltype(&curl_global_init)>("curl_global_init");
    return f(flags);
}

CURL *curl_easy_init(void) {
    static const auto f = real<decltype(&curl_easy_init)>("curl_easy_init");
    return f();
}

CURLcode curl_easy_setopt(CURL *curl, CURLoption option, ...) {
    static const auto f = real<decltype(&curl_easy_setopt)>("curl_easy_setopt");
    va_list arguments;
    va_start(arguments, option);
    void *value = variadicWord(arguments);
    va_end(arguments);
    return f(curl, option, value);
}

CURLcode curl_easy_perform(CURL *curl) {
    static const auto f = real<decltype(&curl_easy_perform)>("curl_easy_perform");
    return f(curl);
}

void curl_easy_cleanup(CURL *curl) {
    static const auto f = real<decltype(&curl_easy_cleanup)>("curl_easy_cleanup");
    f(curl);
}

CURLcode curl_easy_getinfo(CURL *curl, CURLINFO info, ...) {
    static const auto f = real<decltype(&curl_easy_getinfo)>("curl_easy_getinfo");
    va_list arguments;
    va_start(arguments, info);
    void *where = variadicWord(arguments);
    va_end(arguments);
    return f(curl, info, where);
}

void curl_easy_reset(CURL *curl) {
    static const auto f = real<decltype(&curl_easy_reset)>("curl_easy_reset");
    f(curl);
}

CURLcode curl_easy_pause(CURL *curl, int bitmask) {
    static const auto f = real<decltype(&curl_easy_pause)>("curl_easy_pause");
    return f(curl, bitmask);
}

const char *curl_easy_strerror(CURLcode code) {
    static const auto f = real<decltype(&curl_easy_strerror)>("curl_easy_strerror");
    return f(code);
}

struct curl_slist *curl_slist_append(struct curl_slist *list, const char *text) {
    static const auto f = real<decltype(&curl_slist_append)>("curl_slist_append");
    return f(list, text);
}

void curl_slist_free_all(struct curl_slist *list) {
    static const auto f = real<decltype(&curl_slist_free_all)>("curl_slist_free_all");
    f(list);
}

CURLM *curl_multi_init(void) {
    static const auto f = real<decltype(&curl_multi_init)>("curl_multi_init");
    return f();
}

CURLMcode curl_multi_setopt(CURLM *multi, CURLMoption option, ...) {
    static const auto f = real<decltype(&curl_multi_setopt)>("curl_multi_setopt");
    va_list arguments;
    va_start(arguments, option);
    void *value = variadicWord(arguments);
    va_end(arguments);
    return f(multi, option, value);
}

CURLMcode curl_multi_cleanup(CURLM *multi) {
    static const auto f = real<decltype(&curl_multi_cleanup)>("curl_multi_cleanup");
    return f(multi);
}

CURLMcode curl_multi_add_handle(CURLM *multi, CURL *curl) {
    static const auto f = real<decltype(&curl_multi_add_handle)>("curl_multi_add_handle");
    return f(multi, curl);
}

CURLMcode curl_multi_remove_handle(CURLM *multi, CURL *curl) {
    static const auto f = real<decltype(&curl_multi_remove_handle)>("curl_multi_remove_handle");
    return f(multi, curl);
}

CURLMcode curl_multi_perform(CURLM *multi, int *running) {
    static const auto f = real<decltype(&curl_multi_perform)>("curl_multi_perform");
    return f(multi, running);
}

CURLMsg *curl_multi_info_read(CURLM *multi, int *left) {
    static const auto f = real<decltype(&curl_multi_info_read)>("curl_multi_info_read");
    return f(multi, left);
}

CURLMcode curl_multi_poll(CURLM *multi, struct curl_waitfd extra[], unsigned int count, int timeoutMs, int *ready) {
    static const auto f = real<decltype(&curl_multi_poll)>("curl_multi_poll");
    return f(multi, extra, count, timeoutMs, ready);
}

CURLMcode curl_multi_fdset(CURLM *multi, fd_set *read, fd_set *write, fd_set *error, int *maxFd) {
    static const auto f = real<decltype(&curl_multi_fdset)>("curl_multi_fdset");
    return f(multi, read, write, error, maxFd);
}

CURLMcode curl_multi_wakeup(CURLM *multi) {
    static const auto f = real<decltype(&curl_multi_wakeup)>("curl_multi_wakeup");
    return f(multi);
}

}  // extern "C"
