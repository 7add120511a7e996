// The workspace of a Linux desktop: GIO content types from the shared MIME database.
#pragma once

#include <memory>

#include "vantelkit/platform/Workspace.h"

namespace vantelkit::platform {

std::shared_ptr<Workspace> makeGioWorkspace();

}  // namespace vantelkit::platform
