#include "DA/BaseClasses/DAClasses.h"

namespace DAClasses {

void registerPhotoClasses() {}

}  // namespace DAClasses
