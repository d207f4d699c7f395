#include "Net/NRFormDataRequest.h"

#include <QFileInfo>
#include <QStringEncoder>
#include <QUuid>

NRFormDataRequest::NRFormDataRequest(const QUrl &url) : NRHTTPRequest(url) {
    setRequestMethod(QStringLiteral("POST"));
}

std::shared_ptr<NRFormDataRequest> NRFormDataRequest::requestWithURL(const QUrl &url) {
    return std::make_shared<NRFormDataRequest>(url);
}

#define FORM_LOCKED std::lock_guard<std::recursive_mutex> locker(m_mutex)

void NRFormDataRequest::addPostValue(const QVariant &value, const QString &key) {
    if (key.isNull())
        return;
    // A value goes as its text; a flag as its number ("1" or "0").
    const QString text = value.typeId() == QMetaType::Bool ? QString::number(int(value.toBool())) : value.toString();
    FORM_LOCKED;
    m_postData.append({key, text});
}

void NRFormDataRequest::setPostValue(const QVariant &value, const QString &key) {
    {
        FORM_LOCKED;
        m_postData.removeIf([&](const Field &f) { return f.key == key; });
    }
    addPostValue(value, key);
}

void NRFormDataRequest::addFile(const QString &path, const QString &key) { addFile(path, QString(), QString(), key); }

void NRFormDataRequest::addFile(const QString &path, const QString &fileName, const QString &contentType,
                                const QString &key) {
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        failWithError(makeError(InternalErrorWhileBuildingRequestType, QStringLiteral("No file exists at %1").arg(path)));
    Part part;
    part.key = key;
    part.fileName = fileName.isNull() ? info.fileName() : fileName;
    part.contentType = contentType.isNull() ? mimeTypeForFileAtPath(path) : contentType;
    if (part.contentType.isNull())
        part.contentType = QStringLiteral("application/octet-stream");
    part.filePath = path;
    FORM_LOCKED;
    m_fileData.append(part);
}

void NRFormDataRequest::setFile(const QString &path, const QString &key) { setFile(path, QString(), QString(), key); }

void NRFormDataRequest::setFile(const QString &path, const QString &fileName, const QString &contentType,
                                const QString &key) {
    removeParts(key);
    addFile(path, fileName, contentType, key);
}

void NRFormDataRequest::addData(const QByteArray &data, const QString &key) {
    addData(data, QStringLiteral("file"), QString(), key);
}

void NRFormDataRequest::addData(const QByteArray &data, const QString &fileName, const QString &contentType,
                                const QString &key) {
    Part part;
    part.key = key;
    part.fileName = fileName;
    part.contentType = contentType.isNull() ? QStringLiteral("application/octet-stream") : contentType;
    part.data = data;
    FORM_LOCKED;
    m_fileData.append(part);
}

void NRFormDataRequest::setData(const QByteArray &data, const QString &key) {
    setData(data, QStringLiteral("file"), QString(), key);
}

void NRFormDataRequest::setData(const QByteArray &data, const QString &fileName, const QString &contentType,
                                const QString &key) {
    removeParts(key);
    addData(data, fileName, contentType, key);
}

std::shared_ptr<NRHTTPRequest> NRFormDataRequest::copy() const {
    auto other = std::make_shared<NRFormDataRequest>(url());
    copySettingsTo(*other);
    FORM_LOCKED;
    other->m_postData = m_postData;
    other->m_fileData = m_fileData;
    other->m_postFormat = m_postFormat;
    other->m_stringEncoding = m_stringEncoding;
    // A body built into a temporary file belongs to this request, which
    // deletes it when it ends: the copy builds its form anew, into a file
    // of its own (never writing into this one's, nor sending one that may
    // be gone by then), so this one's failure to write its file is not the
    // copy's.
    if (didCreateTemporaryPostDataFile() && !(m_postData.isEmpty() && m_fileData.isEmpty()))
        other->forgetBuiltBody();
    return other;
}

// The HEAD request is of the form's own kind; it sends no body (a request made
// for another builds none), so the form's fields stay with the main request.
std::shared_ptr<NRHTTPRequest> NRFormDataRequest::HEADRequest() const {
    auto head = std::make_shared<NRFormDataRequest>(url());
    fillHEADRequest(*head);
    return head;
}

void NRFormDataRequest::removeParts(const QString &key) {
    FORM_LOCKED;
    m_fileData.removeIf([&](const Part &p) { return p.key == key; });
}

NRFormDataRequest::PostFormat NRFormDataRequest::postFormat() const { FORM_LOCKED; return m_postFormat; }
void NRFormDataRequest::setPostFormat(PostFormat format) { FORM_LOCKED; m_postFormat = format; }
QByteArray NRFormDataRequest::stringEncoding() const { FORM_LOCKED; return m_stringEncoding; }
void NRFormDataRequest::setStringEncoding(const QByteArray &name) { FORM_LOCKED; m_stringEncoding = name; }
QList<NRFormDataRequest::Field> NRFormDataRequest::postData() const { FORM_LOCKED; return m_postData; }
QList<NRFormDataRequest::Part> NRFormDataRequest::fileData() const { FORM_LOCKED; return m_fileData; }
void NRFormDataRequest::setPostData(const QList<Field> &fields) { FORM_LOCKED; m_postData = fields; }
void NRFormDataRequest::setFileData(const QList<Part> &parts) { FORM_LOCKED; m_fileData = parts; }

