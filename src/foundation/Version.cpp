#include "vantelkit/Version.h"

namespace vantelkit {

const char* libraryVersion() { return VANTELKIT_VERSION_STRING; }

}  // namespace vantelkit
