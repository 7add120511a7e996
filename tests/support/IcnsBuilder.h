// Builds ".icns" bytes for tests: entries of a four-character type and a payload, with
// minimal PNG payloads of a given size (the writers of tools/fixtures).
#pragma once

#include "fixtures/IconFiles.h"

namespace vantelkit::testing {

using fixtures::bigEndian32;
using fixtures::icnsFile;
using fixtures::pngPayload;

}  // namespace vantelkit::testing
