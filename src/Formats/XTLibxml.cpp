#include "Formats/XTLibxml.h"

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <mutex>

namespace XTLibxml {

void ensureInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

static void ignoreGeneric(void *, const char *, ...) {}

ErrorCapture::ErrorCapture() {
    ensureInitialised();
    // Both handlers are per thread in libxml2, so this does not disturb
    // parses running on other threads.
    m_previous = xmlStructuredError;
    m_previousContext = xmlStructuredErrorContext;
    m_previousGeneric = xmlGenericError;
    m_previousGenericContext = xmlGenericErrorContext;
    xmlSetStructuredErrorFunc(this, &ErrorCapture::handler);
    xmlSetGenericErrorFunc(nullptr, &ignoreGeneric);
}

ErrorCapture::~ErrorCapture() {
    xmlSetStructuredErrorFunc(m_previousContext, m_previous);
    xmlSetGenericErrorFunc(m_previousGenericContext, m_previousGeneric);
}

void ErrorCapture::handler(void *context, xmlErrorPtr error) {
    auto *self = static_cast<ErrorCapture *>(context);
    if (!self || !error)
        return;
    QString message = error->message ? QString::fromUtf8(error->message) : QStringLiteral("");
    while (message.endsWith(QLatin1Char('\n')))
        message.chop(1);
    self->m_lastMessage = message;
}

QString fromXml(const xmlChar *text) {
    if (!text)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char *>(text));
}

}  // namespace XTLibxml
