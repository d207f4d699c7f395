// The handler factory and the defaults of the handler base class.
#include "Core/QNCloudInterface.h"
#include "Core/QNCloudInterfaceFactory.h"

#include <gtest/gtest.h>

namespace {

using Kind = QNCloudInterfaceFactory::Kind;
using Setter = void (QNDriveConfig::*)(bool);

// A handler that only says which kind made it.
class NamedHandler : public QNCloudInterface {
public:
    NamedHandler(QNDriveConfigPtr c, QString name) : QNCloudInterface(std::move(c)), m_name(std::move(name)) {}
    QString className() const override { return m_name; }

private:
    QString m_name;
};

const std::vector<std::pair<Kind, Setter>> kFactoryOrder = {
    {Kind::MyFiles, &QNDriveConfig::setIsMyFiles},
    {Kind::Dropbox, &QNDriveConfig::setIsDropbox},
    {Kind::Office365, &QNDriveConfig::setIsOffice365},
    {Kind::GoogleDrive, &QNDriveConfig::setIsGoogleDrive},
    {Kind::GooglePhotos, &QNDriveConfig::setIsGooglePhotos},
    {Kind::Box, &QNDriveConfig::setIsBox},
    {Kind::Copy, &QNDriveConfig::setIsCopy},
    {Kind::Flickr, &QNDriveConfig::setIsFlickr},
    {Kind::SkyDrive, &QNDriveConfig::setIsSkyDrive},
    {Kind::SugarSync, &QNDriveConfig::setIsSugarSync},
    {Kind::WebDAV, &QNDriveConfig::setIsWebDAV},
    {Kind::FTP, &QNDriveConfig::setIsFTP},
    {Kind::Bitcasa, &QNDriveConfig::setIsBitcasa},
};

class HandlerFactory : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto &[kind, setter] : kFactoryOrder) {
            const QString name = QNCloudInterfaceFactory::handlerClassName(kind);
            QNCloudInterfaceFactory::registerHandler(
                kind, [name](const QNDriveConfigPtr &c) { return std::make_shared<NamedHandler>(c, name); });
        }
    }
    void TearDown() override {
        for (const auto &[kind, setter] : kFactoryOrder) QNCloudInterfaceFactory::unregisterHandler(kind);
        QNCloudInterfaceFactory::unregisterHandler(QStringLiteral("test-predicate"));
    }
};

}  // namespace

TEST_F(HandlerFactory, FirstFlagInOrderDecides) {
    for (size_t i = 0; i < kFactoryOrder.size(); ++i) {
        auto c = QNDriveConfig::create();
        for (size_t j = i; j < kFactoryOrder.size(); ++j) (c.get()->*kFactoryOrder[j].second)(true);
        auto handler = c->createCloudInterface();
        ASSERT_TRUE(handler) << i;
        EXPECT_EQ(handler->className(), QNCloudInterfaceFactory::handlerClassName(kFactoryOrder[i].first));
        EXPECT_EQ(handler->driveConfig(), c);
        EXPECT_NE(c->createCloudInterface(), handler) << "every call makes a new handler";
    }
}

TEST_F(HandlerFactory, KindsWithoutOrWithAnUnregisteredHandlerYieldNothing) {
    for (Setter s : {&QNDriveConfig::setIsSpiderOak, &QNDriveConfig::setIsEvernote, &QNDriveConfig::setIsS3,
                     &QNDriveConfig::setIsSFTP, &QNDriveConfig::setIsSMB, &QNDriveConfig::setIsArchive,
                     &QNDriveConfig::setIsMyPhotos}) {
        auto c = QNDriveConfig::create();
        (c.get()->*s)(true);
        EXPECT_FALSE(QNCloudInterfaceFactory::kindOf(*c).has_value());
        EXPECT_FALSE(c->createCloudInterface());
    }
    EXPECT_FALSE(QNDriveConfig::create()->createCloudInterface());
    // An unregistered kind yields nothing even if a later flag is set.
    QNCloudInterfaceFactory::unregisterHandler(Kind::Dropbox);
    auto c = QNDriveConfig::create();
    c->setIsDropbox(true);
    c->setIsBox(true);
    EXPECT_FALSE(c->createCloudInterface());
}

