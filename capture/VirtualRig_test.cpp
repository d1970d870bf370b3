#include "capture/VirtualRig.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "log/testing/LogCapture.h"

namespace epipolar {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Generous: a sanitizer build renders slowly, and the machine is shared.
constexpr auto kFrameWait = 20s;

// Receives frames on the camera thread and checks each as it arrives.
struct Receiver {
  std::mutex mutex;
  std::condition_variable arrived;
  int frames = 0;
  int malformed = 0;
  std::atomic<bool> stopped{false};
  std::atomic<int> afterStop{0};
  std::vector<std::uint8_t> first;  // bytes of the first frame

  static void onFrame(std::unique_ptr<Image> frame, void* context) {
    auto* self = static_cast<Receiver*>(context);
    if (self->stopped.load()) self->afterStop.fetch_add(1);
    std::lock_guard<std::mutex> lock(self->mutex);
    if (frame->width != 640 || frame->height != 480 || frame->size != 921654u ||
        frame->pixelOffset != 54 || frame->data[0] != 'B' || frame->data[1] != 'M')
      ++self->malformed;
    if (self->frames == 0) self->first.assign(frame->data.get(), frame->data.get() + frame->size);
    ++self->frames;
    self->arrived.notify_all();
  }

  bool waitFor(int count) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, kFrameWait, [&] { return frames >= count; });
  }
  int count() {
    std::lock_guard<std::mutex> lock(mutex);
    return frames;
  }
};

// One rig for the whole binary: a camera's static picture is ray cast once per scene.
VirtualRigList& sharedRig() {
  static VirtualRigList rig;
  return rig;
}

TEST(VirtualRigList, ListsTwoNamedCameras) {
  VirtualRigList rig;
  ASSERT_EQ(rig.count(), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(rig.entry(i)->id, i);
    const char* name = rig.entry(i)->name;
    EXPECT_LT(std::strlen(name), 257u);
    EXPECT_STREQ(name, i == 0 ? "Virtual camera 0 (left)" : "Virtual camera 1 (right)");
  }
}

TEST(VirtualCamera, DeliversFramesUntilStoppedAndAgainAfterRestart) {
  VirtualRigList& rig = sharedRig();
  auto camera = rig.openCamera(1);
  EXPECT_EQ(camera->frameWidth(), 640);
  EXPECT_EQ(camera->frameHeight(), 480);
  EXPECT_EQ(camera->deviceEntry, rig.entry(1));
  camera->stop();  // never started: harmless

  Receiver receiver;
  camera->start(&Receiver::onFrame, &receiver);
  ASSERT_TRUE(receiver.waitFor(3));
  camera->stop();
  receiver.stopped.store(true);
  const int delivered = receiver.count();
  std::this_thread::sleep_for(150ms);  // several frame periods
  EXPECT_EQ(receiver.count(), delivered);
  EXPECT_EQ(receiver.afterStop.load(), 0);
  EXPECT_EQ(receiver.malformed, 0);

  receiver.stopped.store(false);
  camera->start(&Receiver::onFrame, &receiver);
  EXPECT_TRUE(receiver.waitFor(delivered + 2));
  camera->stop();
}

TEST(VirtualCamera, BothCamerasRunTogetherAndStopByDestruction) {
  VirtualRigList& rig = sharedRig();
  Receiver left, right;
  {
    auto camera0 = rig.openCamera(0);
    auto camera1 = rig.openCamera(1);
    camera0->start(&Receiver::onFrame, &left);
    camera1->start(&Receiver::onFrame, &right);
    EXPECT_TRUE(left.waitFor(2));
    EXPECT_TRUE(right.waitFor(2));
    camera1->stop();
    // camera0 is still running when it is destroyed.
  }
  left.stopped.store(true);
  right.stopped.store(true);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(left.afterStop.load() + right.afterStop.load(), 0);
}

struct SelfStopper {
  Camera* camera = nullptr;
  std::atomic<int> frames{0};
  static void onFrame(std::unique_ptr<Image>, void* context) {
    auto* self = static_cast<SelfStopper*>(context);
    self->frames.fetch_add(1);
    self->camera->stop();
  }
};

TEST(VirtualCamera, StopFromTheCallbackEndsDeliveryWithoutDeadlock) {
  auto camera = sharedRig().openCamera(0);
  SelfStopper stopper;
  stopper.camera = camera.get();
  camera->start(&SelfStopper::onFrame, &stopper);
  for (int i = 0; i < 400 && stopper.frames.load() == 0; ++i) std::this_thread::sleep_for(50ms);
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(stopper.frames.load(), 1);
  // It starts again, and the destructor joins whatever thread is left.
  Receiver receiver;
  camera->start(&Receiver::onFrame, &receiver);
  EXPECT_TRUE(receiver.waitFor(1));
}

class VirtualCameraSnapshot : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    char pattern[] = "/tmp/epipolar-rig-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    fs::current_path(directory_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    fs::remove_all(directory_);
  }
  fs::path previous_, directory_;
};

TEST_F(VirtualCameraSnapshot, RequestsBeforeStartWriteTheFirstFrameOnce) {
  testing::LogCapture log;
  VirtualRigList& rig = sharedRig();
  auto camera = rig.openCamera(1);
  camera->requestSnapshot();
  camera->requestSnapshot();
  Receiver receiver;
  camera->start(&Receiver::onFrame, &receiver);
  ASSERT_TRUE(receiver.waitFor(3));
  camera->stop();

  std::ifstream in("pic1.bmp", std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>()};
  EXPECT_EQ(file, receiver.first);
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"Camera 1 resoution: 640x480", "Writing image pic1.bmp"}));
  EXPECT_FALSE(fs::exists("pic0.bmp"));
}

}  // namespace
}  // namespace epipolar
