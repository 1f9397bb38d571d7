// uidriver.exe: looks at and presses the windows of another program, from outside it, as a user
// would; the scenario runner calls it once per step.
//   uidriver.exe wait CAPTION MS [SHOT.bmp]
//                                    waits until a visible top-level window of that caption is up,
//                                    in front and drawn, photographs the screen into SHOT.bmp if
//                                    given (and writes the window's place on it, WxH+X+Y, into
//                                    SHOT.window), then prints what the window shows on one line
//   uidriver.exe click CAPTION ID MS clicks the button ID of that window (as the mouse would)
//   uidriver.exe key CAPTION KEY MS  types Return or Escape into that window (as the keyboard
//                                    would: the window is brought to the front, the key is input)
//   uidriver.exe gone CAPTION MS     waits until no window of that caption is left
// With RK514_DRIVER_READY set to a path, wait creates that file as it starts looking, so that a
// caller can act only once the watch is on. Each step fails (exit code 1) after MS milliseconds, naming the window that never came or
// never went. The line printed for a dialog is
//   dialog "CAPTION" | ID "TEXT" | ...            every visible control, in creation order
// and for a message box (the dialog whose text control has the ID 0xFFFF, as USER32 builds it)
//   box "TITLE" | "TEXT" | buttons ID ID | owned|unowned | topmost|normal
// with texts %XX-encoded as in the state dumps.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "scenario.h"

namespace {

const int kMessageBoxTextId = 0xFFFF;

std::string WindowText(HWND window) {
  char text[4096] = {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                           &length))
    GetWindowTextA(window, text, sizeof text);
  return text;
}

HWND FindVisible(const std::string& caption) {
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, nullptr, caption.c_str())) != nullptr) {
    if (IsWindowVisible(window)) return window;
  }
  return nullptr;
}

std::vector<HWND> VisibleChildren(HWND window) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowVisible(child)) children.push_back(child);
  }
  return children;
}

std::string Quoted(const std::string& text) { return "\"" + machines::EncodeBytes(text) + "\""; }

