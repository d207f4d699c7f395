#pragma once

#include "Core/QNTask.h"

// A task of one download item.
class QNDownloadTask : public QNTask {
public:
    QNDownloadTask() = default;
    // "Download name from Service"; "Download" without items.
    QString description() const override;
    // The first item's progress; 0 without items.
    float progress() const override;
};
