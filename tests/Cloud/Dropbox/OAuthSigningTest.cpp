// OAuth 1.0 signing and the query parser, against published worked examples.
#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequest.h"
#include "Cloud/DropboxSDK/Classes/OA1/OA1URLRequestParameter.h"

#include <gtest/gtest.h>

TEST(OA1Signing, Rfc5849ExampleBaseStringAndSignature) {
    // RFC 5849, 3.4.1.1: POST /request?b5=%3D%253D&a3=a&c%40=&a2=r%20b with the body c2&a3=2+q.
    OA1URLRequest request(QStringLiteral("POST"),
                          QUrl::fromEncoded("http://example.com/request?b5=%3D%253D&a3=a&c%40=&a2=r%20b"),
                          OA1CredentialConcreteStore("9djdj82h48djs9d2", "j49sk3j29djd", "kkk9d7dh3k39sjv7",
                                                     "dh893hdasih9"));
    request.setFormParameters(OA1URLRequestParameter::parametersFromString("c2&a3=2+q"));
    request.setNonce("7d8f3e4a");
    request.setTimestamp("137131201");
    request.setIncludesVersion(false);
    EXPECT_EQ(request.signatureBaseString(),
              "POST&http%3A%2F%2Fexample.com%2Frequest&a2%3Dr%2520b%26a3%3D2%2520q%26a3%3Da%26b5%3D%253D%25253D%26c%"
              "2540%3D%26c2%3D%26oauth_consumer_key%3D9djdj82h48djs9d2%26oauth_nonce%3D7d8f3e4a%26oauth_signature_"
              "method%3DHMAC-SHA1%26oauth_timestamp%3D137131201%26oauth_token%3Dkkk9d7dh3k39sjv7");
    // HMAC-SHA1 of that base string with "j49sk3j29djd&dh893hdasih9". (The value printed in the
    // RFC's section 3.1 does not follow from its own base string, a known erratum.)
    EXPECT_EQ(request.signature(), "r6/TJjbCOr97/+UU0NsvSne7s5g=");
    const QString header = request.authorizationHeader();
    EXPECT_TRUE(header.startsWith("OAuth oauth_consumer_key=\"9djdj82h48djs9d2\"")) << header.toStdString();
    EXPECT_TRUE(header.contains("oauth_signature=\"r6%2FTJjbCOr97%2F%2BUU0NsvSne7s5g%3D\"")) << header.toStdString();
}

TEST(OA1Signing, PublishedStatusUpdateExample) {
    // The widely published "signing a request" example: blanks, "+", "!" and "," in a form value, https.
    OA1URLRequest request(QStringLiteral("POST"),
                          QUrl("https://api.twitter.com/1.1/statuses/update.json?include_entities=true"),
                          OA1CredentialConcreteStore("xvz1evFS4wEEPTGEFPHBog",
                                                     "kAcSOqF21Fu85e7zjz7ZN2U4ZRhfV3WpwPAoE3Z7kBw",
                                                     "370773112-GmHxMAgYyLbNEtIKZeRNFsMKPR9EyMZeS9weJAEb",
                                                     "LswwdoUaIvS8ltyTt5jkRh4J50vUPVVHtR2YPi5kE"));
    request.setFormParameters({{"status", "Hello Ladies + Gentlemen, a signed OAuth request!"}});
    request.setNonce("kYjzVBB8Y0ZFabxSWbWovY3uYSQ2pTgmZeNu2VS4cg");
    request.setTimestamp("1318622958");
    EXPECT_EQ(request.signature(), "hCtSmYh+iHYCEqBWrE7C7hYmtUk=");
}

TEST(OA1Signing, BaseStringUriAndEncoding) {
    EXPECT_EQ(OA1URLRequest::baseStringURI(QUrl("HTTP://EXAMPLE.com:80/r%20v/X?id=123")), "http://example.com/r%20v/X");
    EXPECT_EQ(OA1URLRequest::baseStringURI(QUrl("https://www.example.net:8080/?q=1")), "https://www.example.net:8080/");
    EXPECT_EQ(OA1URLRequest::baseStringURI(QUrl("https://example.net:443")), "https://example.net/");
    // The host as the Host header carries it.
    EXPECT_EQ(OA1URLRequest::baseStringURI(QUrl("http://[::1]/r")), "http://[::1]/r");
    EXPECT_EQ(OA1URLRequest::baseStringURI(QUrl("https://[2001:DB8::7]:8443/")), "https://[2001:db8::7]:8443/");
    EXPECT_EQ(OA1URLRequest::baseStringURI(QUrl(QString::fromUtf8("http://Bücher.example/päth"))),
              "http://xn--bcher-kva.example/p%C3%A4th");
    EXPECT_EQ(OA1URLRequestParameter::encode(QString::fromUtf8("a b+c~d*é/")), "a%20b%2Bc~d%2A%C3%A9%2F");
}

TEST(OA1Parameters, ParameterDictionaryFromString) {
    struct Case {
        QString query;
        QMap<QString, QString> expected;
    };
    const QList<Case> cases = {
        {QString(), {}},
        {"", {}},
        {"code=4%2F0Ab&state=x", {{"code", "4/0Ab"}, {"state", "x"}}},
        // A pair with an empty value does not stop the parse.
        {"error=&code=abc", {{"error", ""}, {"code", "abc"}}},
        {"flag&code=abc", {{"flag", ""}, {"code", "abc"}}},
        // Split at the first "=" only; a later pair replaces an earlier one.
        {"a=1=2&a=3&b=x%3Dy", {{"a", "3"}, {"b", "x=y"}}},
        // Form encoding: names and values unescaped as UTF-8, "+" a blank, "%2B" a plus.
        {"n%41me+x=caf%C3%A9+ok&oauth_token_secret=a%2Bb", {{"nAme x", QString::fromUtf8("café ok")}, {"oauth_token_secret", "a+b"}}},
        // Escapes that are not UTF-8 are kept as sent.
        {"bad=%FF%FE&&uid=7", {{"bad", "%FF%FE"}, {"uid", "7"}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(OA1URLRequestParameter::parameterDictionaryFromString(c.query), c.expected) << c.query.toStdString();
}
