#pragma once

#include <QByteArray>
#include <QRandomGenerator>

// A JSON file listing of about the given size (a folder's metadata with its
// contents), the same bytes for the same size: the input of the JSON
// benchmarks.
inline QByteArray makeListing(qsizetype targetBytes) {
    QRandomGenerator rng(42);
    static const char *icons[] = {"page_white_picture", "page_white_acrobat", "folder", "page_white_text", "page_white_excel"};
    static const char *mimes[] = {"image/jpeg", "application/pdf", "text/plain", "application/vnd.ms-excel"};
    QByteArray out = R"({"hash":"37eb1ba1849d4b0fb0b28caf7ef3af52","thumb_exists":false,"bytes":0,"path":"/Photos","is_dir":true,"icon":"folder","root":"dropbox","contents":[)";
    int i = 0;
    while (out.size() < targetBytes) {
        if (i)
            out += ',';
        const bool dir = rng.bounded(10) == 0;
        const quint64 bytes = dir ? 0 : rng.bounded(Q_UINT64_C(5000000000));
        out += R"({"size":")" + QByteArray::number(double(bytes) / 1024, 'f', 1) + R"( KB","rev":")" +
               QByteArray::number(rng.generate64(), 16) + R"(","thumb_exists":)" + (rng.bounded(2) ? "true" : "false") +
               R"(,"bytes":)" + QByteArray::number(bytes) +
               R"(,"modified":"Tue, 19 Jul 2011 21:55:38 +0000","client_mtime":"Mon, 18 Jul 2011 18:04:35 +0000","path":"/Photos/Folder )" +
               QByteArray::number(i % 97) + "/IMG_" + QByteArray::number(i) + (i % 7 == 0 ? " caf\xc3\xa9 \\u00e9" : "") +
               R"(.jpg","is_dir":)" + (dir ? "true" : "false") + R"(,"icon":")" + icons[i % 5] +
               R"(","root":"dropbox","mime_type":")" + mimes[i % 4] + R"(","revision":)" + QByteArray::number(rng.bounded(1000000));
        if (i % 3 == 0)
            out += R"(,"photo_info":{"lat_long":[)" + QByteArray::number(rng.generateDouble() * 180 - 90, 'f', 14) + "," +
                   QByteArray::number(rng.generateDouble() * 360 - 180, 'f', 14) + R"(],"time_taken":"Wed, 28 Aug 2013 18:12:02 +0000"})";
        out += '}';
        ++i;
    }
    out += "],\"revision\":1}";
    return out;
}
