#pragma once

#include "Formats/DXJsonBase.h"
#include "Formats/DXJsonValue.h"

#include <QByteArray>
#include <array>
#include <vector>

// Parses JSON text into a DXJsonValue tree. Numbers keep their exact decimal
// value, objects keep their members' order. On failure the result is
// undefined and errorTrace() says why, innermost error first.
//
// One parser serves one parse at a time; make one per thread.
class DXJsonParser : public DXJsonBase {
public:
    DXJsonParser();

    // An object or an array; any other valid value fails with code 4
    // ("Valid fragment, but not JSON"). A null text fails with code 12.
    DXJsonValue objectWithString(const QString &text);
    // A value of any kind.
    DXJsonValue fragmentWithString(const QString &text);
    // The same over UTF-8 bytes (a reply body), without a text round trip.
    // Bytes that are not valid UTF-8 inside a string fail the parse.
    DXJsonValue objectWithData(const QByteArray &utf8);
    DXJsonValue fragmentWithData(const QByteArray &utf8);

protected:
    // What a string that runs into the end of the text reports: the text
    // ends inside the string, or right after a backslash. Dialects differ.
    virtual void reportEndInString();
    virtual void reportEndInEscape();

private:
    DXJsonValue parse(const char *bytes, qsizetype length);
    DXJsonValue requireContainer(DXJsonValue value);
    bool parseValue(DXJsonValue &out);
    bool parseArray(DXJsonValue &out);
    bool parseObject(DXJsonValue &out);
    // Kept out of line, so that the frames of the readers above stay small.
    [[gnu::noinline]] bool fail(int code, const char *text);
    [[gnu::noinline]] bool parseStringValue(DXJsonValue &out);
    [[gnu::noinline]] void closeArray(size_t base, DXJsonValue &out);
    [[gnu::noinline]] bool failArray(size_t base, int code, const char *text);
    [[gnu::noinline]] void closeObject(size_t base, DXJsonValue &out);
    [[gnu::noinline]] bool failObject(size_t base, int code, const char *text);
    [[gnu::noinline]] bool failObjectValue(size_t base, const QString &key);
    // The rest of a string; for a key, *hash receives its hash (equal
    // texts, however escaped, hash alike).
    [[gnu::noinline]] bool parseString(QString &out, quint32 *hash);
    [[gnu::noinline]] bool parseEscapedString(QString &out, quint32 *hash);
    bool parseShortEscaped(QString &out, quint32 *hash);
    // The text of these ASCII bytes, shared with its recent equals; *hash
    // (when asked) receives its hash.
    void shareText(const char *bytes, qsizetype length, qsizetype readable, QString &out, quint32 *hash);
    bool parseNumber(DXJsonValue &out);
    bool parseUnicodeEscape(QString &out);
    bool readHexQuad(char16_t &unit);
    bool makeRun(const char *start, qsizetype length, bool nonAscii, QString &out);
    void skipWhiteSpace();

    const char *m_c = nullptr;
    const char *m_end = nullptr;

    // The elements and members of the containers being read, innermost
    // last: each container is made once, at its exact size, when it closes.
    std::vector<DXJsonValue> m_elements;
    std::vector<DXJsonObject::Member> m_members;
    std::vector<quint32> m_keyHashes;  // beside m_members

    // Recent short ASCII texts (keys above all) by their bytes, so a listing's
    // thousand "name" keys share one string.
    struct alignas(64) CachedString {
        quint8 length = 0;
        char bytes[31];
        QString text;
        quint32 lastMiss = 0;  // the hash of the last other text that fell here
    };
    std::array<CachedString, 1024> m_cache;
};
