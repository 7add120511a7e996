// Finds the applications installed in the applications folder ("/Applications", through
// the root override) and reads each one's identity and icon: the light records the clean
// scanner matches cache and log folders against. Nested applications are not found (the
// scan does not descend into bundles); a bundle without the required information keys is
// skipped silently.
// Thread safety: as GroupProcedure. Read output() once the procedure has finished.
#pragma once

#include <memory>
#include <vector>

#include "vantelkit/applications/ApplicationBundle.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/OutputProcedure.h"

namespace vantelkit {

class ApplicationBundleScanProcedure : public GroupProcedure,
                                       public OutputProcedure<std::vector<std::shared_ptr<ApplicationBundle>>> {
 public:
  // The procedure with its file scan and result step added, ready to be queued. The output
  // lists the bundles in the order the scan met them; it stays pending when the scan ended
  // without a result (cancelled).
  static std::shared_ptr<ApplicationBundleScanProcedure> make();

  // Use make(); public for std::make_shared.
  struct Key {
   private:
    Key() = default;
    friend class ApplicationBundleScanProcedure;
  };
  explicit ApplicationBundleScanProcedure(Key);
};

}  // namespace vantelkit
