#include "capture/gstreamer/GstCamera.h"

#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "capture/gstreamer/GstCameraLists.h"
#include "log/testing/LogCapture.h"

namespace epipolar::gst {
namespace {

using namespace std::chrono_literals;

constexpr auto kFrameWait = 5s;  // generous: sanitizer builds on a busy machine are slow

std::uint32_t read32(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// Collects frames on the streaming thread and notes any that arrive after stop() returned.
struct Receiver {
  std::mutex mutex;
  std::condition_variable arrived;
  int frames = 0;
  int framesAfterStop = 0;
  bool stopped = false;
  std::unique_ptr<Image> last;

  static void onFrame(std::unique_ptr<Image> frame, void* context) {
    auto* self = static_cast<Receiver*>(context);
    std::lock_guard lock(self->mutex);
    if (self->stopped) ++self->framesAfterStop;
    ++self->frames;
    self->last = std::move(frame);
    self->arrived.notify_all();
  }
  bool waitFor(int count, std::chrono::milliseconds timeout = kFrameWait) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, timeout, [&] { return frames >= count; });
  }
  int count() {
    std::lock_guard lock(mutex);
    return frames;
  }
  void markStopped() {
    std::lock_guard lock(mutex);
    stopped = true;
  }
};

// An appsrc that produces RGB frames with a known pattern: red = x, green = y,
// blue = 3x + 5y (all mod 256). It can change size or fail after a number of frames.
struct PatternSource {
  int width = 640;
  int height = 480;
  int changeSizeAfter = -1;  // frames, then the stream switches to 320x240
  int failAfter = -1;        // frames, then two element errors are posted
  int pushed = 0;
  // push() runs on GStreamer's pooled streaming threads; a static lock orders it against the
  // test thread (and this object's construction and destruction) in a way TSan can see.
  static inline std::mutex mutex;

  PatternSource() { std::lock_guard lock(mutex); }
  ~PatternSource() { std::lock_guard lock(mutex); }

  // Waits until more than `count` frames were asked for.
  bool waitForPushes(int count) {
    const auto deadline = std::chrono::steady_clock::now() + kFrameWait;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard lock(mutex);
        if (pushed > count) return true;
      }
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  static std::uint8_t red(int x, int) { return static_cast<std::uint8_t>(x); }
  static std::uint8_t green(int, int y) { return static_cast<std::uint8_t>(y); }
  static std::uint8_t blue(int x, int y) { return static_cast<std::uint8_t>(3 * x + 5 * y); }

  GstCamera::SourceFactory factory() {
    return [this](std::string&) { return make(); };
  }

  GstElement* make() {
    std::lock_guard lock(mutex);  // publishes the settings to push()
    GstElement* src = gst_element_factory_make("appsrc", nullptr);
    CapsPtr caps(capsFor(width, height));
    g_object_set(src,
                 "caps",
                 caps.get(),
                 "is-live",
                 TRUE,
                 "format",
                 GST_FORMAT_TIME,
                 "do-timestamp",
                 TRUE,
                 nullptr);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = [](GstAppSrc* appsrc, guint, gpointer self) {
      static_cast<PatternSource*>(self)->push(appsrc);
    };
    gst_app_src_set_callbacks(GST_APP_SRC(src), &callbacks, this, nullptr);
    return src;
  }

  static GstCaps* capsFor(int w, int h) {
    return gst_caps_new_simple("video/x-raw",
                               "format",
                               G_TYPE_STRING,
                               "RGB",
                               "width",
                               G_TYPE_INT,
                               w,
                               "height",
                               G_TYPE_INT,
                               h,
                               "framerate",
                               GST_TYPE_FRACTION,
                               100,
                               1,
                               nullptr);
  }

  void push(GstAppSrc* appsrc) {
    std::lock_guard lock(mutex);
    if (failAfter >= 0 && pushed >= failAfter) {
      if (pushed == failAfter) {
        for (int i = 0; i < 2; ++i) {
          GST_ELEMENT_ERROR(appsrc, STREAM, FAILED, ("pattern source broke"), (nullptr));
        }
        ++pushed;
      }
      return;
    }
    int w = width, h = height;
    if (changeSizeAfter >= 0 && pushed >= changeSizeAfter) {
      w = 320;
      h = 240;
      if (pushed == changeSizeAfter) {
        CapsPtr caps(capsFor(w, h));
        gst_app_src_set_caps(appsrc, caps.get());
      }
    }
    GstVideoInfo info;
    CapsPtr caps(capsFor(w, h));
    gst_video_info_from_caps(&info, caps.get());
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* row = map.data + y * stride;
      for (int x = 0; x < w; ++x) {
        row[3 * x] = red(x, y);
        row[3 * x + 1] = green(x, y);
        row[3 * x + 2] = blue(x, y);
      }
    }
    gst_buffer_unmap(buffer, &map);
    ++pushed;
    gst_app_src_push_buffer(appsrc, buffer);
    std::this_thread::sleep_for(10ms);
  }
};

