#pragma once

#include "Cloud/QNWebDAVHandler.h"

#include <QByteArray>
#include <memory>

// Reads a PROPFIND multistatus reply into documents while it arrives: the
// reply is fed in pieces to a streaming XML parser, and each response
// element becomes a document as soon as it is complete. No document tree
// and no copy of the whole reply is kept, so a folder of ten thousand
// entries is read in about the time its bytes take to come, in little
// memory.
//
// The rules are those of QNWebDAVHandler::parseListing(): the folder itself
// and entries with unusable names are dropped, documents come in reply order.
class QNWebDAVListingReader {
public:
    explicit QNWebDAVListingReader(QNWebDAVHandler::ListingContext context);
    ~QNWebDAVListingReader();
    QNWebDAVListingReader(const QNWebDAVListingReader &) = delete;
    QNWebDAVListingReader &operator=(const QNWebDAVListingReader &) = delete;

    // Hands the next piece of the reply to the parser.
    void feed(const char *data, qsizetype size);
    void feed(const QByteArray &piece) { feed(piece.constData(), piece.size()); }
    // Ends the reply. The documents read, or an empty list and *error when
    // the reply was not a multistatus document.
    QNDocumentList finish(VNErrorPtr *error);
    // How many entries the reply named that were left out for their names
    // (the folder itself is not one of them).
    int leftOutCount() const;

    struct State;  // the parser and what it has read so far (opaque)

private:
    std::unique_ptr<State> m_state;
};
