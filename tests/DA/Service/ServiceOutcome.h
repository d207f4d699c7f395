#pragma once

#include "DA/Service/DAServiceBase.h"
#include "Platform/VNDispatch.h"
#include "support/TestSupport.h"

#include <memory>

// What a service call answered: how often, on which thread, with what.
namespace ServiceTestSupport {

struct Outcome {
    int calls = 0;
    bool onMain = false;
    DAObjectPtr object;
    VNErrorPtr error;
};

// A completion that records its answer in out.
inline DAServiceBase::Completion record(const std::shared_ptr<Outcome> &out) {
    return [out](const DAServiceTicketPtr &, const DAObjectPtr &object, const VNErrorPtr &error) {
        ++out->calls;
        out->onMain = VNDispatch::isMainThread();
        out->object = object;
        out->error = error;
    };
}

// Waits for the first answer, then a little longer, so that a second
// (wrong) answer would show.
inline bool settle(const std::shared_ptr<Outcome> &out) {
    const bool ok = VNTest::waitUntil([&] { return out->calls > 0; }, 20000);
    VNTest::spin(50);
    return ok;
}

}  // namespace ServiceTestSupport
