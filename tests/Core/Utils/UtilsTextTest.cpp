// Size and time texts, size parsing, UUIDs, captions, icon names, archive
// names and service addresses.
#include "Core/QNUtils.h"
#include "Platform/VNLog.h"
#include "Platform/VNUserDefaults.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QUuid>
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

TEST_F(SizeText, StepsAreStrictlyAbove1024) {
    EXPECT_EQ(QNUtils::sizeString2(0), "0.00 B");
    EXPECT_EQ(QNUtils::sizeString2(1024), "1024.00 B");
    EXPECT_EQ(QNUtils::sizeString2(1025), "1.00 KB");
    EXPECT_EQ(QNUtils::sizeString2(1536), "1.50 KB");
    EXPECT_EQ(QNUtils::sizeString2(MiB), "1024.00 KB");
    EXPECT_EQ(QNUtils::sizeString2(MiB + 1), "1.00 MB");
    EXPECT_EQ(QNUtils::sizeString2(GiB + 1), "1.00 GB");
}

TEST_F(SizeText, NegativeCountsReadAsZero) {
    EXPECT_EQ(QNUtils::sizeString2(-5), "0.00 B");
    EXPECT_EQ(QNUtils::sizeString2(std::numeric_limits<qint64>::min()), "0.00 B");
}

TEST_F(SizeText, TerabytesGetTheirOwnUnit) {
    EXPECT_EQ(QNUtils::sizeString2(TiB), "1024.00 GB");
    EXPECT_EQ(QNUtils::sizeString2(TiB + 1), "1.00 TB");
    EXPECT_EQ(QNUtils::sizeString2(5 * TiB / 2), "2.50 TB");
    // Beyond a petabyte it stays in TB rather than capping.
    EXPECT_EQ(QNUtils::sizeString2(std::numeric_limits<qint64>::max()), "8388608.00 TB");
}

TEST_F(SizeText, DecimalSeparatorFollowsTheLocale) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(QNUtils::sizeString2(MiB + 1), "1,00 MB");
    EXPECT_EQ(QNUtils::sizeString2(1536), "1,50 KB");
}

TEST_F(SizeText, WholeNumberSizes) {
    EXPECT_EQ(QNUtils::sizeString0(-1), "0 B");
    EXPECT_EQ(QNUtils::sizeString0(1024), "1024 B");
    EXPECT_EQ(QNUtils::sizeString0(1025), "1 KB");
    EXPECT_EQ(QNUtils::sizeString0(3 * MiB), "3 MB");
    EXPECT_EQ(QNUtils::sizeString0(1536), "2 KB");
    EXPECT_EQ(QNUtils::sizeString0(3 * TiB), "3 TB");
}

TEST(SizeToNumber, UnitLetters) {
    EXPECT_EQ(QNUtils::sizeToNumber("1.5G"), 1610612736);
    EXPECT_EQ(QNUtils::sizeToNumber("10B"), 10);
    EXPECT_EQ(QNUtils::sizeToNumber("2K"), 2048);
    EXPECT_EQ(QNUtils::sizeToNumber("3M"), 3 * MiB);
    EXPECT_EQ(QNUtils::sizeToNumber("1T"), TiB);
    EXPECT_EQ(QNUtils::sizeToNumber("0.5K"), 512);
    EXPECT_EQ(QNUtils::sizeToNumber("1.0001B"), 1);  // truncated
    EXPECT_EQ(QNUtils::sizeToNumber("-1.5K"), -1536);
    EXPECT_EQ(QNUtils::sizeToNumber("5KB"), 5);  // only the last letter is the unit
    EXPECT_EQ(QNUtils::sizeToNumber(" 3M"), 3 * MiB);
    EXPECT_EQ(QNUtils::sizeToNumber("1e3K"), 1024000);
}

