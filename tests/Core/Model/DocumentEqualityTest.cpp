// The document equality rule.
#include "Core/QNDocument.h"

#include <gtest/gtest.h>

namespace {

QNDocumentPtr doc(const QString &drive, const QString &path, const QString &id = QString()) {
    auto d = QNDocument::create();
    if (!drive.isNull())
        d->setDriveConfigId(drive);
    d->setPath(path);
    if (!id.isNull())
        d->setId(id);
    return d;
}

struct Entry : QNDocument::ServiceObject {
    explicit Entry(QString key) : key(std::move(key)) {}
    bool isEqualTo(const ServiceObject &other) const override {
        auto o = dynamic_cast<const Entry *>(&other);
        return o && o->key == key;
    }
    QString key;
};

}  // namespace

TEST(DocumentEquality, ByIdObjectOrPathOnOneDrive) {
    auto noteFolder = doc("d", "/notes", "7");
    noteFolder->setIsNote(true);
    noteFolder->setIsDirectory(true);
    auto note = doc("d", "/notes", "7");
    note->setIsNote(true);
    const auto withObject = [](const QString &path, const QString &key) {
        auto d = doc("d", path);
        d->setFileObject(std::make_shared<Entry>(key));
        return d;
    };
    const std::vector<std::tuple<const char *, QNDocumentPtr, QNDocumentPtr, bool>> cases{
        {"same path, same drive", doc("d1", "/a.txt"), doc("d1", "/a.txt"), true},
        {"other drive", doc("d1", "/a.txt"), doc("d2", "/a.txt"), false},
        {"other path", doc("d1", "/a.txt"), doc("d1", "/b.txt"), false},
        {"no drive id", doc(QString(), "/a.txt"), doc(QString(), "/a.txt"), false},
        {"no paths", doc("d", QString()), doc("d", QString()), false},
        {"same id, other path", doc("d", "/old/name", "42"), doc("d", "/new/name", "42"), true},
        {"other id, same path", doc("d", "/same", "42"), doc("d", "/same", "43"), false},
        {"note folder, same id and path", noteFolder, doc("d", "/notes", "7"), true},
        {"note folder, other path", noteFolder, doc("d", "/other", "7"), false},
        {"note, other path", note, doc("d", "/other", "7"), true},
        {"equal objects", withObject("/x", "e1"), withObject("/y", "e1"), true},
        {"other objects", withObject("/x", "e1"), withObject("/x", "e2"), false},
        {"object against none", withObject("/x", "e1"), doc("d", "/x"), false},
        // Not symmetric across kinds of identity.
        {"id against no id", doc("d", "/a", "1"), doc("d", "/a"), false},
        {"path against id", doc("d", "/a"), doc("d", "/a", "1"), true},
    };
    for (const auto &[what, a, b, equal] : cases)
        EXPECT_EQ(a->isEqualTo(b), equal) << what;
    // A document is always equal to itself, never to nothing.
    auto alone = doc(QString(), "/a.txt");
    EXPECT_TRUE(alone->isEqualTo(alone));
    EXPECT_TRUE(alone->isEqualTo(*alone));
    EXPECT_FALSE(alone->isEqualTo(QNDocumentPtr()));
}

TEST(DocumentModel, WithPathNamesTheLastComponent) {
    EXPECT_EQ(QNDocument::withPath("/a/b/c.txt")->displayName(), "c.txt");
    EXPECT_EQ(QNDocument::withPath("/a/b/", true)->displayName(), "b");
    EXPECT_EQ(QNDocument::withPath("/", true)->displayName(), "/");
}
