#pragma once

#include "Core/QNTask.h"

// A task of link items.
class QNLinkTask : public QNTask {
public:
    QNLinkTask() = default;
    // "Get links from Service"; "Link" without items.
    QString description() const override;
    // Finished items over items; 0 without items.
    float progress() const override;
};