CameraEntry makeEntry(int id, const char* name) {
  CameraEntry entry;
  entry.id = id;
  setEntryName(entry, name);
  return entry;
}

GstCameraOptions quickOptions() {
  GstCameraOptions options;
  options.negotiationTimeout = 2000ms;
  return options;
}

// The whole frame block: header, bottom-up rows with the BMP stride, zero padding, pattern.
void expectPatternFrame(const Image& frame, int width, int height) {
  const std::int32_t stride = bmpRowStride(width);
  const std::uint32_t pixelBytes = static_cast<std::uint32_t>(stride * height);
  ASSERT_EQ(frame.width, width);
  ASSERT_EQ(frame.height, height);
  ASSERT_EQ(frame.pixelOffset, 54);
  ASSERT_EQ(frame.size, pixelBytes + 54);
  const std::uint8_t* block = frame.data.get();
  EXPECT_EQ(block[0], 'B');
  EXPECT_EQ(block[1], 'M');
  EXPECT_EQ(read32(block + 2), pixelBytes + 54);
  EXPECT_EQ(read32(block + 10), 54u);
  EXPECT_EQ(read32(block + 14), 40u);
  EXPECT_EQ(read32(block + 18), static_cast<std::uint32_t>(width));
  EXPECT_EQ(read32(block + 22), static_cast<std::uint32_t>(height));
  EXPECT_EQ(block[28], 24);
  EXPECT_EQ(read32(block + 34), pixelBytes);
  int wrong = 0;
  for (int y = 0; y < height; ++y) {
    // Stored row 0 is the bottom picture row.
    const std::uint8_t* row = block + 54 + static_cast<std::size_t>(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x) {
      wrong += row[3 * x] != PatternSource::blue(x, y);
      wrong += row[3 * x + 1] != PatternSource::green(x, y);
      wrong += row[3 * x + 2] != PatternSource::red(x, y);
    }
    for (int pad = 3 * width; pad < stride; ++pad) wrong += row[pad] != 0;
  }
  EXPECT_EQ(wrong, 0);
}

class GstCameraTest : public ::testing::Test {
 protected:
  void SetUp() override { ensureGstInitialised(); }
};

TEST_F(GstCameraTest, FramesAreBottomUpBmpBlocksWithPaddedRows) {
  for (const auto& [width, height] : {std::pair{640, 480}, std::pair{641, 37}}) {
    SCOPED_TRACE(width);
    testing::LogCapture log;
    PatternSource pattern;
    pattern.width = width;
    pattern.height = height;
    CameraEntry entry = makeEntry(3, "pattern");
    GstCamera camera(&entry, pattern.factory(), quickOptions());
    ASSERT_TRUE(camera.complete());
    EXPECT_EQ(camera.frameWidth(), width);
    EXPECT_EQ(camera.frameHeight(), height);
    EXPECT_TRUE(log.contains("Camera 3 resoution: " + std::to_string(width) + "x" +
                             std::to_string(height) + "\n"));
    Receiver receiver;
    camera.start(&Receiver::onFrame, &receiver);
    ASSERT_TRUE(receiver.waitFor(2));
    camera.stop();
    std::lock_guard lock(receiver.mutex);
    expectPatternFrame(*receiver.last, width, height);
  }
}

TEST_F(GstCameraTest, NoFrameArrivesAfterStopReturns) {
  auto list =
      openPipelineCameraList({"videotestsrc ! video/x-raw,width=160,height=120,framerate=200/1"});
  auto camera = list->openCamera(0);
  ASSERT_EQ(camera->frameWidth(), 160);
  Receiver receiver;
  for (int round = 0; round < 4; ++round) {
    {
      std::lock_guard lock(receiver.mutex);
      receiver.stopped = false;
    }
    const int before = receiver.count();
    camera->start(&Receiver::onFrame, &receiver);
    ASSERT_TRUE(receiver.waitFor(before + 3));
    camera->stop();
    receiver.markStopped();
    std::this_thread::sleep_for(30ms);
  }
  std::lock_guard lock(receiver.mutex);
  EXPECT_EQ(receiver.framesAfterStop, 0);
  // The camera's destructor also copes with a camera that was never started.
  auto idle = list->openCamera(0);
  idle->stop();
}

