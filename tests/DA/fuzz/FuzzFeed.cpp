// Parses arbitrary bytes as a feed of the class its kind names (photo
// user, album or photo feeds, else the base); whatever parses must read its
// values, copy, and write back bytes that parse again as a feed.
#include "DA/Photos/DAPhotoEntries.h"
#include "DA/Photos/DAPhotoFeeds.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    DAFeedBasePtr feed = DAFeedBase::feedOfRegisteredClassWithXMLData(bytes);
    if (!feed)
        return 0;
    feed->description();
    for (const DAEntryBasePtr &entry : feed->entries()) {
        entry->title();
        entry->publishedDate();
        entry->links();
        if (auto photo = std::dynamic_pointer_cast<DAEntryPhoto>(entry)) {
            photo->size();
            if (auto group = photo->mediaGroup())
                group->mediaThumbnails();
            if (auto tags = photo->EXIFTags())
                tags->tagDictionary();
            photo->geoLocation();
        }
        if (auto album = std::dynamic_pointer_cast<DAEntryPhotoAlbum>(entry))
            album->timestamp();
        // An entry written on its own is a document of its own.
        if (!DAXMLDocument::documentWithData(entry->XMLDocument()->XMLData()))
            abort();
    }
    DAObjectPtr copy = feed->copy();
    if (!copy->isEqual(*feed))
        abort();
    const QByteArray written = feed->XMLDocument()->XMLData();
    if (!DAFeedBase::feedOfRegisteredClassWithXMLData(written))
        abort();
    return 0;
}