std::string Describe(HWND window) {
  std::vector<HWND> children = VisibleChildren(window);
  HWND messageText = GetDlgItem(window, kMessageBoxTextId);
  if (messageText) {
    std::string line = "box " + Quoted(WindowText(window)) + " | " + Quoted(WindowText(messageText)) + " | buttons";
    for (HWND child : children) {
      int id = GetDlgCtrlID(child);
      char className[64] = {};
      GetClassNameA(child, className, sizeof className);
      if (lstrcmpiA(className, "Button") == 0) line += " " + std::to_string(id);
    }
    line += GetWindow(window, GW_OWNER) ? " | owned" : " | unowned";
    line += (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? " | topmost" : " | normal";
    return line;
  }
  std::string line = "dialog " + Quoted(WindowText(window));
  for (HWND child : children) line += " | " + std::to_string(GetDlgCtrlID(child)) + " " + Quoted(WindowText(child));
  return line;
}

// Blocks until the window is in front, as Windows shows the dialog a user is working with, and
// its thread has handled everything before and has drawn it. Under Wine without a window manager
// a program's first dialog is made active at its initialisation (the focus set on its default
// button), while still hidden and not in front, so its caption is drawn inactive; it comes to the
// front some 30 ms after it is shown, and since it was already the active window it is never told
// so. Once it is in front it is told (WM_NCACTIVATE), as Windows tells a window that comes to the
// front, and draws its caption active. A window that stays behind is photographed as it is after
// kFrontWaitMs, and the picture shows it.
const DWORD kFrontWaitMs = 1000;

void WaitUntilDrawn(HWND window) {
  const DWORD start = GetTickCount();
  while (GetForegroundWindow() != window && IsWindowVisible(window) && GetTickCount() - start < kFrontWaitMs) Sleep(5);
  DWORD_PTR ignored = 0;
  if (GetForegroundWindow() == window)
    SendMessageTimeoutA(window, WM_NCACTIVATE, TRUE, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
}

// The whole screen, as the rows of a bottom-up 24-bit DIB. Taken from inside the session, in a
// few milliseconds, so that even the short-lived progress dialog is on it.
bool CaptureScreen(BITMAPINFOHEADER& header, std::vector<char>& pixels) {
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool copied = false;
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    copied = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(memory, old);
  }
  if (copied) {
    const DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const char* first = static_cast<const char*>(bits);
    pixels.assign(first, first + rowBytes * static_cast<DWORD>(height));
    header = info.bmiHeader;
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return copied;
}

// What another program has drawn reaches the screen a little later under Wine (its window's
// surface is copied out when its thread next gets to it), so a picture taken at once may hold a
// half-written line of text. The screen is taken again every kSettleStepMs until two pictures
// in a row agree, at most kSettleTries times: a dialog whose bar moves never settles, and its
// last picture is kept.
const DWORD kSettleStepMs = 60;
const int kSettleTries = 8;

bool SaveScreen(const std::string& path) {
  BITMAPINFOHEADER header = {};
  std::vector<char> pixels, next;
  if (!CaptureScreen(header, pixels)) return false;
  for (int tries = 0; tries < kSettleTries; ++tries) {
    Sleep(kSettleStepMs);
    if (!CaptureScreen(header, next)) return false;
    const bool settled = next == pixels;
    pixels.swap(next);
    if (settled) break;
  }
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
  return static_cast<bool>(out.flush());
}

// The window's place on the screen, as an ImageMagick geometry (WxH+X+Y), in the file beside the
// screenshot whose extension is replaced by ".window": what a picture of the window alone is cut
// from. Its frame's outer dark line cannot be told from a black screen around it.
bool SaveWindowPlace(const RECT& rect, const std::string& shotPath) {
  const std::string::size_type dot = shotPath.find_last_of('.');
  std::ofstream out(shotPath.substr(0, dot) + ".window");
  out << (rect.right - rect.left) << 'x' << (rect.bottom - rect.top) << '+' << rect.left << '+' << rect.top << '\n';
  return static_cast<bool>(out.flush());
}

void SayReady() {
  char path[MAX_PATH] = {};
  if (!GetEnvironmentVariableA("RK514_DRIVER_READY", path, MAX_PATH)) return;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

HWND WaitFor(const std::string& caption, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND window = FindVisible(caption)) return window;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(10);
  }
}

// A key typed on the keyboard: SendInput goes the way of hardware input, to the focus of the
// window in front, which the window is made first.
bool TypeKey(HWND window, WORD key) {
  SetForegroundWindow(window);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = inputs[1].ki.wVk = key;
  inputs[0].ki.wScan = inputs[1].ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

int NeverCame(const std::string& caption, DWORD timeoutMs) {
  std::fprintf(stderr, "uidriver: the window \"%s\" never came (waited %lu ms)\n", caption.c_str(),
               static_cast<unsigned long>(timeoutMs));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "wait" && (argc == 4 || argc == 5)) {
    const DWORD timeoutMs = std::strtoul(argv[3], nullptr, 10);
    SayReady();
    HWND window = WaitFor(argv[2], timeoutMs);
    if (!window) return NeverCame(argv[2], timeoutMs);
    WaitUntilDrawn(window);
    std::string line = Describe(window);
    // Its place is taken before the picture: the progress dialog may be gone a moment later.
    RECT place = {};
    const bool placed = GetWindowRect(window, &place) != 0;
    if (argc == 5 && !(placed && SaveScreen(argv[4]) && SaveWindowPlace(place, argv[4]))) {
      std::fprintf(stderr, "uidriver: no screenshot of \"%s\" in %s\n", argv[2], argv[4]);
      return 1;
    }
    std::printf("%s\n", line.c_str());
    return 0;
  }
  if (command == "click" && argc == 5) {
    const DWORD timeoutMs = std::strtoul(argv[4], nullptr, 10);
    HWND window = WaitFor(argv[2], timeoutMs);
    if (!window) return NeverCame(argv[2], timeoutMs);
    HWND button = GetDlgItem(window, std::atoi(argv[3]));
    if (!button || !IsWindowVisible(button)) {
      std::fprintf(stderr, "uidriver: the window \"%s\" has no button %s\n", argv[2], argv[3]);
      return 1;
    }
    // Posted, so that this tool never waits on the other program's answer to the click.
    PostMessageA(button, BM_CLICK, 0, 0);
    return 0;
  }
  if (command == "key" && argc == 5) {
    const DWORD timeoutMs = std::strtoul(argv[4], nullptr, 10);
    const std::string name = argv[3];
    const WORD key = name == "Return" ? VK_RETURN : name == "Escape" ? VK_ESCAPE : 0;
    if (!key) {
      std::fprintf(stderr, "uidriver: unknown key %s (Return or Escape)\n", argv[3]);
      return 2;
    }
    HWND window = WaitFor(argv[2], timeoutMs);
    if (!window) return NeverCame(argv[2], timeoutMs);
    if (!TypeKey(window, key)) {
      std::fprintf(stderr, "uidriver: the key %s did not reach \"%s\"\n", argv[3], argv[2]);
      return 1;
    }
    return 0;
  }
  if (command == "gone" && argc == 4) {
    const DWORD timeoutMs = std::strtoul(argv[3], nullptr, 10);
    const DWORD start = GetTickCount();
    while (FindWindowA(nullptr, argv[2])) {
      if (GetTickCount() - start >= timeoutMs) {
        std::fprintf(stderr, "uidriver: the window \"%s\" never went (waited %lu ms)\n", argv[2],
                     static_cast<unsigned long>(timeoutMs));
        return 1;
      }
      Sleep(10);
    }
    return 0;
  }
  std::fprintf(stderr,
               "usage: uidriver.exe wait CAPTION MS [SHOT.bmp] | click CAPTION ID MS | "
               "key CAPTION Return|Escape MS | gone CAPTION MS\n");
  return 2;
}
