#pragma once

#include <QString>
#include <libxml/xmlerror.h>

// Small helpers around libxml2 shared by the document tree classes.
namespace XTLibxml {

// Initialises libxml2 once for the whole program (thread-safe).
void ensureInitialised();

// While alive, collects the errors libxml2 raises on this thread instead of
// letting it print them, and keeps the last message.
class ErrorCapture {
public:
    ErrorCapture();
    ~ErrorCapture();
    ErrorCapture(const ErrorCapture &) = delete;
    ErrorCapture &operator=(const ErrorCapture &) = delete;

    bool hasError() const { return !m_lastMessage.isNull(); }
    // The last message (trailing line feed removed); null when none.
    const QString &lastMessage() const { return m_lastMessage; }

    static void handler(void *context, xmlErrorPtr error);

private:
    QString m_lastMessage;
    xmlStructuredErrorFunc m_previous;
    void *m_previousContext;
    xmlGenericErrorFunc m_previousGeneric;
    void *m_previousGenericContext;
};

QString fromXml(const xmlChar *text);

}  // namespace XTLibxml
