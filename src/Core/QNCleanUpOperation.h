#pragma once

#include "Platform/VNOperation.h"

#include <functional>

// Work that puts things right (removing what a task made) as a step of one
// of the task's queues: it runs when its turn comes even where the task was
// cancelled meanwhile, and keeps its slot until the work says it is done,
// so the task waits for it.
class QNCleanUpOperation : public VNOperation {
public:
    using Done = std::function<void()>;
    explicit QNCleanUpOperation(std::function<void(Done done)> work);

    bool isAsynchronous() const override { return true; }
    void start() override;
    QString description() const override { return QStringLiteral("QNCleanUpOperation"); }

private:
    std::function<void(Done done)> m_work;
};
