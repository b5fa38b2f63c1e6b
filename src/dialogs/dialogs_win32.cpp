// Win32 dialog layer: the dialogs are the module's own templates, run with
// DialogBoxParamA; the logic's handlers are called from the dialog procedure.
#include <windows.h>

// After windows.h, which it builds on.
#include <commctrl.h>

#include "dialogs/dialog_platform.h"
#include "dialogs/dialogs.h"
#include "resource.h"

namespace varnu {

namespace {

// What a running dialog keeps in its DWLP_USER slot.
struct RunningDialog {
    const DialogLogic* logic;
    WNDPROC previewProcedure;  // the preview control's own procedure
};

constexpr char kModuleName[] = "kvdmc_g";
constexpr char kRunningProperty[] = "VarnuDialog";

HWND W(DialogWindow dialog) {
    return static_cast<HWND>(dialog);
}

HINSTANCE ModuleInstance() {
    return GetModuleHandleA(kModuleName);
}

RunningDialog* RunningOf(HWND dialog) {
    return reinterpret_cast<RunningDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

// The preview's mouse input goes to the logic first; the rest to the button.
LRESULT CALLBACK PreviewProcedure(HWND preview, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND dialog = GetParent(preview);
    RunningDialog* running = RunningOf(dialog);
    if (running == nullptr) return DefWindowProcA(preview, message, wParam, lParam);
    const int x = LOWORD(lParam), y = HIWORD(lParam);
    switch (message) {
        case WM_LBUTTONDOWN:
            running->logic->mouse(dialog, IDC_PREVIEW, MouseAction::Press, x, y);
            return 0;
        case WM_MOUSEMOVE:
            running->logic->mouse(dialog, IDC_PREVIEW, MouseAction::Move, x, y);
            return 0;
        case WM_LBUTTONUP:
            running->logic->mouse(dialog, IDC_PREVIEW, MouseAction::Release, x, y);
            return 0;
        default:
            return CallWindowProcA(running->previewProcedure, preview, message, wParam, lParam);
    }
}

INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* running = reinterpret_cast<RunningDialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(running));
        if (running->logic->mouse != nullptr) {
            HWND preview = GetDlgItem(dialog, IDC_PREVIEW);
            running->previewProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
                preview, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PreviewProcedure)));
        }
        return running->logic->init != nullptr ? running->logic->init(dialog) : TRUE;
    }
    RunningDialog* running = RunningOf(dialog);
    if (running == nullptr) return FALSE;
    const DialogLogic& logic = *running->logic;
    switch (message) {
        case WM_COMMAND: {
            const int control = LOWORD(wParam), notification = HIWORD(wParam);
            // Escape arrives as "Abbrechen" with no control behind it.
            if (control == IDCANCEL && lParam == 0 && !logic.closesOnEscape) return TRUE;
            return logic.command != nullptr && logic.command(dialog, control, notification) ? TRUE
                                                                                            : FALSE;
        }
        case WM_VSCROLL:
        case WM_HSCROLL:
            if (logic.scroll == nullptr || lParam == 0) return FALSE;
            return logic.scroll(dialog, GetDlgCtrlID(reinterpret_cast<HWND>(lParam)),
                                LOWORD(wParam))
                       ? TRUE
                       : FALSE;
        case WM_DRAWITEM: {
            if (logic.paint == nullptr) return TRUE;
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            const PaintRect rect = {item->rcItem.left, item->rcItem.top, item->rcItem.right,
                                    item->rcItem.bottom};
            logic.paint(dialog, static_cast<int>(item->CtlID), item->hDC, rect);
            return TRUE;
        }
        case WM_NOTIFY:
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

std::int32_t RunDialog(const char* templateName, DialogWindow owner, const DialogLogic& logic) {
    static bool controlsReady = false;
    if (!controlsReady) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_UPDOWN_CLASS};
        InitCommonControlsEx(&classes);
        controlsReady = true;
    }
    RunningDialog running = {&logic, nullptr};
    return static_cast<std::int32_t>(DialogBoxParamA(ModuleInstance(), templateName, W(owner),
                                                     DialogProcedure,
                                                     reinterpret_cast<LPARAM>(&running)));
}

void EndDialogWith(DialogWindow dialog, std::int32_t result) {
    EndDialog(W(dialog), result);
}

void EnableControl(DialogWindow dialog, int control, bool enabled) {
    EnableWindow(GetDlgItem(W(dialog), control), enabled ? TRUE : FALSE);
}

void CheckRadio(DialogWindow dialog, int first, int last, int checked) {
    CheckRadioButton(W(dialog), first, last, checked);
}

void SetControlText(DialogWindow dialog, int control, const char* text) {
    SetDlgItemTextA(W(dialog), control, text);
}

int GetControlText(DialogWindow dialog, int control, char* text, int size) {
    return static_cast<int>(GetDlgItemTextA(W(dialog), control, text, size));
}