TEST_F(GstCameraTest, SamplesOfAnotherSizeAreDroppedAndReportedOnce) {
  PatternSource pattern;
  pattern.width = 64;
  pattern.height = 48;
  pattern.changeSizeAfter = 8;
  CameraEntry entry = makeEntry(0, "resizing");
  GstCamera camera(&entry, pattern.factory(), quickOptions());
  ASSERT_EQ(camera.frameWidth(), 64);
  Receiver receiver;
  ::testing::internal::CaptureStderr();
  camera.start(&Receiver::onFrame, &receiver);
  ASSERT_TRUE(pattern.waitForPushes(30));  // most of them 320x240
  camera.stop();
  const std::string errors = ::testing::internal::GetCapturedStderr();
  std::lock_guard lock(receiver.mutex);
  EXPECT_GE(receiver.frames, 1);
  EXPECT_LE(receiver.frames, 8);
  EXPECT_EQ(receiver.last->width, 64);
  EXPECT_EQ(errors, "resizing: frames changed size from 64x48 to 320x240 and are dropped\n");
}

TEST_F(GstCameraTest, AnErrorMidStreamIsReportedOnceAndOthersGoOn) {
  PatternSource failing;
  failing.width = 32;
  failing.height = 24;
  failing.failAfter = 5;
  CameraEntry failingEntry = makeEntry(0, "failing");
  GstCamera broken(&failingEntry, failing.factory(), quickOptions());
  PatternSource healthy;
  healthy.width = 32;
  healthy.height = 24;
  CameraEntry healthyEntry = makeEntry(1, "healthy");
  GstCamera working(&healthyEntry, healthy.factory(), quickOptions());
  ASSERT_TRUE(broken.complete());
  ASSERT_TRUE(working.complete());

  Receiver brokenFrames, workingFrames;
  ::testing::internal::CaptureStderr();
  broken.start(&Receiver::onFrame, &brokenFrames);
  working.start(&Receiver::onFrame, &workingFrames);
  ASSERT_TRUE(failing.waitForPushes(5));  // both errors posted; stop() handles them first
  const int workingBefore = workingFrames.count();
  ASSERT_TRUE(workingFrames.waitFor(workingBefore + 5));
  broken.stop();
  working.stop();
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(errors.rfind("failing: pattern source broke", 0), 0u) << errors;
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;

  EXPECT_LE(brokenFrames.count(), 5);  // only what came before the failure
}

TEST_F(GstCameraTest, ASourceThatStallsIsReportedOnceAndOthersGoOn) {
  // Raw frames through a pipe that the test feeds: frames flow while it writes and stop,
  // without an error or an end, when it does not.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const std::string frame(16 * 12 * 3, '\x40');
  auto feed = [&](int frames) {
    for (int i = 0; i < frames; ++i) {
      ASSERT_EQ(::write(pipeFds[1], frame.data(), frame.size()),
                static_cast<ssize_t>(frame.size()));
    }
  };
  feed(1);  // for the negotiation at construction
  auto list = openPipelineCameraList(
      {"fdsrc fd=" + std::to_string(pipeFds[0]) +
           " ! rawvideoparse width=16 height=12 format=rgb framerate=100/1",
       "videotestsrc is-live=true ! video/x-raw,width=32,height=24,framerate=100/1"});
  auto* sources = static_cast<GstSourceCameraList*>(list.get());
  sources->stallTimeout = 400ms;
  auto stalling = list->openCamera(0);
  auto healthy = list->openCamera(1);
  ASSERT_EQ(stalling->frameWidth(), 16);
  ASSERT_EQ(healthy->frameWidth(), 32);

  Receiver stallingFrames, healthyFrames;
  ::testing::internal::CaptureStderr();
  stalling->start(&Receiver::onFrame, &stallingFrames);
  healthy->start(&Receiver::onFrame, &healthyFrames);
  feed(5);
  ASSERT_TRUE(stallingFrames.waitFor(5));
  // Three timeouts without a frame: still one report; the other camera keeps delivering.
  std::this_thread::sleep_for(1200ms);
  const int healthyBefore = healthyFrames.count();
  ASSERT_TRUE(healthyFrames.waitFor(healthyBefore + 10));
  // Frames again, then a second stall: reported again.
  feed(5);
  ASSERT_TRUE(stallingFrames.waitFor(10));
  // Well past the 0.4 s, so that a loaded machine's late watcher still reports in time.
  std::this_thread::sleep_for(1500ms);
  stalling->stop();  // returns although the source blocks in its read
  healthy->stop();
  const std::string errors = ::testing::internal::GetCapturedStderr();
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  const std::string line =
      list->entry(0)->name + std::string(": no frame for 0.4 seconds, the source has stalled\n");
  EXPECT_EQ(errors, line + line);
}

