#pragma once

#include "Platform/VNOperation.h"

#include <functional>
#include <mutex>
#include <utility>

// One call of a handler that runs its calls one at a time on a queue of its
// own: started on the main thread, it holds the queue's slot until the call
// says it is done through the function it is given.
class QNSerialCallOperation : public VNOperation {
public:
    using Body = std::function<void(std::function<void()> done)>;
    explicit QNSerialCallOperation(Body body);

    bool isAsynchronous() const override { return true; }
    bool startsOnMainThread() const override { return true; }
    // Runs the call even when cancelled: a call answers once in any case,
    // and a cancelled handler answers it as cancelled.
    void start() override;

private:
    void finish();

    std::mutex m_mutex;
    Body m_body;
    bool m_started = false;
};
