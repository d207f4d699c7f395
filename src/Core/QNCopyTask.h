#pragma once

#include "Core/QNTask.h"

// A task of copy items: its description counts files and folders, its
// progress weighs the file items by size.
class QNCopyTask : public QNTask {
public:
    QNCopyTask() = default;
    // "Preparing copy", "Preparing copy and creating N folders", then
    // "Copy N files and N folders from A to B".
    QString description() const override;
    // Done bytes over all bytes of the file items; 0 when there are none.
    float progress() const override;
};