TEST_F(GstCameraTest, AFileThatEndsPlaysAgainAndSaysSoOnce) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("epipolar-loop-" + std::to_string(::getpid()) + ".avi");
  {
    const std::string writer =
        "videotestsrc num-buffers=6 ! video/x-raw,width=64,height=48,"
        "framerate=100/1 ! avimux ! filesink location=" +
        path.string();
    GstPtr<GstElement> pipeline(gst_parse_launch(writer.c_str(), nullptr));
    ASSERT_TRUE(pipeline);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
    MessagePtr done(gst_bus_timed_pop_filtered(
        bus.get(),
        5 * GST_SECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    ASSERT_TRUE(done && GST_MESSAGE_TYPE(done.get()) == GST_MESSAGE_EOS);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  }
  auto list = openPipelineCameraList({"filesrc location=" + path.string()});
  auto camera = list->openCamera(0);
  ASSERT_EQ(camera->frameWidth(), 64);
  Receiver receiver;
  ::testing::internal::CaptureStderr();
  camera->start(&Receiver::onFrame, &receiver);
  const bool looped = receiver.waitFor(20);
  camera->stop();
  const std::string errors = ::testing::internal::GetCapturedStderr();
  std::filesystem::remove(path);
  EXPECT_TRUE(looped);
  EXPECT_EQ(errors,
            list->entry(0)->name + std::string(": end of stream, playing again from the start\n"));
}

TEST_F(GstCameraTest, ASourceThatCannotNegotiateFailsInBoundedTime) {
  struct Case {
    std::string description;
    std::string firstLine;
  };
  for (const Case& c :
       {Case{"audiotestsrc", "Unsupported media type!"},
        Case{"appsrc", "Unsupported media type!"},  // never produces a frame
        Case{"no_such_element", "Failed to initialize camera"},
        Case{"videotestsrc ! fakesink", "Failed to initialize camera"},
        Case{"filesrc location=/nonexistent/clip.avi", "Failed to initialize camera"}}) {
    SCOPED_TRACE(c.description);
    auto list = openPipelineCameraList({c.description});
    static_cast<GstSourceCameraList*>(list.get())->negotiationTimeout = 700ms;
    ::testing::internal::CaptureStderr();
    const auto begin = std::chrono::steady_clock::now();
    auto camera = list->openCamera(0);
    const auto took = std::chrono::steady_clock::now() - begin;
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_LT(took, 5s);
    EXPECT_EQ(errors.substr(0, errors.find('\n')), c.firstLine) << errors;
    EXPECT_EQ(camera->frameWidth(), 0);
    EXPECT_EQ(camera->frameHeight(), 0);
    Receiver receiver;
    camera->start(&Receiver::onFrame, &receiver);
    camera->stop();
    EXPECT_EQ(receiver.count(), 0);
  }
}

TEST_F(GstCameraTest, UnreadableCapsAndAFormatThatWillNotNegotiateAreLoggedAndSurvived) {
  CameraEntry entry = makeEntry(0, "device");
  const GstCamera::SourceFactory testSource = [](std::string&) {
    return gst_element_factory_make("videotestsrc", nullptr);
  };
  {
    testing::LogCapture log;
    GstCameraOptions options = quickOptions();
    options.chooseFormat = true;
    // The mode is asked for at 800 but offers up to 1280: the line names the mode's largest.
    CapsPtr offered(gst_caps_from_string("image/jpeg,width={800,1280},height=600,framerate=30/1"));
    options.offeredCaps = offered.get();
    GstCamera camera(&entry, testSource, options);
    EXPECT_TRUE(camera.complete());
    EXPECT_EQ(camera.frameWidth(), 320);  // videotestsrc's own default
    EXPECT_TRUE(log.contains("Whoops, couldn't set format.  Why not? (1280)\n"));
  }
  {
    testing::LogCapture log;
    GstCameraOptions options = quickOptions();
    options.chooseFormat = true;
    GstCamera camera(&entry, testSource, options);
    EXPECT_TRUE(camera.complete());
    EXPECT_TRUE(log.contains("WTF!\n"));
  }
  {
    testing::LogCapture log;
    GstCameraOptions options = quickOptions();
    options.chooseFormat = true;
    CapsPtr offered(
        gst_caps_from_string("video/x-raw,format=I420,width=1280,height=720,framerate=30/1;"
                             "video/x-raw,format=I420,width=640,height=480,framerate={60/1,30/1}"));
    options.offeredCaps = offered.get();
    GstCamera camera(&entry, testSource, options);
    EXPECT_EQ(camera.frameWidth(), 640);
    EXPECT_EQ(camera.frameHeight(), 480);
    EXPECT_FALSE(log.contains("Whoops"));
  }
}

TEST_F(GstCameraTest, AStillPairPlaysAsLiveCamerasWithTheFilePixels) {
  // A BMP written from a known pattern must come back pixel for pixel (and shows that BMP
  // stills decode at all).
  const int width = 41, height = 23;
  auto picture = Image::blank(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel = picture->row(y) + 3 * x;
      pixel[0] = PatternSource::blue(x, y);
      pixel[1] = PatternSource::green(x, y);
      pixel[2] = PatternSource::red(x, y);
    }
  }
  const auto path = std::filesystem::temp_directory_path() /
                    ("epipolar still " + std::to_string(::getpid()) + ".bmp");
  {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(picture->data.get()), picture->size);
  }
  auto list = openStillPairCameraList(path.string(), "/nonexistent/right.png");
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(std::string(list->entry(0)->name), path.string());
  testing::LogCapture log;
  ::testing::internal::CaptureStderr();
  auto left = list->openCamera(0);
  auto right = list->openCamera(1);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(errors.rfind("Failed to initialize camera\n", 0), 0u) << errors;
  ASSERT_EQ(left->frameWidth(), width);
  ASSERT_EQ(left->frameHeight(), height);
  Receiver receiver;
  left->start(&Receiver::onFrame, &receiver);
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(receiver.waitFor(6));
  const auto took = std::chrono::steady_clock::now() - begin;
  left->stop();
  // A restart decodes the file again (the decoder's pads must link anew).
  left->start(&Receiver::onFrame, &receiver);
  ASSERT_TRUE(receiver.waitFor(9));
  left->stop();
  std::filesystem::remove(path);
  EXPECT_GT(took, 100ms);  // paced like a live 30 fps camera, not as fast as possible
  std::lock_guard lock(receiver.mutex);
  EXPECT_EQ(std::memcmp(receiver.last->data.get(), picture->data.get(), picture->size), 0);
}

