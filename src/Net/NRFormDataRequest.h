#pragma once

#include "Net/NRHTTPRequest.h"

#include <QVariant>

// A request that sends an HTML form: named text fields and named file or
// data parts, in the order added. Only fields: the body is URL-encoded;
// as soon as a file or data part is added, multipart/form-data (file parts
// are read when the body is built, and the body goes through a temporary
// file on disk, never whole in memory).
class NRFormDataRequest : public NRHTTPRequest {
public:
    enum PostFormat { MultipartFormDataPostFormat = 0, URLEncodedPostFormat = 1 };

    struct Field {
        QString key;
        QString value;
    };
    struct Part {
        QString key;
        QString fileName;
        QString contentType;
        QByteArray data;   // the bytes, when not a file
        QString filePath;  // a file part: read when the body is built
    };

    explicit NRFormDataRequest(const QUrl &url);
    static std::shared_ptr<NRFormDataRequest> requestWithURL(const QUrl &url);

    // A field; the value is sent as its text. A null key does nothing.
    void addPostValue(const QVariant &value, const QString &key);
    // Replaces every field of that key.
    void setPostValue(const QVariant &value, const QString &key);
    // A file part; without a file name the file's own name, without a
    // content type the file's MIME type. A missing file (or a folder) fails
    // the request at once with code 6 "No file exists at <path>".
    void addFile(const QString &path, const QString &key);
    void addFile(const QString &path, const QString &fileName, const QString &contentType, const QString &key);
    void setFile(const QString &path, const QString &key);
    void setFile(const QString &path, const QString &fileName, const QString &contentType, const QString &key);
    // A data part; the file name defaults to "file", the content type to
    // "application/octet-stream".
    void addData(const QByteArray &data, const QString &key);
    void addData(const QByteArray &data, const QString &fileName, const QString &contentType, const QString &key);
    void setData(const QByteArray &data, const QString &key);
    void setData(const QByteArray &data, const QString &fileName, const QString &contentType, const QString &key);

    PostFormat postFormat() const;
    void setPostFormat(PostFormat format);
    // IANA name of the text encoding of fields and form text ("utf-8").
    QByteArray stringEncoding() const;
    void setStringEncoding(const QByteArray &ianaName);
    QList<Field> postData() const;
    void setPostData(const QList<Field> &fields);
    QList<Part> fileData() const;
    void setFileData(const QList<Part> &parts);

    // Percent-escapes a text for the URL-encoded body: everything but
    // letters, digits, "-", "." and "_" (a space is %20).
    QString encodeURL(const QString &text) const;

    std::shared_ptr<NRHTTPRequest> copy() const override;
    std::shared_ptr<NRHTTPRequest> HEADRequest() const override;

protected:
    void buildPostBody() override;

private:
    void buildURLEncodedPostBody();
    void buildMultipartFormDataPostBody();
    void appendPostString(const QString &text);
    void removeParts(const QString &key);

    QList<Field> m_postData;
    QList<Part> m_fileData;
    PostFormat m_postFormat = URLEncodedPostFormat;
    QByteArray m_stringEncoding = "utf-8";
};
