// The GStreamer camera lists, for the application. No GStreamer types appear here.
//
//   openDeviceCameraList()           the machine's video sources (GstDeviceMonitor on
//                                    "Video/Source"), ids 0, 1, 2, ... in the monitor's order,
//                                    named by their display names. Writes "Error creating
//                                    device enumerator." or "No video hardware found." to
//                                    standard error when it ends up empty for those reasons.
//   openPipelineCameraList(texts)    one camera per GStreamer pipeline description (for example
//                                    "v4l2src device=/dev/video2" or "filesrc location=a.mp4"),
//                                    named by the description; the frame size is negotiated once
//                                    when the camera opens. A file that ends plays again.
//   openStillPairCameraList(l, r)    two cameras showing still pictures (any format GStreamer
//                                    decodes: PNG, JPEG, BMP, ...) as live 30 fps streams,
//                                    named by their paths.
//   printDeviceList(out)             for --list-devices: each device with its id, name and the
//                                    capture format that would be chosen for it.
//
// Threads: build and use the lists on one thread (the UI thread). Cameras opened from a list
// keep a pointer to its entry, so the list must outlive them.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "capture/Camera.h"

namespace epipolar {

std::unique_ptr<CameraList> openDeviceCameraList();
std::unique_ptr<CameraList> openPipelineCameraList(const std::vector<std::string>& descriptions);
std::unique_ptr<CameraList> openStillPairCameraList(const std::string& left,
                                                    const std::string& right);
void printDeviceList(std::ostream& out);

}  // namespace epipolar
