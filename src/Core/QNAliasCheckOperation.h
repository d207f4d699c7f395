#pragma once

#include "Core/QNAliasCheck.h"
#include "Platform/VNOperation.h"

#include <functional>
#include <memory>

// An alias check as an operation of a task's queue: it keeps its slot from
// start until the check has answered (its check folders gone again), so the
// task waits for it, also after a cancel, which stops the check at its next
// step. Cancelled before it starts, it answers cancelled at once, having
// made nothing. It answers exactly once, before its slot is freed.
//
// The drop target's check (QNAliasCheck::standing()) keeps its slot only
// until its check folder stands: the copy then lists its tree on the same
// queue, and the check answers once the tree is listed.
class QNAliasCheckOperation : public VNOperation {
public:
    QNAliasCheckOperation(std::shared_ptr<QNAliasCheck> check, QNAliasCheck::Finished finished,
                          std::function<void()> standing = nullptr);

    bool isAsynchronous() const override { return true; }
    void start() override;
    void cancel() override;
    QString description() const override { return QStringLiteral("QNAliasCheckOperation"); }

private:
    std::shared_ptr<QNAliasCheck> m_check;
    QNAliasCheck::Finished m_finished;
    std::function<void()> m_standing;
};
