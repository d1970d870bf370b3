#include "platform/Platform.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <csignal>
#include <thread>
#include <vector>

#include "log/testing/LogCapture.h"
#include "platform/GLContext.h"
#include "platform/PlatformInternal.h"

namespace epipolar {
namespace {

struct Seen {
  WindowHandle hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen> seen;
CreateStruct lastCreate;
LRESULT createResult = 0;

LRESULT recordingProc(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  seen.push_back({hwnd, msg, wParam, lParam});
  if (msg == WM_CREATE) {
    lastCreate = *reinterpret_cast<const CreateStruct*>(lParam);
    return createResult;
  }
  return defWindowProc(hwnd, msg, wParam, lParam);
}

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    createResult = 0;
    registerClass(WindowClass{"Recording", &recordingProc, false});
  }
  void TearDown() override { shutdownPlatform(); }

  WindowHandle make(int w = 64, int h = 48) {
    int tag = 0;
    WindowHandle hwnd = createWindow("Recording", "Test window", 10, 20, w, h, &tag);
    EXPECT_TRUE(hwnd);
    return hwnd;
  }

  // Dispatches every waiting message; returns the ids handled in order.
  static std::vector<UINT> pump() {
    std::vector<UINT> ids;
    Message msg;
    while (peekMessage(msg)) {
      ids.push_back(msg.message);
      if (msg.message != WM_QUIT) dispatchMessage(msg);
    }
    return ids;
  }

  static int count(const std::vector<UINT>& ids, UINT id) {
    return static_cast<int>(std::count(ids.begin(), ids.end(), id));
  }

  static Uint32 sdlId(WindowHandle hwnd) {
    return SDL_GetWindowID(platform_internal::findWindow(hwnd.id)->sdl);
  }
};

TEST_F(PlatformTest, ClassRegistersOnceAndCreationDeliversCreateBeforeReturning) {
  EXPECT_FALSE(registerClass(WindowClass{"Recording", &recordingProc, false}));
  EXPECT_FALSE(createWindow("NoSuchClass", "x", 0, 0, 10, 10, nullptr));

  int tag = 0;
  WindowHandle hwnd = createWindow("Recording", "Title", 5, 6, 70, 40, &tag);
  ASSERT_TRUE(hwnd);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].msg, WM_CREATE);
  EXPECT_EQ(seen[0].hwnd, hwnd);
  EXPECT_EQ(lastCreate.createParams, &tag);
  EXPECT_EQ(lastCreate.cx, 70);
  EXPECT_EQ(lastCreate.cy, 40);

  int w = 0, h = 0;
  ASSERT_TRUE(getClientSize(hwnd, w, h));
  EXPECT_EQ(w, 70);
  EXPECT_EQ(h, 40);
  EXPECT_FALSE(showWindow(hwnd, true)) << "windows start hidden";
  EXPECT_TRUE(showWindow(hwnd, false));

  // A second window of the same class gets its own, never reused, handle.
  WindowHandle second = make();
  EXPECT_NE(second, hwnd);
  EXPECT_TRUE(destroyWindow(second));
  WindowHandle third = make();
  EXPECT_GT(third.id, second.id);
}

TEST_F(PlatformTest, CreateAnsweredWithMinusOneFailsTheCreation) {
  createResult = -1;
  int tag = 0;
  EXPECT_FALSE(createWindow("Recording", "x", 0, 0, 10, 10, &tag));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].msg, WM_DESTROY);
}

TEST_F(PlatformTest, TitlesAndDeadHandles) {
  WindowHandle hwnd = make();
  EXPECT_EQ(getWindowText(hwnd), "Test window");
  EXPECT_TRUE(setWindowText(hwnd, "(0) Camera"));
  EXPECT_EQ(getWindowText(hwnd), "(0) Camera");

  EXPECT_TRUE(destroyWindow(hwnd));
  EXPECT_FALSE(isWindow(hwnd));
  EXPECT_FALSE(destroyWindow(hwnd)) << "a dead handle fails quietly";
  EXPECT_EQ(getWindowText(hwnd), "");
  EXPECT_FALSE(setWindowText(hwnd, "x"));
  EXPECT_EQ(sendMessage(hwnd, WM_USER, 0, 0), 0);
  invalidate(hwnd);
  EXPECT_TRUE(pump().empty());
}

