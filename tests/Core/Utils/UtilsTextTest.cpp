// Size and time texts, size parsing, UUIDs, captions, icon names, archive
// names and service addresses.
#include "Core/QNUtils.h"
#include "Platform/VNUserDefaults.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <gtest/gtest.h>

#include "QtPrinters.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <cstring>
#include <limits>

namespace {

// Size texts depend on the user's locale: pin it for each test.
class SizeText : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override { QLocale::setDefault(m_saved); }

private:
    QLocale m_saved;
};

constexpr qint64 KiB = 1024;
constexpr qint64 MiB = KiB * 1024;
constexpr qint64 GiB = MiB * 1024;
constexpr qint64 TiB = GiB * 1024;

}  // namespace

TEST_F(SizeText, StepsAreStrictlyAbove1024NegativesReadAsZeroAndTheSeparatorFollowsTheLocale) {
    const qint64 max = std::numeric_limits<qint64>::max();
    const std::vector<std::tuple<qint64, const char *, const char *>> cases{
        {0, "0.00 B", "0 B"},
        {-5, "0.00 B", "0 B"},
        {std::numeric_limits<qint64>::min(), "0.00 B", "0 B"},
        {1024, "1024.00 B", "1024 B"},
        {1025, "1.00 KB", "1 KB"},
        {1536, "1.50 KB", "2 KB"},
        {MiB, "1024.00 KB", "1024 KB"},
        {MiB + 1, "1.00 MB", "1 MB"},
        {3 * MiB, "3.00 MB", "3 MB"},
        {GiB + 1, "1.00 GB", "1 GB"},
        {TiB, "1024.00 GB", "1024 GB"},
        {TiB + 1, "1.00 TB", "1 TB"},
        {5 * TiB / 2, "2.50 TB", "3 TB"},
        {3 * TiB, "3.00 TB", "3 TB"},
        {max, "8388608.00 TB", "8388608 TB"},  // beyond a petabyte it stays in TB
    };
    for (const auto &[bytes, two, zero] : cases) {
        EXPECT_EQ(QNUtils::sizeString2(bytes), two) << bytes;
        EXPECT_EQ(QNUtils::sizeString0(bytes), zero) << bytes;
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(QNUtils::sizeString2(MiB + 1), "1,00 MB");
    EXPECT_EQ(QNUtils::sizeString2(1536), "1,50 KB");
}

TEST(SizeToNumber, UnitLettersNumbersAndWhatGivesZeroOrSaturates) {
    const qint64 max = std::numeric_limits<qint64>::max();
    const std::vector<std::pair<QString, qint64>> cases{
        {"1.5G", 1610612736},
        {"10B", 10},
        {"2K", 2048},
        {"3M", 3 * MiB},
        {"1T", TiB},
        {"0.5K", 512},
        {"1.0001B", 1},  // truncated
        {"-1.5K", -1536},
        {"5KB", 5},  // only the last letter is the unit
        {" 3M", 3 * MiB},
        {"1e3K", 1024000},
        {"12 apples K", 12 * KiB},  // leading number only
        {"12", 0},
        {"1.5g", 0},  // units are case-sensitive
        {"", 0},
        {QString(), 0},
        {"G", 0},
        {"abcK", 0},
        {"infT", 0},
        {"nanT", 0},
        {"99999999999T", max},
        {"1e400T", max},
        {"-1e400T", std::numeric_limits<qint64>::min()},
        {"1e-400T", 0},
    };
    for (const auto &[text, bytes] : cases)
        EXPECT_EQ(QNUtils::sizeToNumber(text), bytes) << text.toStdString();
}

TEST(Uuid, CanonicalUpperCaseFormFreshEachTime) {
    static const QRegularExpression form("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    QSet<QString> seen;
    for (int i = 0; i < 100; ++i)
        seen.insert(QNUtils::uuidString());
    EXPECT_EQ(seen.size(), 100);
    for (const QString &uuid : seen)
        ASSERT_TRUE(form.match(uuid).hasMatch()) << uuid.toStdString();
}

TEST(SecondsToTime, MinutesBelowAnHourHoursFromAnHour) {
    for (const auto &[seconds, text] : std::vector<std::pair<qint32, const char *>>{
             {0, "0:00"}, {59, "0:59"}, {61, "1:01"}, {3599, "59:59"}, {3600, "1:00:00"}, {3661, "1:01:01"},
             {90061, "25:01:01"}, {-3600, "-1:00:00"}, {std::numeric_limits<qint32>::max(), "596523:14:07"}})
        EXPECT_EQ(QNUtils::secondsToTime(seconds), text) << seconds;
}

TEST(IndexChar, FirstLetterInUpperCaseAndABlankBeforeFoldersWhenTheyComeFirst) {
    VNUserDefaults::standard().setBool(false, "showFoldersFirst");
    EXPECT_EQ(QNUtils::indexCharFor("apple", true), "A");
    EXPECT_EQ(QNUtils::indexCharFor("7zip", false), "#");
    EXPECT_EQ(QNUtils::indexCharFor(QString::fromUtf8("ärger"), false), QString::fromUtf8("Ä"));
    EXPECT_EQ(QNUtils::indexCharFor(QString::fromUtf8("😀 smile"), false), QString::fromUtf8("😀"));
    EXPECT_EQ(QNUtils::indexCharFor("", true), "");
    VNUserDefaults::standard().setBool(true, "showFoldersFirst");
    EXPECT_EQ(QNUtils::indexCharFor("apple", true), " A");
    EXPECT_EQ(QNUtils::indexCharFor("1999", true), " #");
    EXPECT_EQ(QNUtils::indexCharFor("apple", false), "A");
    VNUserDefaults::standard().removeObject("showFoldersFirst");
}

TEST(UtilsText, ArchiveNamesAndCaptions) {
    const std::vector<std::pair<const char *, bool>> archives{
        {"/a/b/photos.zip", true}, {"/a/b/PHOTOS.ZIP", true}, {"backup.tar.gz", true}, {"disk.iso", true},
        {"x.7z", true},            {"/bundle.jar/", true},    {"notes.txt", false},    {"zip", false},
        {"/folder.zip/readme", false}, {"archive.zipx", false}, {"", false},
    };
    for (const auto &[name, archive] : archives)
        EXPECT_EQ(QNUtils::fileIsArchive(name), archive) << name;
    const std::vector<std::pair<const char *, const char *>> names{
        {"DROPBOX", "Dropbox"}, {"BOX", "Box"}, {"MICROSOFT SKYDRIVE", "Microsoft SkyDrive"},
        {"SKYDRIVE PRO", "SkyDrive Pro"}, {"AN SMB SHARE", "an SMB Share"},
        {"MY DOCUMENTS (READ ONLY)", "My Documents (read only)"},
        {"Create a connection with Microsoft OneDrive", "Create a connection with Microsoft OneDrive"},
        {"dropbox", "dropbox"},  // case-sensitive
    };
    for (const auto &[text, expected] : names)
        EXPECT_EQ(QNUtils::decapName(text), expected) << text;
    const std::vector<std::pair<const char *, const char *>> descriptions{
        {"SHOW DOCUMENTS ON THIS MICROSOFT SKYDRIVE ACCOUNT", "Show documents on this SkyDrive account"},
        {"CREATE A CONNECTION WITH DROPBOX ACCOUNT", "Create a connection with Dropbox account"},
        {"SHOW DOCUMENTS ON SKYDRIVE PRO ACCOUNT", "Show documents on SkyDrive Pro account"},
        {"COPY (READ ONLY)", "Copy (read only)"},
    };
    for (const auto &[text, expected] : descriptions)
        EXPECT_EQ(QNUtils::decapDescription(text), expected) << text;
    // The add-drive list applies the name chain first.
    EXPECT_EQ(QNUtils::decapDescription(QNUtils::decapName("CREATE A CONNECTION WITH GOOGLE DRIVE")),
              "Create a connection with Google Drive");
}

namespace {

QByteArray ipv4(const char *address, quint16 port) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    inet_pton(AF_INET, address, &in.sin_addr);
    return QByteArray(reinterpret_cast<const char *>(&in), sizeof in);
}

QByteArray ipv6(const char *address, quint16 port, quint32 scope = 0) {
    sockaddr_in6 in{};
    in.sin6_family = AF_INET6;
    in.sin6_port = htons(port);
    in.sin6_scope_id = scope;
    inet_pton(AF_INET6, address, &in.sin6_addr);
    return QByteArray(reinterpret_cast<const char *>(&in), sizeof in);
}

}  // namespace

TEST(ServiceAddress, FirstIpAddressWithAPortOtherwiseNull) {
    sockaddr_un unixAddress{};
    unixAddress.sun_family = AF_UNIX;
    const QByteArray local(reinterpret_cast<const char *>(&unixAddress), sizeof unixAddress);
    const QByteArray truncated = ipv6("::1", 80).left(int(sizeof(sockaddr_in)));
    EXPECT_EQ(QNUtils::addressForNetService({ipv4("192.168.1.9", 0), ipv4("127.0.0.1", 8080)}),
              "127.0.0.1:8080");
    // Other families and short records are skipped.
    EXPECT_EQ(QNUtils::addressForNetService({local, truncated, QByteArray("x"), QByteArray(),
                                             ipv4("10.0.0.2", 21)}),
              "10.0.0.2:21");
    EXPECT_TRUE(QNUtils::addressForNetService({}).isNull());
    EXPECT_TRUE(QNUtils::addressForNetService({ipv4("127.0.0.1", 0), ipv6("::1", 0)}).isNull());
}

TEST(ServiceAddress, Ipv6IsBracketedAndALinkLocalOneKeepsItsZone) {
    const unsigned loopback = if_nametoindex("lo");
    ASSERT_NE(loopback, 0u);
    const std::vector<std::tuple<QByteArray, const char *, const char *, int>> cases{
        {ipv6("::1", 8080), "[::1]:8080", "::1", 8080},
        {ipv6("fe80::1", 80, loopback), "[fe80::1%25lo]:80", "fe80::1%lo", 80},
    };
    for (const auto &[record, address, host, port] : cases) {
        EXPECT_EQ(QNUtils::addressForNetService({record}), address);
        const QUrl url(QStringLiteral("http://%1/").arg(address));
        EXPECT_TRUE(url.isValid()) << address;
        EXPECT_EQ(url.host(), host);
        EXPECT_EQ(url.port(), port);
    }
    // An interface that no longer exists is named by its number.
    EXPECT_EQ(QNUtils::addressForNetService({ipv6("fe80::2", 443, 4242)}), "[fe80::2%254242]:443");
}