void SetControlUnsigned(DialogWindow dialog, int control, std::uint32_t value) {
    SetDlgItemInt(W(dialog), control, value, FALSE);
}

std::uint32_t GetControlUnsigned(DialogWindow dialog, int control, bool* isNumber) {
    BOOL translated = FALSE;
    const UINT value = GetDlgItemInt(W(dialog), control, &translated, FALSE);
    *isNumber = translated != FALSE;
    return value;
}

void LimitText(DialogWindow dialog, int control, int characters) {
    SendDlgItemMessageA(W(dialog), control, EM_LIMITTEXT, static_cast<WPARAM>(characters), 0);
}

void SelectAllText(DialogWindow dialog, int control) {
    SendDlgItemMessageA(W(dialog), control, EM_SETSEL, 0, -1);
}

void FocusControl(DialogWindow dialog, int control) {
    SetFocus(GetDlgItem(W(dialog), control));
}

void ComboReset(DialogWindow dialog, int control) {
    SendDlgItemMessageA(W(dialog), control, CB_RESETCONTENT, 0, 0);
}

void ComboAdd(DialogWindow dialog, int control, const char* item) {
    SendDlgItemMessageA(W(dialog), control, CB_INSERTSTRING, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(item));
}

void ComboSelect(DialogWindow dialog, int control, int position) {
    SendDlgItemMessageA(W(dialog), control, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
}

int ComboSelection(DialogWindow dialog, int control) {
    return static_cast<int>(SendDlgItemMessageA(W(dialog), control, CB_GETCURSEL, 0, 0));
}

void SpinRange(DialogWindow dialog, int control, int low, int high) {
    SendDlgItemMessageA(W(dialog), control, UDM_SETRANGE, 0, MAKELPARAM(high, low));
}

void SpinSetPosition(DialogWindow dialog, int control, int position) {
    SendDlgItemMessageA(W(dialog), control, UDM_SETPOS, 0, MAKELPARAM(position, 0));
}

int SpinPosition(DialogWindow dialog, int control) {
    return LOWORD(SendDlgItemMessageA(W(dialog), control, UDM_GETPOS, 0, 0));
}

std::int32_t MessageBoxFor(DialogWindow owner, const char* text, const char* caption,
                           std::uint32_t style) {
    return MessageBoxA(W(owner), text, caption, style);
}

void CaptureMouse(DialogWindow dialog, int control) {
    SetCapture(GetDlgItem(W(dialog), control));
}
void ReleaseMouse(DialogWindow) {
    ReleaseCapture();
}

void SetCursorShape(CursorShape shape) {
    SetCursor(LoadCursorA(nullptr, shape == CursorShape::Cross ? IDC_CROSS : IDC_ARROW));
}

void RepaintControl(DialogWindow dialog, int control) {
    InvalidateRect(GetDlgItem(W(dialog), control), nullptr, TRUE);
}

std::int32_t ControlClientBottom(DialogWindow dialog, int control) {
    RECT r = {};
    GetClientRect(GetDlgItem(W(dialog), control), &r);
    return r.bottom;
}

void DrawBitmapStretched(Canvas canvas, int bitmap, const PaintRect& r) {
    HDC target = static_cast<HDC>(canvas);
    HBITMAP picture = LoadBitmapA(ModuleInstance(), MAKEINTRESOURCEA(bitmap));
    if (picture == nullptr) return;
    HDC source = CreateCompatibleDC(target);
    HGDIOBJ previous = SelectObject(source, picture);
    BITMAP info = {};
    GetObjectA(picture, sizeof info, &info);
    StretchBlt(target, r.left, r.top, r.right - r.left, r.bottom - r.top, source, 0, 0,
               info.bmWidth, info.bmHeight, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
    DeleteObject(picture);
}

void FillRectangle(Canvas canvas, const PaintRect& r, Rgb24 colour) {
    HBRUSH brush = CreateSolidBrush(RGB(colour.red, colour.green, colour.blue));
    const RECT rect = {r.left, r.top, r.right, r.bottom};
    FillRect(static_cast<HDC>(canvas), &rect, brush);
    DeleteObject(brush);
}

void DrawPolyline(Canvas canvas, const PaintPoint* points, int count, Rgb24 colour) {
    HDC dc = static_cast<HDC>(canvas);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(colour.red, colour.green, colour.blue));
    HGDIOBJ previous = SelectObject(dc, pen);
    POINT line[256];
    const int n = count < 256 ? count : 256;
    for (int i = 0; i < n; ++i) line[i] = {points[i].x, points[i].y};
    Polyline(dc, line, n);
    SelectObject(dc, previous);
    DeleteObject(pen);
}

std::int32_t ShowMessageBox(std::uint32_t owner, const char* text, const char* caption,
                            std::uint32_t style) {
    return MessageBoxA(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(owner)), text, caption,
                       style);
}

}  // namespace varnu