TEST_F(PlatformTest, SdlInputBecomesMessages) {
  WindowHandle hwnd = make();
  const Uint32 id = sdlId(hwnd);
  seen.clear();

  SDL_Event e{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.windowID = id;
  e.button.button = SDL_BUTTON_MIDDLE;
  e.button.x = 12;
  e.button.y = 34;
  SDL_PushEvent(&e);
  e.button.button = SDL_BUTTON_RIGHT;
  SDL_PushEvent(&e);
  e.button.button = SDL_BUTTON_LEFT;
  e.button.x = 300;
  e.button.y = 2;
  SDL_PushEvent(&e);

  const SDL_Keycode keys[] = {SDLK_LEFT, SDLK_RIGHT, SDLK_3, SDLK_c, SDLK_F5, SDLK_ESCAPE};
  for (SDL_Keycode key : keys) {
    SDL_Event k{};
    k.type = SDL_KEYDOWN;
    k.key.windowID = id;
    k.key.keysym.sym = key;
    SDL_PushEvent(&k);
  }
  SDL_Event size{};
  size.type = SDL_WINDOWEVENT;
  size.window.windowID = id;
  size.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
  size.window.data1 = 320;
  size.window.data2 = 200;
  SDL_PushEvent(&size);
  pump();

  std::vector<Seen> input;
  for (const Seen& s : seen)
    if (s.msg != WM_PAINT) input.push_back(s);
  ASSERT_EQ(input.size(), 10u);
  EXPECT_EQ(input[0].msg, WM_MBUTTONDOWN);
  EXPECT_EQ(input[0].lParam, makeLParam(12, 34));
  EXPECT_TRUE(input[0].wParam & MK_MBUTTON);
  EXPECT_EQ(input[1].msg, WM_RBUTTONDOWN);
  EXPECT_EQ(input[2].msg, WM_LBUTTONDOWN);
  EXPECT_EQ(loWord(input[2].lParam), 300u);
  EXPECT_EQ(hiWord(input[2].lParam), 2u);
  const WPARAM codes[] = {VK_LEFT, VK_RIGHT, '3', 'C', VK_F1 + 4, VK_ESCAPE};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(input[3 + i].msg, WM_KEYDOWN);
    EXPECT_EQ(input[3 + i].wParam, codes[i]) << i;
  }
  EXPECT_EQ(input[9].msg, WM_SIZE);
  EXPECT_EQ(input[9].lParam, makeLParam(320, 200));
}

// Key presses as SDL reports them: the key, its position and the modifiers held (after the
// press, as SDL sets them).
struct Press {
  SDL_Keycode sym;
  Uint16 mods;
  SDL_Scancode scancode = SDL_SCANCODE_UNKNOWN;
};

void pushKey(Uint32 window, const Press& press, Uint32 type = SDL_KEYDOWN) {
  SDL_Event k{};
  k.type = type;
  k.key.windowID = window;
  k.key.keysym.sym = press.sym;
  k.key.keysym.mod = press.mods;
  k.key.keysym.scancode = press.scancode;
  SDL_PushEvent(&k);
}

