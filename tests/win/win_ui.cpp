#include "win_ui.h"

#include <wincodec.h>

#include <cstdio>

#include "resource.h"

namespace wintest {

namespace {

SRWLOCK FailureLock = SRWLOCK_INIT;
std::vector<std::string> FailureList;
std::string ShotDirectory = ".";
volatile LONG CheckCount = 0;

constexpr DWORD kWaitMs = 20000;  // a first start of Wine's desktop can take seconds
constexpr DWORD kPollMs = 10;
constexpr int kMessageBoxTextId = 0xFFFF;  // the text of a system message box

struct Search {
    const char* title;  // null: an untitled dialog
    HWND owner;         // null: any owner
    HWND found;
    bool anyTitle = false;
    bool messageBox = false;  // only a system message box (it has the text control)
};

BOOL CALLBACK Matches(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (ClassOf(window) != "#32770") return TRUE;
    if (search->owner != nullptr && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
    const std::string title = Text(window);
    const bool titled = search->title == nullptr ? title.empty() : title == search->title;
    if (!search->anyTitle && !titled) return TRUE;
    if (search->messageBox && GetDlgItem(window, kMessageBoxTextId) == nullptr) return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindDialog(const char* title, HWND owner) {
    Search search{title, owner, nullptr};
    EnumWindows(Matches, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A thread start routine has the WINAPI convention, which on i686 is not
// the default one.
DWORD WINAPI RunWork(LPVOID p) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    (*static_cast<std::function<void()>*>(p))();
    CoUninitialize();
    return 0;
}

HANDLE StartThread(std::function<void()>* work) {
    return CreateThread(nullptr, 0, RunWork, work, 0, nullptr);
}

HWND FindMessageBox(HWND owner) {
    Search search{nullptr, owner, nullptr, true, true};
    EnumWindows(Matches, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Runs `work` on a thread of its own and returns when it is done or when a
// message box owned by `owner` has opened meanwhile (the work then finishes
// by itself once the box is answered).
void RunUntilDoneOrBox(HWND owner, std::function<void()> work) {
    auto* kept = new std::function<void()>(std::move(work));  // outlives a blocked thread
    HANDLE thread = StartThread(kept);
    for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
        if (WaitForSingleObject(thread, kPollMs) == WAIT_OBJECT_0) {
            delete kept;
            break;
        }
        if (FindMessageBox(owner) != nullptr) break;
    }
    CloseHandle(thread);
}

std::string Describe(HWND dialog, int id) {
    char text[64];
    std::snprintf(text, sizeof text, "control %d of \"%s\"", id, Text(dialog).c_str());
    return text;
}

}  // namespace

void Fail(const std::string& what) {
    AcquireSRWLockExclusive(&FailureLock);
    FailureList.push_back(what);
    std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    ReleaseSRWLockExclusive(&FailureLock);
}

bool Expect(bool condition, const std::string& what) {
    InterlockedIncrement(&CheckCount);
    if (!condition) Fail(what);
    return condition;
}

bool ExpectText(const std::string& actual, const std::string& expected, const std::string& what) {
    return Expect(actual == expected, what + ": \"" + actual + "\", expected \"" + expected + "\"");
}

bool ExpectNumber(long long actual, long long expected, const std::string& what) {
    return Expect(actual == expected,
                  what + ": " + std::to_string(actual) + ", expected " + std::to_string(expected));
}

const std::vector<std::string>& Failures() {
    return FailureList;
}

long Checks() {
    return CheckCount;
}

void WithUser(const std::function<void()>& request, const std::function<void()>& scenario) {
    std::function<void()> work = [&] {
        scenario();
        // Whatever the scenario left open is closed, so the request returns.
        for (int round = 0; round < 50; ++round) {
            Search any{nullptr, nullptr, nullptr, true};
            EnumWindows(Matches, reinterpret_cast<LPARAM>(&any));
            HWND left = any.found;
            if (left == nullptr) return;
            if (round == 0) Fail("\"" + Text(left) + "\" was left open");
            // "OK" of the image correction is its only way out.
            for (int id : {IDCANCEL, IDOK, IDC_CURVE_OK})
                PostMessageA(left, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
            Sleep(100);
        }
    };
    HANDLE helper = StartThread(&work);
    request();
    if (WaitForSingleObject(helper, 60000) != WAIT_OBJECT_0) Fail("the dialog scenario hangs");
    CloseHandle(helper);
}

HWND WaitForDialog(const char* title, HWND owner) {
    for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
        if (HWND found = FindDialog(title, owner)) {
            Settle(found);
            return found;
        }
        Sleep(kPollMs);
    }
    Fail(std::string("no dialog \"") + (title != nullptr ? title : "(untitled)") + "\" appeared");
    return nullptr;
}

void WaitUntilClosed(HWND window) {
    for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
        if (!IsWindow(window)) return;
        Sleep(kPollMs);
    }
    Fail("\"" + Text(window) + "\" did not close");
}

std::string Text(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ItemText(HWND dialog, int id) {
    return Text(GetDlgItem(dialog, id));
}

bool Enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

bool Checked(HWND dialog, int id) {
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

void Click(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!Expect(button != nullptr && IsWindowEnabled(button), "click on " + Describe(dialog, id)))
        return;
    SendMessageA(button, BM_CLICK, 0, 0);
}

void ClickAsync(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!Expect(button != nullptr && IsWindowEnabled(button), "click on " + Describe(dialog, id)))
        return;
    PostMessageA(button, BM_CLICK, 0, 0);
}

void SelectCombo(HWND dialog, int id, int position) {
    HWND combo = GetDlgItem(dialog, id);
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

void TypeText(HWND dialog, int id, const std::string& text) {
    RunUntilDoneOrBox(dialog, [dialog, id, text] { SetDlgItemTextA(dialog, id, text.c_str()); });
}

void LeaveEdit(HWND dialog, int id) {
    HWND edit = GetDlgItem(dialog, id);
    RunUntilDoneOrBox(dialog, [edit] { SendMessageA(edit, WM_KILLFOCUS, 0, 0); });
}

void ScrollLine(HWND dialog, int scrollBarId, bool up) {
    SendMessageA(dialog, WM_VSCROLL, MAKEWPARAM(up ? SB_LINEUP : SB_LINEDOWN, 0),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, scrollBarId)));
}

void MouseDown(HWND control, int x, int y) {
    SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
}
void MouseMove(HWND control, int x, int y) {
    SendMessageA(control, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
}
void MouseUp(HWND control, int x, int y) {
    SendMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
}

void Settle(HWND dialog) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &ignored);
}

void AnswerMessageBox(HWND owner, const char* caption, const std::string& text, int answer,
                      const char* screenshot) {
    HWND box = WaitForDialog(caption, owner);
    if (box == nullptr) return;
    ExpectText(ItemText(box, kMessageBoxTextId), text, std::string("text of \"") + caption + "\"");
    if (screenshot != nullptr) Screenshot(box, screenshot);
    if (!Expect(GetDlgItem(box, answer) != nullptr,
                std::string("\"") + caption + "\" has the button " + std::to_string(answer)))
        answer = IDCANCEL;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
    WaitUntilClosed(box);
    Settle(owner);
}

void SetScreenshotDirectory(const std::string& directory) {
    ShotDirectory = directory;
}

Picture Capture(HWND window) {
    Settle(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_FRAME);
    Settle(window);
    Sleep(150);  // the X server shows what was drawn
    RECT r = {};
    GetWindowRect(window, &r);
    Picture picture;
    picture.width = r.right - r.left;
    picture.height = r.bottom - r.top;
    if (picture.width <= 0 || picture.height <= 0) return picture;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, picture.width, picture.height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const auto* source = static_cast<const std::uint32_t*>(bits);
    picture.pixels.assign(source,
                          source + static_cast<std::size_t>(picture.width) * picture.height);
    for (auto& p : picture.pixels) p &= 0xFFFFFF;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

namespace {

// PNG through the platform's imaging codecs.
bool WritePng(const Picture& picture, const std::string& path) {
    const UINT stride = static_cast<UINT>((picture.width * 3 + 3) & ~3);
    std::vector<BYTE> rows(static_cast<std::size_t>(stride) * picture.height);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t p = picture.At(x, y);
            BYTE* out = &rows[static_cast<std::size_t>(y) * stride + 3 * x];
            out[0] = static_cast<BYTE>(p), out[1] = static_cast<BYTE>(p >> 8),
            out[2] = static_cast<BYTE>(p >> 16);
        }
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) == 0) return false;

    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(wide, GENERIC_WRITE);
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
    if (SUCCEEDED(hr)) hr = frame->Initialize(options);
    if (SUCCEEDED(hr))
        hr = frame->SetSize(static_cast<UINT>(picture.width), static_cast<UINT>(picture.height));
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = frame->WritePixels(static_cast<UINT>(picture.height), stride,
                                static_cast<UINT>(rows.size()), rows.data());
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    if (options) options->Release();
    if (frame) frame->Release();
    if (encoder) encoder->Release();
    if (stream) stream->Release();
    if (factory) factory->Release();
    return SUCCEEDED(hr);
}

}  // namespace

void Screenshot(HWND window, const char* name) {
    const Picture picture = Capture(window);
    const std::string path = ShotDirectory + "/" + name + ".png";
    if (!Expect(picture.width > 0 && WritePng(picture, path), "screenshot " + path)) return;
    std::printf("screenshot %s (%d x %d)\n", path.c_str(), picture.width, picture.height);
}

}  // namespace wintest
