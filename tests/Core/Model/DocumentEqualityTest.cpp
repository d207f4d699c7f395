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

TEST(DocumentEquality, SamePathSameDrive) {
    EXPECT_TRUE(doc("d1", "/a.txt")->isEqualTo(doc("d1", "/a.txt")));
    EXPECT_FALSE(doc("d1", "/a.txt")->isEqualTo(doc("d2", "/a.txt")));
    EXPECT_FALSE(doc("d1", "/a.txt")->isEqualTo(doc("d1", "/b.txt")));
}

TEST(DocumentEquality, WithoutDriveIdOnlyItself) {
    auto a = doc(QString(), "/a.txt");
    auto b = doc(QString(), "/a.txt");
    EXPECT_FALSE(a->isEqualTo(b));
    EXPECT_FALSE(b->isEqualTo(a));
    // A document is always equal to itself.
    EXPECT_TRUE(a->isEqualTo(a));
    EXPECT_TRUE(a->isEqualTo(*a));
    EXPECT_FALSE(a->isEqualTo(QNDocumentPtr()));
}

TEST(DocumentEquality, AbsentPathsAreNeverEqual) {
    EXPECT_FALSE(doc("d", QString())->isEqualTo(doc("d", QString())));
}

TEST(DocumentEquality, IdWinsOverPath) {
    EXPECT_TRUE(doc("d", "/old/name", "42")->isEqualTo(doc("d", "/new/name", "42")));
    EXPECT_FALSE(doc("d", "/same", "42")->isEqualTo(doc("d", "/same", "43")));
}

TEST(DocumentEquality, NoteFolderNeedsIdAndPath) {
    auto a = doc("d", "/notes", "7");
    a->setIsNote(true);
    a->setIsDirectory(true);
    EXPECT_TRUE(a->isEqualTo(doc("d", "/notes", "7")));
    EXPECT_FALSE(a->isEqualTo(doc("d", "/other", "7")));
    // A note that is no folder compares by id only.
    auto b = doc("d", "/notes", "7");
    b->setIsNote(true);
    EXPECT_TRUE(b->isEqualTo(doc("d", "/other", "7")));
}

TEST(DocumentEquality, FileObjectComparesOnlyTheObjects) {
    auto a = doc("d", "/x");
    auto b = doc("d", "/y");
    a->setFileObject(std::make_shared<Entry>("e1"));
    b->setFileObject(std::make_shared<Entry>("e1"));
    EXPECT_TRUE(a->isEqualTo(b));
    b->setFileObject(std::make_shared<Entry>("e2"));
    EXPECT_FALSE(a->isEqualTo(b));
    // The other side has no object: not equal even with equal paths.
    EXPECT_FALSE(a->isEqualTo(doc("d", "/x")));
}

TEST(DocumentEquality, NotSymmetricAcrossKindsOfIdentity) {
    auto withId = doc("d", "/a", "1");
    auto withPath = doc("d", "/a");
    EXPECT_FALSE(withId->isEqualTo(withPath));  // compares ids: the other has none
    EXPECT_TRUE(withPath->isEqualTo(withId));   // compares paths
}

TEST(DocumentModel, WithPathNamesTheLastComponent) {
    EXPECT_EQ(QNDocument::withPath("/a/b/c.txt")->displayName(), "c.txt");
    EXPECT_EQ(QNDocument::withPath("/a/b/", true)->displayName(), "b");
    EXPECT_EQ(QNDocument::withPath("/", true)->displayName(), "/");
    auto d = QNDocument::create();
    EXPECT_TRUE(d->path().isNull());
    EXPECT_FALSE(d->isDirectory());
    EXPECT_EQ(d->size(), 0);
    EXPECT_FALSE(d->date().isValid());
}
