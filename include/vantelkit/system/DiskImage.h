// Whether a file lies on a volume of an attached disk image, so that the application can tell
// when it runs from its installer image. The images come from an information provider: the
// platform's disk-image tool ("hdiutil info -plist") where it exists, otherwise the attached
// loop devices, each as an image whose system entities are the device and its partitions.
// Thread safety: every function is safe to call from any thread; install a provider before
// concurrent use. isOnDiskImage may launch a process and block until it ends: call it off the
// main thread, or rarely.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "vantelkit/formats/Bundle.h"
#include "vantelkit/foundation/Value.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

class DiskImageInformationProvider {
 public:
  virtual ~DiskImageInformationProvider() = default;

  // The shared provider (the system's unless replaced).
  static DiskImageInformationProvider& shared();
  // Replaces the shared provider; null restores the system's.
  static void setShared(std::shared_ptr<DiskImageInformationProvider> provider);

  // The attached images as the disk-image tool describes them: a dictionary whose "images"
  // array holds dictionaries with a "system-entities" array of dictionaries with a
  // "dev-entry" text. None when the information cannot be had.
  virtual std::optional<Value> imageInformation() = 0;
};

// The loop devices of the platform as image information (see DiskImageInformationProvider),
// with each backing file under "image-path".
Value loopDeviceImageInformation();

// The walk over image information: true when a "dev-entry" equals device. The top level
// must be a dictionary whose "images" is an array; every image a dictionary whose
// "system-entities" is an array; every entity a dictionary whose "dev-entry" is a text. Images
// and entities are walked in order; the first element of a wrong type ends the walk with
// false, even when a later element would have matched.
bool imageInformationContainsDevice(const Value& information, std::string_view device);

// True when the parent folder of url lies on a volume mounted from a device of an attached
// disk image. The start-up volume answers false without asking for the images; every failure
// (the folder's volume cannot be found, the tool fails, its output is no property list)
// answers false.
bool isOnDiskImage(const FileURL& url);
// The same for the bundle's URL.
bool isOnDiskImage(const Bundle& bundle);

}  // namespace vantelkit
