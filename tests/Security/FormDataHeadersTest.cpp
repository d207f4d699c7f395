// Form fields and file names chosen by someone else (a local file's name,
// a service's key) cannot end their header or add one of their own.
#include "HostileFake.h"

#include "DA/Upload/HFMIMEDocument.h"
#include "Net/NRFormDataRequest.h"

#include <gtest/gtest.h>

using Hostile::received;
using Hostile::url;

namespace {

// Sends the form; the body the server received (null when nothing came).
QString sent(const std::shared_ptr<NRFormDataRequest> &request, const QString &tag, bool *failed) {
    bool ended = false;
    *failed = false;
    request->setCompletionBlock([&] { ended = true; });
    request->setFailedBlock([&] { ended = *failed = true; });
    request->startAsynchronous();
    EXPECT_TRUE(VNTest::waitUntil([&] { return ended; }));
    const QList<QJsonObject> arrived = received(tag);
    return arrived.isEmpty() ? QString() : arrived.last()[QStringLiteral("body")].toString();
}

}  // namespace

TEST(FormData, NamesAndFileNamesCannotBreakOutOfTheirHeader) {
    QString tag = Hostile::tag();
    auto form = NRFormDataRequest::requestWithURL(url("a", tag + "/sink"));
    form->addPostValue(QStringLiteral("v"), QStringLiteral("k\"ey\r\nX-Injected: 1"));
    form->addData("payload", QStringLiteral("evil\".txt\r\nX-Injected: 2"), QStringLiteral("text/plain"),
                  QStringLiteral("file"));
    bool failed = false;
    const QString body = sent(form, tag, &failed);
    EXPECT_FALSE(failed);
    EXPECT_TRUE(body.contains(QLatin1String("name=\"k%22ey%0D%0AX-Injected: 1\"\r\n"))) << body.toStdString();
    EXPECT_TRUE(body.contains(QLatin1String("name=\"file\"; filename=\"evil%22.txt%0D%0AX-Injected: 2\"\r\n")));
    EXPECT_FALSE(body.contains(QLatin1String("\nX-Injected")));

    // A header value with a line break is refused before anything is sent,
    // by the form and by the data API's multipart writer.
    tag = Hostile::tag();
    form = NRFormDataRequest::requestWithURL(url("a", tag + "/sink"));
    form->addData("payload", QStringLiteral("f.txt"), QStringLiteral("text/plain\r\nX-Injected: 3"), QStringLiteral("file"));
    EXPECT_TRUE(sent(form, tag, &failed).isNull());
    EXPECT_TRUE(failed);
    HFMIMEDocument document;
    EXPECT_FALSE(document.addPartWithHeaders({{QStringLiteral("Content-Type"), QStringLiteral("a\r\nX-Injected: 4")}}, "x"));
    EXPECT_FALSE(document.addPartWithHeaders({{QStringLiteral("X\nY"), QStringLiteral("a")}}, "x"));
    EXPECT_TRUE(document.parts().isEmpty());
}
