#include "app/Run.h"

#include <memory>

#include "app/StereoApp.h"
#include "log/DebugStream.h"
#include "platform/Platform.h"

namespace epipolar {

int runEpipolar(CameraList& cameras, const Options& options, const std::string& settingsFileName) {
  installGslErrorHandler();

  std::unique_ptr<Camera> opened[2];
  for (int i = 0; i < cameras.count(); ++i) {
    logLine("Camera ", i, " is ", cameras.entry(i)->name);
    if (i < 2) opened[i] = cameras.openCamera(i);
  }
  logLine("Total count: ", cameras.count());

  {
    StereoApp app(opened[0].get(), opened[1].get(), settingsFileName, options);
    app.show(true);
    Message msg;
    while (getMessage(msg)) dispatchMessage(msg);
  }
  return 0;
}

}  // namespace epipolar
