#include "DA/BaseClasses/DAClasses.h"
#include "DA/Photos/DAPhotoEntries.h"
#include "DA/Photos/DAPhotoFeeds.h"
#include "DA/Upload/HFReadMonitorInputStream.h"

namespace DAClasses {

void registerPhotoClasses() {
    for (DAClass cls : {DAEntryPhoto::staticClass(), DAEntryPhotoAlbum::staticClass(), DAEntryPhotoComment::staticClass(),
                        DAEntryPhotoTag::staticClass(), DAEntryPhotoUser::staticClass()})
        DAEntryBase::registerEntryClass(cls);
    for (DAClass cls : {DAFeedPhoto::staticClass(), DAFeedPhotoAlbum::staticClass(), DAFeedPhotoUser::staticClass()})
        DAFeedBase::registerFeedClass(cls);
    // The fetcher's request log sees streamed bodies through the read monitor.
    HFReadMonitorInputStream::registerForFetcherLogging();
}

}  // namespace DAClasses