TEST_F(PlatformTest, AltKeysAndF10AreSystemKeysButCtrlAltAndAltGrAreNot) {
  WindowHandle hwnd = make();
  const Uint32 id = sdlId(hwnd);
  struct Case {
    Press press;
    UINT msg;
    WPARAM code;
  };
  auto run = [&](const std::vector<Case>& cases) {
    seen.clear();
    for (const Case& c : cases) pushKey(id, c.press);
    pump();
    std::vector<Seen> keys;
    for (const Seen& s : seen)
      if (s.msg != WM_PAINT) keys.push_back(s);
    ASSERT_EQ(keys.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
      EXPECT_EQ(keys[i].msg, cases[i].msg) << i;
      EXPECT_EQ(keys[i].wParam, cases[i].code) << i;
    }
  };
  // US layout: right Alt is Alt.
  run({{{SDLK_c, KMOD_LALT}, WM_SYSKEYDOWN, 'C'},
       {{SDLK_e, KMOD_RALT}, WM_SYSKEYDOWN, 'E'},
       {{SDLK_LALT, KMOD_LALT}, WM_SYSKEYDOWN, VK_MENU},
       {{SDLK_RALT, KMOD_RALT}, WM_SYSKEYDOWN, VK_MENU},
       {{SDLK_F10, KMOD_NONE}, WM_SYSKEYDOWN, VK_F10},
       {{SDLK_F10, KMOD_LSHIFT}, WM_SYSKEYDOWN, VK_F10},
       {{SDLK_p, KMOD_LALT | KMOD_LCTRL}, WM_KEYDOWN, 'P'},
       {{SDLK_LALT, KMOD_LALT | KMOD_RCTRL}, WM_KEYDOWN, VK_MENU},
       {{SDLK_F10, KMOD_LCTRL}, WM_KEYDOWN, VK_F10},
       {{SDLK_MODE, KMOD_MODE}, WM_KEYDOWN, VK_MENU},  // AltGr as Mode_switch
       {{SDLK_q, KMOD_MODE}, WM_KEYDOWN, 'Q'},
       {{SDLK_LSHIFT, KMOD_LSHIFT}, WM_KEYDOWN, VK_SHIFT},
       {{SDLK_RCTRL, KMOD_RCTRL}, WM_KEYDOWN, VK_CONTROL}});
  // European layouts: right Alt is AltGr, left Alt stays Alt.
  platform_internal::setRightAltIsAltGr(true);
  run({{{SDLK_RALT, KMOD_RALT}, WM_KEYDOWN, VK_MENU},
       {{SDLK_q, KMOD_RALT}, WM_KEYDOWN, 'Q'},
       {{SDLK_c, KMOD_LALT}, WM_SYSKEYDOWN, 'C'}});
  platform_internal::setRightAltIsAltGr(std::nullopt);

  // Alt+F4 closes the window by default, as the window manager's close would.
  seen.clear();
  pushKey(id, {SDLK_F4, KMOD_LALT});
  pump();
  EXPECT_FALSE(isWindow(hwnd));
  std::vector<UINT> ids;
  for (const Seen& s : seen) ids.push_back(s.msg);
  EXPECT_EQ(ids, (std::vector<UINT>{WM_SYSKEYDOWN, WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY}));
}

TEST_F(PlatformTest, EveryKeyHasACode) {
  WindowHandle hwnd = make();
  const Uint32 id = sdlId(hwnd);
  const std::pair<Press, WPARAM> keys[] = {
      {{SDLK_NUMLOCKCLEAR, KMOD_NONE}, VK_NUMLOCK},
      {{SDLK_SCROLLLOCK, KMOD_NONE}, VK_SCROLL},
      {{SDLK_LGUI, KMOD_LGUI}, VK_LWIN},
      {{SDLK_RGUI, KMOD_RGUI}, VK_RWIN},
      {{SDLK_APPLICATION, KMOD_NONE}, VK_APPS},
      {{SDLK_F13, KMOD_NONE}, VK_F13},
      {{SDLK_F24, KMOD_NONE}, VK_F13 + 11},
      {{SDLK_PRINTSCREEN, KMOD_NONE}, VK_SNAPSHOT},
      {{SDLK_AUDIOPLAY, KMOD_NONE}, VK_MEDIA_PLAY_PAUSE},
      {{SDLK_AUDIOMUTE, KMOD_NONE}, VK_VOLUME_MUTE},
      {{SDLK_VOLUMEUP, KMOD_NONE}, VK_VOLUME_UP},
      {{SDLK_AC_BACK, KMOD_NONE}, VK_BROWSER_BACK},
      // Characters without a code of their own take the code of the key's position.
      {{0x0441 /* Cyrillic es */, KMOD_NONE, SDL_SCANCODE_C}, 'C'},
      {{0x00FC /* u umlaut */, KMOD_NONE, SDL_SCANCODE_LEFTBRACKET}, VK_OEM_4},
      {{SDLK_LESS, KMOD_NONE, SDL_SCANCODE_NONUSBACKSLASH}, VK_OEM_102},
      {{SDLK_UNKNOWN, KMOD_NONE, SDL_SCANCODE_UNKNOWN}, VK_NONE},
  };
  seen.clear();
  for (const auto& key : keys) pushKey(id, key.first);
  pump();
  std::vector<Seen> input;
  for (const Seen& s : seen)
    if (s.msg != WM_PAINT) input.push_back(s);
  ASSERT_EQ(input.size(), std::size(keys));
  for (std::size_t i = 0; i < input.size(); ++i) {
    EXPECT_EQ(input[i].msg, WM_KEYDOWN) << i;
    EXPECT_EQ(input[i].wParam, keys[i].second) << i;
  }
}

