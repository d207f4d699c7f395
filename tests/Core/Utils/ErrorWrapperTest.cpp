// The error wrapper: which text the alerts get, and that it carries the
// wrapped error's identity.
#include "Core/QNErrorWrapper.h"

#include <gtest/gtest.h>

#include "QtPrinters.h"

namespace {

VNErrorPtr handlerError(const QVariant &message) {
    return std::make_shared<VNError>("QNFTPHandler", 42, QVariantMap{{"error", message}, {"path", "/a"}});
}

}  // namespace

TEST(ErrorWrapper, HandlerMessageBecomesTheDescriptionAndTheIdentityIsKept) {
    const VNErrorPtr inner = handlerError("Could not connect to host");
    const auto wrapper = QNErrorWrapper::wrap(inner);
    EXPECT_EQ(wrapper->description(), "Could not connect to host");
    // Through the base class too: alerts only see a VNErrorPtr.
    EXPECT_EQ(VNErrorPtr(wrapper)->localizedDescription(), "Could not connect to host");
    EXPECT_EQ(wrapper->domain(), "QNFTPHandler");
    EXPECT_EQ(wrapper->code(), 42);
    EXPECT_EQ(wrapper->userInfo(), inner->userInfo());
    EXPECT_EQ(wrapper->error(), inner);
}

TEST(ErrorWrapper, WithoutATextMessageUsesTheWrappedTexts) {
    const VNErrorPtr timedOut = VNError::withDescription("NRHTTPRequestErrorDomain", 2, "The request timed out");
    EXPECT_EQ(QNErrorWrapper(timedOut).description(),
              "Error Domain=NRHTTPRequestErrorDomain Code=2 \"The request timed out\"");
    const VNErrorPtr nested = handlerError(QVariantMap{{"code", 1}});
    const auto once = QNErrorWrapper::wrap(VNError::withDescription("D", 1, "inner text"));
    EXPECT_EQ(QNErrorWrapper(once).description(), once->description());
    const std::vector<std::pair<VNErrorPtr, QString>> cases{
        {timedOut, "The request timed out"},
        {std::make_shared<VNError>("Flickr", 7), VNError("Flickr", 7).localizedDescription()},
        {std::make_shared<VNError>("QNBoxHandler", 42,
                                   QVariantMap{{"error", ""}, {VNError::localizedDescriptionKey(), "Upload failed"}}),
         "Upload failed"},
        {nested, nested->localizedDescription()},
        {once, "inner text"},  // a wrapper wrapped
    };
    for (const auto &[inner, text] : cases)
        EXPECT_EQ(QNErrorWrapper(inner).localizedDescription(), text) << inner->domain().toStdString();
}

TEST(ErrorWrapper, NullErrorDoesNotCrash) {
    const QNErrorWrapper wrapper(nullptr);
    EXPECT_EQ(wrapper.error(), nullptr);
    EXPECT_EQ(wrapper.code(), 0);
    EXPECT_FALSE(wrapper.localizedDescription().isEmpty());
    EXPECT_FALSE(wrapper.description().isEmpty());
}