QString NRFormDataRequest::encodeURL(const QString &text) const {
    if (text.isEmpty())
        return QString(QLatin1String(""));
    QStringEncoder encoder(m_stringEncoding.constData());
    const QByteArray bytes = encoder.isValid() ? QByteArray(encoder.encode(text)) : text.toUtf8();
    // Unreserved characters but "~" stay; everything else is escaped.
    return QString::fromLatin1(bytes.toPercentEncoding(QByteArray(), QByteArray("~")));
}

void NRFormDataRequest::appendPostString(const QString &text) {
    QStringEncoder encoder(m_stringEncoding.constData());
    appendPostData(encoder.isValid() ? QByteArray(encoder.encode(text)) : text.toUtf8());
}

void NRFormDataRequest::buildPostBody() {
    FORM_LOCKED;
    if (haveBuiltPostBody())
        return;
    if (m_postData.isEmpty() && m_fileData.isEmpty()) {
        NRHTTPRequest::buildPostBody();
        return;
    }
    if (!m_fileData.isEmpty())
        setShouldStreamPostDataFromDisk(true);
    if (m_postFormat == URLEncodedPostFormat)
        buildURLEncodedPostBody();
    else
        buildMultipartFormDataPostBody();
    if (error())
        return;
    NRHTTPRequest::buildPostBody();
}

void NRFormDataRequest::buildURLEncodedPostBody() {
    if (!m_fileData.isEmpty()) {
        m_postFormat = MultipartFormDataPostFormat;
        buildMultipartFormDataPostBody();
        return;
    }
    addRequestHeader(QStringLiteral("Content-Type"),
                     QStringLiteral("application/x-www-form-urlencoded; charset=%1").arg(QString::fromLatin1(m_stringEncoding)));
    setupPostBody();
    for (int i = 0; i < m_postData.size(); ++i) {
        appendPostString(QStringLiteral("%1=%2%3")
                             .arg(encodeURL(m_postData[i].key), encodeURL(m_postData[i].value),
                                  i + 1 < m_postData.size() ? QStringLiteral("&") : QString()));
    }
}

// A name or file name inside a part header's quotes, escaped as RFC 7578
// (after HTML) does: a double quote and line breaks as percent escapes, so
// neither can end the quotes or start a header of its own.
static QString quotedHeaderText(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'"')
            out += QStringLiteral("%22");
        else if (c == u'\r')
            out += QStringLiteral("%0D");
        else if (c == u'\n')
            out += QStringLiteral("%0A");
        else
            out += c;
    }
    return out;
}

static bool holdsLineBreak(const QString &text) {
    return text.contains(u'\r') || text.contains(u'\n');
}

void NRFormDataRequest::buildMultipartFormDataPostBody() {
    for (const Part &part : std::as_const(m_fileData)) {
        if (holdsLineBreak(part.contentType)) {
            failWithError(makeError(InternalErrorWhileBuildingRequestType,
                                    QStringLiteral("A part's content type holds a line break")));
            return;
        }
    }
    const QString boundary = QStringLiteral("0xKhTmLbOuNdArY-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("multipart/form-data; charset=%1; boundary=%2")
                                                         .arg(QString::fromLatin1(m_stringEncoding), boundary));
    const QString separator = QStringLiteral("\r\n--%1\r\n").arg(boundary);
    appendPostString(QStringLiteral("--%1\r\n").arg(boundary));
    for (int i = 0; i < m_postData.size(); ++i) {
        appendPostString(QStringLiteral("Content-Disposition: form-data; name=\"%1\"\r\n\r\n").arg(quotedHeaderText(m_postData[i].key)));
        appendPostString(m_postData[i].value);
        if (i + 1 < m_postData.size() || !m_fileData.isEmpty())
            appendPostString(separator);
    }
    for (int i = 0; i < m_fileData.size(); ++i) {
        const Part &part = m_fileData[i];
        appendPostString(QStringLiteral("Content-Disposition: form-data; name=\"%1\"; filename=\"%2\"\r\n")
                             .arg(quotedHeaderText(part.key), quotedHeaderText(part.fileName)));
        appendPostString(QStringLiteral("Content-Type: %1\r\n\r\n").arg(part.contentType));
        if (!part.filePath.isNull()) {
            // A part whose file went away or cannot be read fails the
            // request before anything is sent, never an empty or short part.
            if (VNErrorPtr error = appendFileToPostBody(part.filePath)) {
                failWithError(error);
                return;
            }
        } else
            appendPostData(part.data);
        if (i + 1 < m_fileData.size())
            appendPostString(separator);
    }
    appendPostString(QStringLiteral("\r\n--%1--\r\n").arg(boundary));
}