// The pointer: motion, left release and leave; modifier and button flags as of each message,
// and the key-state query as of the message being handled.
bool shiftDuringDispatch[16];
std::size_t dispatched = 0;
LRESULT keyStateProc(WindowHandle hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_PAINT && dispatched < std::size(shiftDuringDispatch))
    shiftDuringDispatch[dispatched++] = isKeyDown(VK_SHIFT);
  return recordingProc(hwnd, msg, wParam, lParam);
}

TEST_F(PlatformTest, PointerMotionReleaseAndLeave) {
  registerClass(WindowClass{"KeyState", &keyStateProc, false});
  WindowHandle hwnd = createWindow("KeyState", "pointer", 0, 0, 64, 48, nullptr);
  WindowHandle other = make();
  const Uint32 id = sdlId(hwnd);
  seen.clear();
  dispatched = 0;

  auto motion = [](Uint32 window, int x, int y, Uint32 buttons) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = window;
    e.motion.x = x;
    e.motion.y = y;
    e.motion.state = buttons;
    SDL_PushEvent(&e);
  };
  auto button = [](Uint32 window, Uint32 type, int x, int y) {
    SDL_Event e{};
    e.type = type;
    e.button.windowID = window;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
  };
  pushKey(id, {SDLK_LSHIFT, KMOD_LSHIFT});
  motion(id, 10, 20, 0);
  motion(id, 11, 21, 0);  // replaces the one before
  motion(sdlId(other), 5, 5, 0);
  motion(id, 12, 22, 0);
  button(id, SDL_MOUSEBUTTONDOWN, 12, 22);
  motion(id, 13, 23, SDL_BUTTON_LMASK);
  motion(id, -3, 40, SDL_BUTTON_LMASK);  // dragged out past the left edge
  button(id, SDL_MOUSEBUTTONUP, -3, 40);
  pushKey(id, {SDLK_LSHIFT, KMOD_NONE}, SDL_KEYUP);
  motion(id, 30, 31, 0);
  SDL_Event leave{};
  leave.type = SDL_WINDOWEVENT;
  leave.window.windowID = id;
  leave.window.event = SDL_WINDOWEVENT_LEAVE;
  SDL_PushEvent(&leave);
  pump();

  std::vector<Seen> input;
  for (const Seen& s : seen)
    if (s.msg != WM_PAINT && s.hwnd == hwnd) input.push_back(s);
  const std::vector<UINT> expected = {WM_KEYDOWN,
                                      WM_MOUSEMOVE,
                                      WM_MOUSEMOVE,
                                      WM_LBUTTONDOWN,
                                      WM_MOUSEMOVE,
                                      WM_LBUTTONUP,
                                      WM_MOUSEMOVE,
                                      WM_MOUSELEAVE};
  ASSERT_EQ(input.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(input[i].msg, expected[i]) << i;
  EXPECT_EQ(input[1].lParam, makeLParam(11, 21));
  EXPECT_EQ(input[1].wParam, MK_SHIFT);
  EXPECT_EQ(input[2].lParam, makeLParam(12, 22));
  EXPECT_EQ(input[3].wParam, MK_LBUTTON | MK_SHIFT);
  EXPECT_EQ(input[4].wParam, MK_LBUTTON | MK_SHIFT);
  EXPECT_EQ(xFromLParam(input[4].lParam), -3);
  EXPECT_EQ(yFromLParam(input[4].lParam), 40);
  EXPECT_EQ(input[5].wParam, MK_SHIFT) << "the released button is no longer held";
  EXPECT_EQ(xFromLParam(input[5].lParam), -3);
  EXPECT_EQ(input[6].wParam, 0u);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_TRUE(shiftDuringDispatch[i]) << i;
  EXPECT_FALSE(shiftDuringDispatch[6]);
  EXPECT_FALSE(isKeyDown(VK_CONTROL));
}

TEST_F(PlatformTest, CloseRequestDestroysOnlyThatWindow) {
  WindowHandle closed = make();
  WindowHandle other = make();
  seen.clear();
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = sdlId(closed);
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  SDL_PushEvent(&e);
  pump();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].msg, WM_CLOSE);
  EXPECT_EQ(seen[1].msg, WM_DESTROY);
  EXPECT_EQ(seen[1].hwnd, closed);
  EXPECT_FALSE(isWindow(closed));
  EXPECT_TRUE(isWindow(other));
}

