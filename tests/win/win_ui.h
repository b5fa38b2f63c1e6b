// Driving the module's real dialogs from a helper thread of the Windows test
// host: the dialogs run modally on the host's thread inside a request, this
// side finds them, reads their controls, and acts through window messages
// as a user's mouse and keyboard would.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wintest {

// Failures are collected, not thrown: a scenario goes on after one so that a
// single run reports every mismatch.
void Fail(const std::string& what);
bool Expect(bool condition, const std::string& what);
bool ExpectText(const std::string& actual, const std::string& expected, const std::string& what);
bool ExpectNumber(long long actual, long long expected, const std::string& what);
const std::vector<std::string>& Failures();
long Checks();  // how many were made

// Runs `scenario` on a helper thread while `request` runs on this one (the
// request opens the dialogs and returns when the last closes).
void WithUser(const std::function<void()>& request, const std::function<void()>& scenario);

// A top-level dialog window of this process with the given title (a null
// title: an untitled one) owned by `owner` (null: any owner); waits up to
// twenty seconds. Returns null, and fails, when none appears.
HWND WaitForDialog(const char* title, HWND owner = nullptr);
// Waits until the window is gone; fails when it stays.
void WaitUntilClosed(HWND window);

std::string Text(HWND window);
std::string ItemText(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
bool Checked(HWND dialog, int id);
std::string ClassOf(HWND window);

// Actions that may open a modal window go through the message queue (they
// return at once); the others wait until the dialog has handled them.
void Click(HWND dialog, int id);
void ClickAsync(HWND dialog, int id);
void SelectCombo(HWND dialog, int id, int position);
// Sets an edit's text as a user's paste would, with its EN_CHANGE; returns
// without waiting when the text opens a warning.
void TypeText(HWND dialog, int id, const std::string& text);
// The edit loses the focus (its EN_KILLFOCUS); may open a warning.
void LeaveEdit(HWND dialog, int id);
void ScrollLine(HWND dialog, int scrollBarId, bool up);
// Mouse messages in the client coordinates of a control.
void MouseDown(HWND control, int x, int y);
void MouseMove(HWND control, int x, int y);
void MouseUp(HWND control, int x, int y);
// Lets every message sent or posted so far be handled.
void Settle(HWND dialog);

// A message box owned by `owner`: checks its caption and text, saves a
// screenshot, answers it with the button `answer` (IDOK, IDYES, IDNO).
void AnswerMessageBox(HWND owner, const char* caption, const std::string& text, int answer,
                      const char* screenshot);

// The window as the screen shows it, saved as SHOTS/NAME.png.
void SetScreenshotDirectory(const std::string& directory);
struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, rows top-down
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
Picture Capture(HWND window);
void Screenshot(HWND window, const char* name);

}  // namespace wintest