// The fallback is the base class, whose answers the test below checks.
TEST_F(HandlerFactory, FallbackAnswersForKindsWithoutHandler) {
    auto c = QNDriveConfig::create();
    c->setIsS3(true);
    auto handler = QNCloudInterfaceFactory::createOrFallback(c);
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->driveConfig(), c);
    EXPECT_EQ(handler->className(), "QNCloudInterface");
    auto box = QNDriveConfig::create();
    box->setIsBox(true);
    EXPECT_EQ(QNCloudInterfaceFactory::createOrFallback(box)->className(), "QNBoxHandler");
}

TEST_F(HandlerFactory, PredicatesComeFirst) {
    QNCloudInterfaceFactory::registerHandler(
        QStringLiteral("test-predicate"), [](const QNDriveConfig &c) { return c.url() == "special://"; },
        [](const QNDriveConfigPtr &c) { return std::make_shared<NamedHandler>(c, "Special"); });
    auto c = QNDriveConfig::create();
    c->setIsMyFiles(true);
    c->setUrl("special://");
    EXPECT_EQ(c->createCloudInterface()->className(), "Special");
    c->setUrl("other://");
    EXPECT_EQ(c->createCloudInterface()->className(), "QNMyDocumentsHandler");
}

// The base class answers every call before returning, so no caller waits forever.
TEST(HandlerBaseClass, EveryCallAnswersAtOnce) {
    auto c = QNDriveConfig::create();
    c->setIsSpiderOak(true);
    c->setUsedBytes(5);
    auto h = std::make_shared<QNCloudInterface>(c);
    auto doc = QNDocument::withPath("/a");
    int cancelledAnswers = 0;
    h->createFolder("x", doc, [&](QNDocumentPtr d, VNErrorPtr e, bool cancelled) {
        cancelledAnswers += !d && !e && cancelled;
    });
    h->quota(nullptr, [&](VNErrorPtr e, bool cancelled) { cancelledAnswers += !e && cancelled; });
    EXPECT_EQ(cancelledAnswers, 2);
    EXPECT_EQ(c->usedBytes(), 5);
    std::vector<VNErrorPtr> errors;
    auto onDoc = [&](QNDocumentPtr d, VNErrorPtr e, bool cancelled) {
        EXPECT_FALSE(d || cancelled);
        errors.push_back(e);
    };
    h->login([&](bool ok, VNErrorPtr e, bool cancelled) {
        EXPECT_FALSE(ok || cancelled);
        errors.push_back(e);
    });
    h->listDocuments(doc, "kw", [&](QNDocumentList docs, QString kw, VNErrorPtr e, bool cancelled) {
        EXPECT_TRUE(docs.isEmpty() && kw == "kw" && !cancelled);
        errors.push_back(e);
    });
    h->download(doc, doc, nullptr, onDoc);
    h->upload(doc, doc, nullptr, onDoc);
    h->remove(doc, onDoc);
    h->rename(doc, doc, onDoc);
    h->localCopy(doc, doc, onDoc);
    h->localMove(doc, doc, onDoc);
    h->linkForDocument(doc, onDoc);
    EXPECT_FALSE(h->oAuthLoginWithCompletedBlock([&](bool, VNErrorPtr e, bool) { errors.push_back(e); }));
    ASSERT_EQ(errors.size(), 10u);
    for (const auto &e : errors) {
        ASSERT_TRUE(e);
        EXPECT_EQ(e->code(), 42);
        EXPECT_TRUE(e->userInfo().value("error").toString().contains("not supported"));
        EXPECT_TRUE(e->userInfo().value("error").toString().contains("SpiderOak"));
    }
    // An empty OAuth answer says no, without an error, and uses the kept callback once.
    int answers = 0;
    h->setOAuthLoginCompleted([&](bool ok, VNErrorPtr e, bool cancelled) { answers += !ok && !e && !cancelled; });
    h->processOAuthLogin(QString());
    h->processOAuthLogin(QString());
    EXPECT_EQ(answers, 1);
    EXPECT_FALSE(h->oAuthLoginCompleted());
}
