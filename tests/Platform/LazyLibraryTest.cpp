// A library loaded on first use: its functions found, and what is missing
// said rather than crashed on.
#include "Platform/VNLazyLibrary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

TEST(LazyLibrary, FindsAFunctionOfTheLibraryOnceForEveryThread) {
    VNLazyLibrary zlib("libz.so.1");
    std::vector<void *> found(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < found.size(); ++i)
        threads.emplace_back([&, i] { found[i] = zlib.symbol("zlibVersion"); });
    for (auto &t : threads)
        t.join();
    ASSERT_NE(found[0], nullptr) << qPrintable(zlib.errorString());
    for (void *address : found)
        EXPECT_EQ(address, found[0]);
    const auto version = reinterpret_cast<const char *(*)()>(found[0]);
    EXPECT_GT(std::strlen(version()), 0u);
    EXPECT_TRUE(zlib.errorString().isEmpty());
}

TEST(LazyLibrary, AMissingLibraryOrFunctionIsNullAndNamed) {
    const struct {
        const char *what;
        const char *soname;
        const char *function;
        const char *named;
    } cases[] = {
        {"no such library", "libvarnello-no-such-library.so.9", "zlibVersion", "libvarnello-no-such-library.so.9"},
        {"no such function", "libz.so.1", "varnello_no_such_function", "varnello_no_such_function"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        VNLazyLibrary library(c.soname);
        EXPECT_EQ(library.symbol(c.function), nullptr);
        EXPECT_TRUE(library.errorString().contains(QLatin1String(c.named))) << qPrintable(library.errorString());
    }
}

}  // namespace
