#pragma once

// A rename cancelled while its request is held on the way by a fake of the
// webdrive_fake.py frame (its hold / held / release controls): the operation
// answers the cancel at once, the handler's own answer waits for the
// service's, and the service carries the rename out once released. A
// handler that heeds the cancel closes its connection meanwhile, which the
// fake sees.

#include "Core/QNRenameOperation.h"
#include "support/PeerRequest.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace VNTest {

// One control call of the fake: its JSON answer.
using FakeControl = std::function<QJsonObject(const QString &what, const QJsonObject &args)>;

// The control calls of a fake that serves them at base + "/__control/".
inline FakeControl fakeControlAt(const QString &base) {
    return [base](const QString &what, const QJsonObject &args) {
        const QByteArray body = QJsonDocument(args).toJson(QJsonDocument::Compact);
        const PeerReply reply = peerRequest(QUrl(base + QStringLiteral("/__control/") + what), body,
                                            what == QLatin1String("held") ? QStringLiteral("GET") : QString());
        return QJsonDocument::fromJson(reply.body).object();
    };
}

struct HeldRename {
    bool held = false;            // the fake held the rename's request
    bool answeredAtOnce = false;  // the operation answered the cancel within a second
    bool cancelled = false;       // ... as cancelled
    bool clientGaveUp = false;    // the handler closed the held request's connection
    bool ownAnswerCame = false;   // the handler answered after the release
    QNHandlerCallWatch::Answer own;
};

// Renames document to name on the drive, the rename's request held by the
// fake (the next that hold names: "method", and "contains", a text of its
// body), and cancels the operation while it is held.
inline HeldRename cancelARenameHeldOnItsWay(const QNDriveConfigPtr &drive, const QNDocumentPtr &document,
                                            const QNDocumentPtr &name, const QJsonObject &hold,
                                            const FakeControl &control) {
    HeldRename run;
    control(QStringLiteral("hold"), hold);
    auto answers = std::make_shared<int>(0);
    auto cancelled = std::make_shared<bool>(false);
    auto rename = std::make_shared<QNRenameOperation>(drive, document, name,
                                                      [answers, cancelled](QNDocumentPtr, VNErrorPtr, bool c) {
                                                          ++*answers;
                                                          *cancelled = c;
                                                      });
    rename->setChecksNewName(false);  // as a save-back sends it: the held request is the rename
    rename->start();
    const auto state = [&control] { return control(QStringLiteral("held"), {}); };
    run.held = waitUntil([&] { return state().value(QStringLiteral("held")).toBool(); }, 30000);
    rename->cancel();
    run.answeredAtOnce = waitUntil([&] { return *answers > 0; }, 1000);
    run.cancelled = *cancelled;
    // A handler that heeds the cancel closes its connection at once.
    run.clientGaveUp = waitUntil([&] { return state().value(QStringLiteral("gave_up")).toBool(); }, 1000);
    control(QStringLiteral("release"), {});
    const auto watch = rename->handlerCallWatch();
    run.ownAnswerCame = waitUntil([&] { return watch->waitUntilAnswered(std::chrono::steady_clock::now()); }, 30000);
    run.own = watch->answer();
    // Carried out on the service whatever the client did.
    waitUntil([&] { return state().value(QStringLiteral("done")).toBool(); }, 10000);
    return run;
}

// What a rename that runs to the service's answer shows in such a run.
inline void expectItRanToItsAnswer(const HeldRename &run) {
    EXPECT_TRUE(run.held) << "the rename never reached the service";
    EXPECT_TRUE(run.answeredAtOnce && run.cancelled) << "the cancel was not answered at once";
    EXPECT_FALSE(run.clientGaveUp) << "the rename was given up before the service had answered it";
    EXPECT_TRUE(run.ownAnswerCame) << "the handler never answered";
    EXPECT_TRUE(run.own.succeeded()) << "the service renamed, yet the handler did not say so";
}

}  // namespace VNTest
