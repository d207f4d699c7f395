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

TEST(ErrorWrapper, HandlerMessageBecomesTheDescription) {
    const auto wrapper = QNErrorWrapper::wrap(handlerError("Could not connect to host"));
    EXPECT_EQ(wrapper->localizedDescription(), "Could not connect to host");
    EXPECT_EQ(wrapper->description(), "Could not connect to host");
    // Through the base class too: alerts only see a VNErrorPtr.
    const VNErrorPtr asError = wrapper;
    EXPECT_EQ(asError->localizedDescription(), "Could not connect to host");
}

TEST(ErrorWrapper, CarriesDomainCodeAndUserInfo) {
    const VNErrorPtr inner = handlerError("boom");
    const QNErrorWrapper wrapper(inner);
    EXPECT_EQ(wrapper.domain(), "QNFTPHandler");
    EXPECT_EQ(wrapper.code(), 42);
    EXPECT_EQ(wrapper.userInfo(), inner->userInfo());
    EXPECT_EQ(wrapper.error(), inner);
}

TEST(ErrorWrapper, WithoutMessageUsesTheWrappedTexts) {
    const VNErrorPtr inner = VNError::withDescription("NRHTTPRequestErrorDomain", 2, "The request timed out");
    const QNErrorWrapper wrapper(inner);
    EXPECT_EQ(wrapper.localizedDescription(), "The request timed out");
    EXPECT_EQ(wrapper.description(),
              "Error Domain=NRHTTPRequestErrorDomain Code=2 \"The request timed out\"");

    const QNErrorWrapper bare(std::make_shared<VNError>("Flickr", 7));
    EXPECT_EQ(bare.localizedDescription(), VNError("Flickr", 7).localizedDescription());
}

TEST(ErrorWrapper, EmptyOrNonTextMessageFallsBack) {
    const VNErrorPtr empty = std::make_shared<VNError>(
        "QNBoxHandler", 42, QVariantMap{{"error", ""}, {VNError::localizedDescriptionKey(), "Upload failed"}});
    EXPECT_EQ(QNErrorWrapper(empty).localizedDescription(), "Upload failed");

    const VNErrorPtr nested = handlerError(QVariantMap{{"code", 1}});
    EXPECT_EQ(QNErrorWrapper(nested).localizedDescription(), nested->localizedDescription());
}

TEST(ErrorWrapper, WrappingAWrapper) {
    const auto once = QNErrorWrapper::wrap(VNError::withDescription("D", 1, "inner text"));
    const QNErrorWrapper twice(once);
    EXPECT_EQ(twice.localizedDescription(), "inner text");
    EXPECT_EQ(twice.description(), once->description());
}

TEST(ErrorWrapper, NullErrorDoesNotCrash) {
    const QNErrorWrapper wrapper(nullptr);
    EXPECT_EQ(wrapper.error(), nullptr);
    EXPECT_EQ(wrapper.code(), 0);
    EXPECT_FALSE(wrapper.localizedDescription().isEmpty());
    EXPECT_FALSE(wrapper.description().isEmpty());
}
