#pragma once

#include "Core/QNCloudInterfaceFactory.h"
#include "Core/QNMyDocumentsHandler.h"
#include "Platform/VNDispatch.h"
#include "support/TestSupport.h"

#include <QDir>
#include <atomic>
#include <map>
#include <gtest/gtest.h>
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

// One listing answer of the handler, waited for.
struct ListAnswer {
    QNDocumentList docs;
    QString keyword;
    VNErrorPtr error;
    bool cancelled = false;
    bool answeredOnMain = true;
    std::map<QString, QNDocumentPtr> byName() const {
        std::map<QString, QNDocumentPtr> names;
        for (const auto &d : docs)
            names[d->displayName()] = d;
        return names;
    }
};
inline ListAnswer listFolder(QNCloudInterface &handler, const QNDocumentPtr &folder, const QString &keyword) {
    auto answer = std::make_shared<ListAnswer>();
    auto answers = std::make_shared<std::atomic<int>>(0);
    handler.listDocuments(folder, keyword, [answer, answers](QNDocumentList d, QString kw, VNErrorPtr e, bool c) {
        *answer = ListAnswer{d, kw, e, c, VNDispatch::isMainThread()};
        answers->fetch_add(1);
    });
    EXPECT_TRUE(VNTest::waitUntil([answers] { return answers->load() > 0; }));
    VNTest::spin(20);
    EXPECT_EQ(answers->load(), 1);
    return *answer;
}

// Entries of a folder, hidden ones included.
inline QStringList folderEntries(const QString &path) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}
