// The bookkeeping of a page tree: which waits are made (never one closing a
// circle, never one for a request's own resource or for one that is over),
// and who goes on when a request ends.
#include "Net/NRWebPageRequest.h"
#include "Net/NRWebPageTree.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

// A tree of requests that are never started: "P" the top page, each other
// request fetched by the one named with it.
struct Tree {
    explicit Tree(const std::vector<std::pair<QString, QString>> &fetched) {
        add(QStringLiteral("P"), QString());
        for (const auto &[key, parent] : fetched)
            add(key, parent);
    }
    void add(const QString &key, const QString &parent) {
        requests[key] = NRWebPageRequest::requestWithURL(QUrl(QStringLiteral("http://h/") + key));
        tree.add(key, requests[key], parent);
    }
    QStringList awaiting() const {
        QStringList keys;
        for (const auto &[key, request] : requests)
            if (request && tree.isAwaiting(key))
                keys << key;
        return keys;
    }
    QStringList ended(const QString &key) {
        QStringList freed;
        for (const auto &request : tree.ended(key, QVariantMap()))
            freed << request->url().path().mid(1);
        freed.sort();
        return freed;
    }
    NRWebPageTree tree;
    std::map<QString, std::shared_ptr<NRWebPageRequest>> requests;
};

}  // namespace

TEST(WebPageTree, AWaitIsMadeUnlessItClosesACircleOrNeedsNone) {
    enum Kind { Waits, Ends, Goes };
    struct Step {
        Kind kind;
        QString who;
        QSet<QString> keys;  // what it waits for
    };
    const struct {
        const char *name;
        std::vector<std::pair<QString, QString>> fetched;
        std::vector<Step> steps;  // in order: requests starting their resources, ending, going
        QStringList awaiting;
    } rows[] = {
        {"sheets naming a resource another fetches", {{"A", "P"}, {"B", "P"}, {"X", "P"}},
         {{Waits, "A", {"X"}}, {Waits, "B", {"X"}}}, {"A", "B"}},
        {"a sheet importing its importer", {{"A", "P"}, {"B", "A"}}, {{Waits, "B", {"A"}}}, {}},
        {"two sheets importing each other", {{"A", "P"}, {"B", "P"}}, {{Waits, "A", {"B"}}, {Waits, "B", {"A"}}}, {"A"}},
        {"a circle of three through waits", {{"A", "P"}, {"B", "P"}, {"C", "P"}},
         {{Waits, "A", {"B"}}, {Waits, "B", {"C"}}, {Waits, "C", {"A"}}}, {"A", "B"}},
        {"a circle through a fetch and a wait", {{"A", "P"}, {"B", "P"}, {"C", "B"}},
         {{Waits, "A", {"C"}}, {Waits, "C", {"A"}}}, {"A"}},
        {"a page framing itself", {}, {{Waits, "P", {"P"}}}, {}},
        {"a page naming its own resource twice", {{"X", "P"}}, {{Waits, "P", {"X"}}}, {}},
        {"a resource that has ended", {{"A", "P"}, {"X", "P"}}, {{Ends, "X", {}}, {Waits, "A", {"X"}}}, {}},
        {"a resource that is gone", {{"A", "P"}, {"X", "P"}}, {{Goes, "X", {}}, {Waits, "A", {"X"}}}, {}},
        {"a resource gone while awaited", {{"A", "P"}, {"X", "P"}}, {{Waits, "A", {"X"}}, {Goes, "X", {}}}, {}},
        {"no circle through a request that has ended", {{"T", "P"}, {"E", "P"}, {"B", "P"}},
         {{Waits, "T", {"E"}}, {Waits, "E", {"B"}}, {Ends, "E", {}}, {Waits, "B", {"T"}}}, {"B"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Tree t(row.fetched);
        for (const Step &step : row.steps) {
            if (step.kind == Waits)
                t.tree.await(step.who, step.keys);
            else if (step.kind == Ends)
                t.ended(step.who);
            else
                t.requests[step.who].reset();
        }
        EXPECT_EQ(t.awaiting(), row.awaiting) << t.awaiting().join(' ').toStdString();
    }
}

// Who goes on when a request ends: each waiter once it waits for nothing
// more, whatever the order of the ends; a second end of a request is none.
TEST(WebPageTree, AWaiterGoesOnOnceEverythingItWaitsForHasEnded) {
    Tree t({{"A", "P"}, {"B", "P"}, {"X", "P"}, {"Y", "P"}});
    t.tree.await(QStringLiteral("A"), {QStringLiteral("X"), QStringLiteral("Y")});
    t.tree.await(QStringLiteral("B"), {QStringLiteral("X")});
    EXPECT_EQ(t.ended(QStringLiteral("Y")), QStringList{});
    EXPECT_EQ(t.ended(QStringLiteral("Y")), QStringList{});
    EXPECT_EQ(t.ended(QStringLiteral("X")), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
    EXPECT_EQ(t.ended(QStringLiteral("X")), QStringList{});
    EXPECT_TRUE(t.awaiting().isEmpty()) << t.awaiting().join(' ').toStdString();
    // Its copy is the first one given.
    Tree u({{"A", "P"}, {"X", "P"}});
    u.tree.ended(QStringLiteral("X"), {{QStringLiteral("Data"), QByteArray("first")}});
    u.tree.ended(QStringLiteral("X"), QVariantMap());
    EXPECT_EQ(u.tree.copyOf(QStringLiteral("X")).value(QStringLiteral("Data")).toByteArray(), QByteArray("first"));
}
