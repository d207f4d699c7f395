// The service's end when its last owner lets go while a reply is parsed.
#include "DA/HTTPFetcher/FetchTestSupport.h"

#include "DA/Service/DAServiceGoogle.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNOperationQueue.h"

using namespace FetchTest;

// Every reference to the service dropped when the parse starts (a listing
// abandoned, or merely forgotten, while its reply is parsed): the service
// ends without waiting on its own parse worker, and a listing not cancelled
// is still answered.
TEST(ServiceEnd, LastReferenceDroppedWhileParsingEndsTheServiceAndFreesTheWorker) {
    for (const bool cancel : {true, false}) {
        auto s = DAServiceGoogle::make();
        s->setAuthToken(QStringLiteral("tok3n"));
        std::weak_ptr<DAServiceBase> weak = s;
        int answers = 0;
        DAServiceBase::setNotificationObserver([&](const QString &name, const DAServiceTicketPtr &ticket) {
            if (name != QLatin1String("kDAServiceTicketParsingStartedNotification"))
                return;
            // The parse waits until this callback has let go of the service,
            // and (abandoned) is cancelled while it waits: it then holds the
            // last reference.
            VNOperationQueue *parsing = s->operationQueue();
            parsing->setSuspended(true);
            VNDispatch::mainAsync([parsing, ticket, cancel] {
                if (cancel)
                    ticket->cancelTicket();
                parsing->setSuspended(false);
            });
            s.reset();
        });
        s->fetchFeedWithURL(fake(QStringLiteral("/data/feed?pages=1")),
                            [&](const DAServiceTicketPtr &, const DAObjectPtr &object, const VNErrorPtr &) { answers += object ? 1 : 0; });
        EXPECT_TRUE(VNTest::waitUntil([&] { return weak.expired(); })) << cancel;
        EXPECT_TRUE(VNOperationQueue::settleAllQueues(5000)) << "a parse worker never came back; cancel " << cancel;
        EXPECT_EQ(answers, cancel ? 0 : 1);
        DAServiceBase::setNotificationObserver(nullptr);
    }
}