TEST_F(PlatformTest, InterruptAndTerminateSignalsEndTheLoop) {
  make();
  for (int signal : {SIGINT, SIGTERM}) {
    std::raise(signal);
    Message msg;
    EXPECT_FALSE(getMessage(msg)) << signal;
    EXPECT_EQ(msg.message, WM_QUIT);
  }
}

TEST_F(PlatformTest, ScreenSaverCommandDefaultHandlingLetsItRun) {
  WindowHandle hwnd = make();
  disableScreenSaver();
  EXPECT_FALSE(screenSaverEnabled());
  EXPECT_EQ(defWindowProc(hwnd, WM_SYSCOMMAND, SC_SCREENSAVE | 0x2, 0), 0);
  EXPECT_TRUE(screenSaverEnabled());
  seen.clear();
  defWindowProc(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_FALSE(isWindow(hwnd));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].msg, WM_CLOSE);
}

TEST_F(PlatformTest, ScriptedBoxesAreRecordedAndAnswered) {
  WindowHandle owner = make();
  MessageBoxScript script({IDNO, IDYES});
  EXPECT_EQ(messageBox(owner,
                       "Use the matrix restored from file?",
                       "Use data?",
                       MB_YESNOCANCEL | MB_ICONQUESTION),
            IDNO);
  EXPECT_EQ(messageBox({}, "second", "c", MB_YESNOCANCEL), IDYES);
  // With the queue empty each box gets the Escape answer.
  EXPECT_EQ(messageBox({}, "third", "c", MB_YESNOCANCEL), IDCANCEL);
  EXPECT_EQ(messageBox({}, "fourth", "c", MB_YESNO), IDNO);
  EXPECT_EQ(messageBox({}, "fifth", "c", MB_OK | MB_ICONEXCLAMATION), IDOK);
  ASSERT_EQ(script.calls().size(), 5u);
  EXPECT_EQ(script.calls()[0].owner, owner);
  EXPECT_EQ(script.calls()[0].text, "Use the matrix restored from file?");
  EXPECT_EQ(script.calls()[0].caption, "Use data?");
  EXPECT_EQ(script.calls()[0].type, MB_YESNOCANCEL | MB_ICONQUESTION);
  EXPECT_EQ(script.calls()[4].type, 0x30u);
  EXPECT_EQ(script.pending(), 0u);
}

TEST_F(PlatformTest, BoxThatCannotBeShownAnswersNothingButAnOkBoxStillOk) {
  // The offscreen driver has no message boxes. 0 is "no answer": neither Yes nor Cancel.
  testing::LogCapture log;
  EXPECT_EQ(messageBox({}, "text", "Use data?", MB_YESNOCANCEL | MB_ICONQUESTION), 0);
  EXPECT_EQ(messageBox({}, "text", "caption", MB_YESNO), 0);
  EXPECT_EQ(messageBox({}, "text", "caption", MB_OK), IDOK);
  EXPECT_TRUE(log.contains("Message box \"Use data?\" could not be shown: no display\n"));
}

TEST_F(PlatformTest, GLSetupStepsRefuseSurfaceWindows) {
  registerClass(WindowClass{"RecordingGL", &recordingProc, true});
  WindowHandle plain = make();
  EXPECT_FALSE(getDC(plain));
  WindowHandle gl = createWindow("RecordingGL", "gl", 0, 0, 32, 32, nullptr);
  DeviceContext dc = getDC(gl);
  ASSERT_TRUE(dc);
  EXPECT_EQ(createGLContext(DeviceContext{}), nullptr);
  GLContext context = createGLContext(dc);
  ASSERT_NE(context, nullptr);
  EXPECT_TRUE(makeCurrent(dc, context));
  EXPECT_TRUE(makeCurrent(DeviceContext{}, nullptr));
  EXPECT_FALSE(releaseDC(plain, dc));
  EXPECT_TRUE(releaseDC(gl, dc));
  EXPECT_TRUE(deleteGLContext(context));
  EXPECT_FALSE(deleteGLContext(nullptr));
}

}  // namespace
}  // namespace epipolar