TEST_F(GstCameraTest, ASnapshotWritesTheDeliveredBlock) {
  const auto directory =
      std::filesystem::temp_directory_path() / ("epipolar-snap-" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(directory);
  PatternSource pattern;
  pattern.width = 64;
  pattern.height = 48;
  CameraEntry entry = makeEntry(7, "pattern");
  GstCamera camera(&entry, pattern.factory(), quickOptions());
  camera.requestSnapshot();
  camera.requestSnapshot();
  testing::LogCapture log;
  Receiver receiver;
  camera.start(&Receiver::onFrame, &receiver);
  ASSERT_TRUE(receiver.waitFor(3));
  camera.stop();
  std::ifstream file("pic7.bmp", std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(directory);
  EXPECT_EQ(log.text().find("Writing image pic7.bmp\n"), log.text().rfind("Writing image"));
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(bmpRowStride(64) * 48 + 54));
  std::lock_guard lock(receiver.mutex);
  // Same pattern as every frame, so it equals the last one too.
  EXPECT_EQ(std::memcmp(bytes.data(), receiver.last->data.get(), bytes.size()), 0);
}

TEST_F(GstCameraTest, WithoutVideoDevicesTheListIsEmptyAndSaysSo) {
  if (std::filesystem::exists("/dev/video0")) GTEST_SKIP() << "this machine has a camera";
  ::testing::internal::CaptureStderr();
  auto list = openDeviceCameraList();
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(list->count(), 0);
  EXPECT_EQ(errors, "No video hardware found.\n");

  std::ostringstream listing;
  ::testing::internal::CaptureStderr();
  printDeviceList(listing);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(listing.str(), "Total count: 0\n");
}

}  // namespace
}  // namespace epipolar::gst
