#pragma once

#include "Core/QNTask.h"

// A task of move items: described and weighed as a copy task.
class QNMoveTask : public QNTask {
public:
    QNMoveTask() = default;
    // "Preparing move", "Preparing move and creating N folders", then
    // "Move N files and N folders from A to B".
    QString description() const override;
    float progress() const override;
};
