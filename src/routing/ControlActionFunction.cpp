#include "vantelkit/routing/ControlActionFunction.h"

namespace vantelkit {

const AttachmentKey& actionTrampolineKey() {
  static const AttachmentKey key;
  return key;
}

}  // namespace vantelkit
