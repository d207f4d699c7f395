#include "DA/BaseClasses/DAClasses.h"

#include <mutex>

namespace DAClasses {

// Filled in by the service families (photo albums ...).
void registerPhotoClasses();

void registerAll() {
    static std::once_flag once;
    std::call_once(once, [] { registerPhotoClasses(); });
}

}  // namespace DAClasses
