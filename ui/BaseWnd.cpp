#include "ui/BaseWnd.h"

namespace epipolar {

std::map<WindowHandle, BaseWnd*> BaseWnd::windowMap;

WindowClass& BaseWnd::baseClass() {
  static WindowClass record{"BaseWnd", nullptr, false};
  return record;
}

BaseWnd::BaseWnd() { baseClass(); }

BaseWnd::~BaseWnd() {
  // Derived parts are gone: the WM_DESTROY sent here reaches BaseWnd::handleMessage.
  if (hwnd) {
    destroyWindow(hwnd);  // fails quietly when the user already closed the window
    windowMap.erase(hwnd);
  }
  hwnd = WindowHandle{};
}

bool BaseWnd::show(bool visible) { return showWindow(hwnd, visible); }

void BaseWnd::invalidate() { epipolar::invalidate(hwnd); }

LRESULT BaseWnd::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_DESTROY) {
    if (quitOnDestroy) postQuitMessage(0);
    return 0;
  }
  return defWindowProc(hwnd, msg, wParam, lParam);
}

void BaseWnd::releaseResources() {}

bool BaseWnd::create(
    WindowClass& windowClass, const std::string& title, int x, int y, int width, int height) {
  windowClass.proc = &BaseWnd::windowProc;
  registerClass(windowClass);  // later registrations of the same class fail harmlessly
  WindowHandle created = createWindow(windowClass.name, title.c_str(), x, y, width, height, this);
  hwnd = created;
  if (created) windowMap[created] = this;
  return true;
}

std::string BaseWnd::getTitle() const {
  std::string title = getWindowText(hwnd);
  if (title.size() > 255) title.resize(255);
  return title;
}

void BaseWnd::setTitle(const std::string& title) { setWindowText(hwnd, title); }

LRESULT BaseWnd::windowProc(WindowHandle handle, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto it = windowMap.find(handle);
  if (it != windowMap.end()) return it->second->handleMessage(msg, wParam, lParam);
  if (msg == WM_CREATE) {
    // The handle is recorded only when creation returns, so the object comes from the
    // creation parameter; its hwnd is still null here.
    auto* create = reinterpret_cast<const CreateStruct*>(lParam);
    if (create != nullptr && create->createParams != nullptr)
      return static_cast<BaseWnd*>(create->createParams)->handleMessage(msg, wParam, lParam);
  }
  return defWindowProc(handle, msg, wParam, lParam);
}

}  // namespace epipolar
