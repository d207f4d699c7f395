#pragma once

#include "Core/QNTask.h"

// A task of one update-file item (a save-back).
class QNUpdateFileTask : public QNTask {
public:
    QNUpdateFileTask() = default;
    // "Update file to Service"; "Update" without items.
    QString description() const override;
    // The first item's progress; 0 without items.
    float progress() const override;
};
