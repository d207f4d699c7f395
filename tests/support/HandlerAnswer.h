#pragma once

// What one call of a drive's handler answered, and how many times, with the
// callbacks that record it. Answers come on the main thread.
#include "Core/QNCloudInterface.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace VNTest {

struct HandlerAnswer {
    int count = 0;
    bool success = false;
    QNDocumentPtr document;
    QNDocumentList documents;
    QString keyword;
    VNErrorPtr error;
    bool cancelled = false;
    // The "error" user-info text, or "".
    QString errorText() const {
        return error ? error->userInfo().value(QStringLiteral("error")).toString() : QString();
    }
    // The error's description, or "", for failure messages.
    std::string text() const { return error ? error->localizedDescription().toStdString() : std::string(); }
};
using HandlerAnswerPtr = std::shared_ptr<HandlerAnswer>;

inline QNDocumentCallback documentAnswer(const HandlerAnswerPtr &answer) {
    return [answer](QNDocumentPtr document, VNErrorPtr error, bool cancelled) {
        ++answer->count;
        answer->document = document;
        answer->error = error;
        answer->cancelled = cancelled;
    };
}

inline QNListCallback listAnswer(const HandlerAnswerPtr &answer) {
    return [answer](QNDocumentList documents, QString keyword, VNErrorPtr error, bool cancelled) {
        ++answer->count;
        answer->documents = documents;
        answer->keyword = keyword;
        answer->error = error;
        answer->cancelled = cancelled;
    };
}

inline QNQuotaCallback quotaAnswer(const HandlerAnswerPtr &answer) {
    return [answer](VNErrorPtr error, bool cancelled) {
        ++answer->count;
        answer->error = error;
        answer->cancelled = cancelled;
    };
}

inline QNLoginCallback loginAnswer(const HandlerAnswerPtr &answer) {
    return [answer](bool success, VNErrorPtr error, bool cancelled) {
        ++answer->count;
        answer->success = success;
        answer->error = error;
        answer->cancelled = cancelled;
    };
}

// Runs the main loop until the call answered, and a little longer so that a
// second answer would show; false when it never did.
inline bool waitForAnswer(const HandlerAnswerPtr &answer, int timeoutMs = 20000) {
    const bool answered = waitUntil([answer] { return answer->count > 0; }, timeoutMs);
    spin(30);
    return answered;
}

// Starts a call with a fresh answer and waits for it.
template <typename Start>
HandlerAnswerPtr answerOf(Start start, int timeoutMs = 60000) {
    auto answer = std::make_shared<HandlerAnswer>();
    start(answer);
    EXPECT_TRUE(waitUntil([answer] { return answer->count > 0; }, timeoutMs)) << "the handler never answered";
    return answer;
}

}  // namespace VNTest