TEST(SizeToNumber, UnknownOrMissingUnitGivesZero) {
    EXPECT_EQ(QNUtils::sizeToNumber("12"), 0);
    EXPECT_EQ(QNUtils::sizeToNumber("1.5g"), 0);  // units are case-sensitive
    EXPECT_EQ(QNUtils::sizeToNumber(""), 0);
    EXPECT_EQ(QNUtils::sizeToNumber(QString()), 0);
}

TEST(SizeToNumber, TextThatIsNoNumberGivesZero) {
    EXPECT_EQ(QNUtils::sizeToNumber("G"), 0);
    EXPECT_EQ(QNUtils::sizeToNumber("abcK"), 0);
    EXPECT_EQ(QNUtils::sizeToNumber("infT"), 0);
    EXPECT_EQ(QNUtils::sizeToNumber("nanT"), 0);
    EXPECT_EQ(QNUtils::sizeToNumber("12 apples K"), 12 * KiB);  // leading number only
}

TEST(SizeToNumber, HugeValuesSaturate) {
    EXPECT_EQ(QNUtils::sizeToNumber("99999999999T"), std::numeric_limits<qint64>::max());
    EXPECT_EQ(QNUtils::sizeToNumber("1e400T"), std::numeric_limits<qint64>::max());
    EXPECT_EQ(QNUtils::sizeToNumber("-1e400T"), std::numeric_limits<qint64>::min());
    EXPECT_EQ(QNUtils::sizeToNumber("1e-400T"), 0);
}

TEST(Uuid, CanonicalUpperCaseForm) {
    static const QRegularExpression form(
        "^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");
    const QString uuid = QNUtils::uuidString();
    EXPECT_EQ(uuid.size(), 36);
    EXPECT_TRUE(form.match(uuid).hasMatch()) << uuid.toStdString();
    EXPECT_EQ(QUuid::fromString(uuid).version(), QUuid::Random);
}

TEST(Uuid, FreshEachTime) {
    QSet<QString> seen;
    for (int i = 0; i < 1000; ++i)
        seen.insert(QNUtils::uuidString());
    EXPECT_EQ(seen.size(), 1000);
}

TEST(SecondsToTime, MinutesBelowAnHour) {
    EXPECT_EQ(QNUtils::secondsToTime(0), "0:00");
    EXPECT_EQ(QNUtils::secondsToTime(59), "0:59");
    EXPECT_EQ(QNUtils::secondsToTime(61), "1:01");
    EXPECT_EQ(QNUtils::secondsToTime(3599), "59:59");
}

TEST(SecondsToTime, HoursFromAnHour) {
    EXPECT_EQ(QNUtils::secondsToTime(3600), "1:00:00");
    EXPECT_EQ(QNUtils::secondsToTime(3661), "1:01:01");
    EXPECT_EQ(QNUtils::secondsToTime(90061), "25:01:01");
    EXPECT_EQ(QNUtils::secondsToTime(-3600), "-1:00:00");
    EXPECT_EQ(QNUtils::secondsToTime(std::numeric_limits<qint32>::max()), "596523:14:07");
}

TEST(IndexChar, FirstLetterInUpperCase) {
    VNUserDefaults::standard().setBool(false, "showFoldersFirst");
    EXPECT_EQ(QNUtils::indexCharFor("apple", false), "A");
    EXPECT_EQ(QNUtils::indexCharFor("apple", true), "A");
    EXPECT_EQ(QNUtils::indexCharFor("7zip", false), "#");
    EXPECT_EQ(QNUtils::indexCharFor(QString::fromUtf8("ärger"), false), QString::fromUtf8("Ä"));
    EXPECT_EQ(QNUtils::indexCharFor(QString::fromUtf8("😀 smile"), false), QString::fromUtf8("😀"));
    EXPECT_EQ(QNUtils::indexCharFor("", true), "");
}

