// The data-API fetcher's password answers only its own origin's challenge:
// a redirect elsewhere leaves it behind.
#include "HostileFake.h"

#include "DA/HTTPFetcher/HFHTTPFetcher.h"

#include <gtest/gtest.h>

using Hostile::header;
using Hostile::received;
using Hostile::url;

TEST(DataAPIFetcher, PasswordAnswersOnlyItsOwnOriginsChallenge) {
    struct Row {
        const char *name;
        const char *target;  // origin the redirect goes to
        bool answered;       // the challenge there gets the password
    };
    const Row rows[] = {{"redirect within the origin", "a", true}, {"redirect to another port", "b", false}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QString tag = Hostile::tag();
        const QUrl target = url(row.target, tag + "/challenge");
        auto fetcher = HFHTTPFetcher::fetcherWithURL(url(
            "a", tag + "/redirect?to=" + QString::fromLatin1(QUrl::toPercentEncoding(target.toString()))));
        fetcher->setCredential(HFCredential{QStringLiteral("user"), QStringLiteral("s3cret")});
        bool done = false;
        fetcher->beginFetchWithCompletionHandler([&](const QByteArray &, const VNErrorPtr &) { done = true; });
        ASSERT_TRUE(VNTest::waitUntil([&] { return done; }, 30000));
        bool sent = false;
        for (const QJsonObject &entry : received(tag + "/challenge"))
            sent = sent || !header(entry, "Authorization").isEmpty();
        EXPECT_EQ(sent, row.answered);
    }
}
