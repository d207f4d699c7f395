// The listener maps of tasks, items and the manager: snapshot calls, changes
// during a call, and registration from several threads at once.
#include "Core/QNListenerMap.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using Map = QNListenerMap<std::function<void(int)>>;

TEST(ListenerMap, ListenersUnregisteredDuringACallDoNotDisturbTheOthersAndAreNotCalledAfterwards) {
    Map map;
    std::vector<QString> calls;
    map.set("a", [&](int) { calls.push_back("a"); });
    map.set("b", [&](int) {
        calls.push_back("b");
        map.remove("b");
    });
    map.set("c", [&](int) {
        calls.push_back("c");
        map.remove("d");
    });
    map.set("d", [&](int) { calls.push_back("d"); });
    map.callAll(1);
    EXPECT_EQ(calls, (std::vector<QString>{"a", "b", "c"}));
    calls.clear();
    map.callAll(2);
    EXPECT_EQ(calls, (std::vector<QString>{"a", "c"}));
}

TEST(ListenerMap, ASecondRegistrationReplacesAndOneMadeDuringACallWaitsForTheNextPass) {
    Map map;
    int first = 0, second = 0, late = 0;
    map.set("k", [&](int) { ++first; });
    map.set("k", [&](int) {
        ++second;
        if (!map.contains("z"))
            map.set("z", [&](int) { ++late; });
    });
    EXPECT_EQ(map.count(), 1);
    map.callAll(0);
    EXPECT_EQ(first + late, 0);
    map.callAll(0);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(late, 1);
}

TEST(ListenerMap, ThreadsRegisteringAndCallingAtOnce) {
    Map map;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const QString key = QStringLiteral("%1-%2").arg(t).arg(i % 7);
                map.set(key, [](int) {});
                if (i % 3 == 0)
                    map.remove(key);
            }
        });
    }
    std::thread caller([&] {
        while (!stop.load())
            map.callAll(1);
    });
    for (auto &t : threads)
        t.join();
    stop.store(true);
    caller.join();
    map.clear();
    EXPECT_TRUE(map.isEmpty());
}