TEST(IndexChar, FoldersFirstPutsABlankBeforeFolders) {
    VNUserDefaults::standard().setBool(true, "showFoldersFirst");
    EXPECT_EQ(QNUtils::indexCharFor("apple", true), " A");
    EXPECT_EQ(QNUtils::indexCharFor("1999", true), " #");
    EXPECT_EQ(QNUtils::indexCharFor("apple", false), "A");
    VNUserDefaults::standard().removeObject("showFoldersFirst");
}

TEST(UtilsText, ArchiveNamesIconNamesAndCaptions) {
    const std::vector<std::pair<const char *, bool>> archives{
        {"/a/b/photos.zip", true}, {"/a/b/PHOTOS.ZIP", true}, {"backup.tar.gz", true}, {"disk.iso", true},
        {"x.7z", true},            {"/bundle.jar/", true},    {"notes.txt", false},    {"zip", false},
        {"/folder.zip/readme", false}, {"archive.zipx", false}, {"", false},
    };
    for (const auto &[name, archive] : archives)
        EXPECT_EQ(QNUtils::fileIsArchive(name), archive) << name;
    const std::vector<std::pair<const char *, const char *>> images{
        {"icon_mac.pdf", "drive-apple.png"}, {"icon_dropbox.pdf", "drive-dropbox.png"},
        {"icon_office365.pdf", "drive-office365.png"}, {"drive-ftp.png", "drive-ftp.png"},
        {"ICON_MAC.PDF", "ICON_MAC.PDF"},  // exact match only
        {"", ""},
    };
    for (const auto &[old, now] : images)
        EXPECT_EQ(QNUtils::redesignImageFor(old), now) << old;
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

TEST(ServiceAddress, FirstAddressWithAPort) {
    VNLog::clearCaptured();
    EXPECT_EQ(QNUtils::addressForNetService({ipv4("192.168.1.9", 0), ipv4("127.0.0.1", 8080)}),
              "127.0.0.1:8080");
    EXPECT_TRUE(VNLog::captured().contains("Found service at 127.0.0.1:8080"));
}

TEST(ServiceAddress, SkipsOtherFamiliesAndShortRecords) {
    sockaddr_un unixAddress{};
    unixAddress.sun_family = AF_UNIX;
    const QByteArray local(reinterpret_cast<const char *>(&unixAddress), sizeof unixAddress);
    const QByteArray truncated = ipv6("::1", 80).left(int(sizeof(sockaddr_in)));
    EXPECT_EQ(QNUtils::addressForNetService({local, truncated, QByteArray("x"), QByteArray(),
                                             ipv4("10.0.0.2", 21)}),
              "10.0.0.2:21");
}

TEST(ServiceAddress, NoUsableAddressGivesNull) {
    EXPECT_TRUE(QNUtils::addressForNetService({}).isNull());
    EXPECT_TRUE(QNUtils::addressForNetService({ipv4("127.0.0.1", 0), ipv6("::1", 0)}).isNull());
}

TEST(ServiceAddress, Ipv6IsBracketed) {
    const QString address = QNUtils::addressForNetService({ipv6("::1", 8080)});
    EXPECT_EQ(address, "[::1]:8080");
    const QUrl url("http://" + address + "/");
    EXPECT_TRUE(url.isValid());
    EXPECT_EQ(url.host(), "::1");
    EXPECT_EQ(url.port(), 8080);
}

TEST(ServiceAddress, LinkLocalIpv6KeepsItsZone) {
    const unsigned loopback = if_nametoindex("lo");
    ASSERT_NE(loopback, 0u);
    const QString address = QNUtils::addressForNetService({ipv6("fe80::1", 80, loopback)});
    EXPECT_EQ(address, "[fe80::1%25lo]:80");
    const QUrl url("http://" + address + "/");
    EXPECT_TRUE(url.isValid());
    EXPECT_EQ(url.host(), "fe80::1%lo");
    EXPECT_EQ(url.port(), 80);
    // An interface that no longer exists is named by its number.
    EXPECT_EQ(QNUtils::addressForNetService({ipv6("fe80::2", 443, 4242)}), "[fe80::2%254242]:443");
}
