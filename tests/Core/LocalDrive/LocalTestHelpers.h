#pragma once

#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Platform/VNDispatch.h"
#include "Platform/VNLog.h"
#include "support/TestSupport.h"

#include <QDir>
#include <atomic>
#include <mutex>
#include <vector>

// One recorded answer of a document call, plus the progress seen before it.
struct DocumentAnswer {
    std::mutex mutex;
    std::vector<double> progress;
    std::atomic<int> answers{0};
    QNDocumentPtr document;
    VNErrorPtr error;
    bool cancelled = false;
    bool answeredOnMain = true;

    QNProgressCallback progressCallback() {
        return [this](double f) {
            std::lock_guard lock(mutex);
            progress.push_back(f);
        };
    }
    QNDocumentCallback callback() {
        return [this](QNDocumentPtr d, VNErrorPtr e, bool c) {
            std::lock_guard lock(mutex);
            document = d;
            error = e;
            cancelled = c;
            answeredOnMain = VNDispatch::isMainThread();
            answers.fetch_add(1);
        };
    }
    bool wait() {
        return VNTest::waitUntil([this] { return answers.load() > 0; });
    }
};

inline std::shared_ptr<QNMyDocumentsHandler> makeLocalHandler() {
    QNCloudInterfaceFactory::registerCoreHandlers();
    return std::static_pointer_cast<QNMyDocumentsHandler>(
        QNMyDocumentsHandler::makeLocalDriveConfig()->createCloudInterface());
}

// Entries of a folder, hidden ones included.
inline QStringList folderEntries(const QString &path) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}
