// Driver request 21 and plot request 46 with their real dialogs. The host's
// thread sends the request and is held by the modal dialog; the helper
// thread of WithUser checks each window against its template and the
// shipped model, types and clicks through it, and closes it. What reaches the
// host afterwards (the stored record, the job's label) is checked here.
//
// Texts are Windows-1252, as the module's resources and messages are.
#include "dialog_scenarios.h"

#include <windows.h>

// After windows.h, which it builds on.
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"
#include "varnu/packet_layouts.h"
#include "win_ui.h"

namespace wintest {

namespace {

using varnu::reference::LowAllocateFn;
using varnu::reference::PladiFn;

// ---- the scenarios' host ---------------------------------------------------

struct ScenarioHost {
    std::uint8_t stored[40] = {};  // the record the host keeps for the driver
    int stores = 0;
    std::string output;
    std::vector<std::string> messages;
};
ScenarioHost Host;

std::int32_t PrintMessage(const char* text) {
    Host.messages.emplace_back(text);
    return 0;
}
std::int32_t SendDeviceString(const char*) {
    return 0;
}
std::int32_t WriteOutput(std::int32_t, std::int32_t, const void* bytes, std::int32_t count,
                         std::int32_t) {
    Host.output.append(static_cast<const char*>(bytes), static_cast<std::size_t>(count));
    return 1;
}
std::int32_t LoadConfig(std::int32_t, void* record) {
    std::memcpy(record, Host.stored, 40);
    return 0;
}
std::int32_t StoreConfig(std::int32_t, const void* record) {
    std::memcpy(Host.stored, record, 40);
    ++Host.stores;
    return 0;
}
std::int32_t NotifyHost(std::int32_t, std::int32_t) {
    return 1;
}

using varnu::LoadLe;
using varnu::hostkit::Packet;
namespace layout = varnu::layout;

varnu::hostkit::Handlers Handlers;

std::int16_t Driver(Packet p) {
    Handlers.driver(p.bytes);
    return p.result();
}
std::int16_t Plot(Packet p) {
    Handlers.plot(p.bytes);
    return p.result();
}

// ---- the templates -----------------------------------------------------------

// Window classes of the template's control kinds.
constexpr char kButton[] = "Button", kStatic[] = "Static", kEdit[] = "Edit", kCombo[] = "ComboBox",
               kSpin[] = "msctls_updown32", kScroll[] = "ScrollBar";

struct ControlSpec {
    int id;
    const char* windowClass;
    const char* caption;  // null: not looked at (edits, lists, spins)
};

// The configuration dialogs; the label row only in the driver dialog.
const std::vector<ControlSpec> kConfigControls = {
    {104, kButton, "Material-Setup"},
    {1006, kStatic, "Materialart ausw\344hlen (&K):"},
    {1007, kCombo, nullptr},
    {108, kStatic, "Materialformat (&P):"},
    {105, kCombo, nullptr},
    {1008, kStatic, "Rand einstellen (&G):"},
    {1009, kEdit, nullptr},
    {1010, kSpin, nullptr},
    {1011, kStatic, "L\344nge (&mm):"},
    {1012, kEdit, nullptr},
    {1013, kButton, "Druck-Setup"},
    {1017, kButton, "F\374llung"},
    {1018, kButton, "Voll (&F)"},
    {1019, kButton, "Halbton (&T)"},
    {1025, kButton, "Abbildung"},
    {1029, kButton, "Aufl\366sung w\344hlen"},
    {1030, kButton, "600(&6)"},
    {1031, kButton, "400(&4)"},
    {1032, kButton, "300(&3)"},
    {1033, kButton, "200(&2)"},
    {3030, kButton, "Bildkorrektur"},
    {1067, kButton, "+1 Farbe (&U)"},
    {1068, kButton, "Rot-Druck"},
    {1069, kButton, "Ja (&E)"},
    {1070, kButton, "Nein (&O)"},
    {1071, kStatic, "Rot-angegebene Stiftnummer (&A):"},
    {1072, kEdit, nullptr},
    {116, kStatic, "Anzahl an Kopien (&Y):"},
    {114, kEdit, nullptr},
    {115, kSpin, nullptr},
    {1073, kButton, "Erstellte Daten w\344hlen"},
    {1074, kButton, "RTL/GL2(&R)"},
    {1075, kButton, "VCGL+MMR(&V)"},
    {1038, kButton, "Version..."},
    {1076, kButton, "Optionen..."},
    {1, kButton, "OK"},
    {2, kButton, "Abbrechen"},
};
const std::vector<ControlSpec> kLabelControls = {
    {1039, kStatic, "Etikett (&L):"},
    {1040, kStatic, "(Nur alphanumerisch)"},
    {1041, kEdit, nullptr},
};
const std::vector<ControlSpec> kOptionControls = {
    {1081, kButton, "Faltung (&F)"},
    {1089, kStatic, "Programm (&P)"},
    {1096, kCombo, nullptr},
    {1008, kStatic, "Rand (&M)"},
    {1094, kCombo, nullptr},
    {1090, kStatic, "Ausgabe -Fach (&O)"},
    {1095, kCombo, nullptr},
    {1112, kButton, "Manuelle Ausgabe"},
    {1114, kButton, "Ja (&1)"},
    {1116, kButton, "Nein (&0)"},
    {1, kButton, "OK"},
    {2, kButton, "Abbrechen"},
};
const std::vector<ControlSpec> kInformationControls = {
    {501, kStatic, "Varnu 4820/4810 Wide Format [Ver. 3.0.0] ADI 4.3 "},  // replaced on opening
    {IDC_NOTICE, kStatic, "\251 2026 The Varnu ADI driver developers"},
    {IDC_PICTURE, kStatic, nullptr},
    {1, kButton, "OK"},
};
const std::vector<ControlSpec> kCurveControls = {
    {3009, kButton, nullptr}, {3000, kStatic, "Eingabe"},    {3002, kStatic, "Ausgabe"},
    {3005, kStatic, "0%"},    {3006, kStatic, "100%"},       {3007, kStatic, "0%"},
    {3008, kStatic, "100%"},  {3001, kStatic, ""},           {3003, kStatic, ""},
    {3004, kStatic, ""},      {3015, kButton, "Helligkeit"}, {3016, kStatic, "S\344ttigung"},
    {3017, kScroll, nullptr}, {3018, kStatic, "T\366nung"},  {3019, kScroll, nullptr},
    {3020, kStatic, "Gamma"}, {3021, kScroll, nullptr},      {3010, kButton, "Voreinstellung"},
    {3031, kButton, "OK"},
};

std::string Name(HWND dialog, int id) {
    return "\"" + Text(dialog) + "\" control " + std::to_string(id);
}

// Title, client size in dialog units, and every listed control with its
// class and caption; no control with an id the list does not have.
void CheckTemplate(HWND dialog, const char* title, int width, int height,
                   const std::vector<std::vector<ControlSpec>>& lists) {
    ExpectText(Text(dialog), title != nullptr ? title : "", "title");
    RECT units = {0, 0, width, height};
    MapDialogRect(dialog, &units);
    RECT client = {};
    GetClientRect(dialog, &client);
    Expect(client.right == units.right && client.bottom == units.bottom,
           "\"" + Text(dialog) + "\" is " + std::to_string(client.right) + " x " +
               std::to_string(client.bottom) + " pixels, its template " +
               std::to_string(units.right) + " x " + std::to_string(units.bottom));
    std::vector<int> listed;
    for (const auto& list : lists)
        for (const ControlSpec& c : list) {
            listed.push_back(c.id);
            HWND control = GetDlgItem(dialog, c.id);
            if (!Expect(control != nullptr, Name(dialog, c.id) + " is missing")) continue;
            ExpectText(ClassOf(control), c.windowClass, Name(dialog, c.id) + " class");
            if (c.caption != nullptr) ExpectText(Text(control), c.caption, Name(dialog, c.id));
        }
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        bool known = id == -1 || id == 0xFFFF;  // unnamed statics: tick marks, notice
        for (int l : listed) known = known || l == id;
        Expect(known, Name(dialog, id) + " is not in the template");
    }
}

void ExpectEnabled(HWND dialog, std::initializer_list<int> ids, bool enabled) {
    for (int id : ids)
        Expect(Enabled(dialog, id) == enabled,
               Name(dialog, id) + (enabled ? " is disabled" : " is enabled"));
}

void ExpectChecked(HWND dialog, std::initializer_list<int> ids, bool checked) {
    for (int id : ids)
        Expect(Checked(dialog, id) == checked,
               Name(dialog, id) + (checked ? " is not checked" : " is checked"));
}

std::string ComboItem(HWND dialog, int id, int position) {
    char text[128] = {};
    if (SendDlgItemMessageA(dialog, id, CB_GETLBTEXTLEN, position, 0) >= 128) return "(too long)";
    SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, position, reinterpret_cast<LPARAM>(text));
    return text;
}

void ExpectCombo(HWND dialog, int id, int count, int selection,
                 std::initializer_list<std::pair<int, const char*>> items) {
    ExpectNumber(SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0), count,
                 Name(dialog, id) + " entries");
    ExpectNumber(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0), selection,
                 Name(dialog, id) + " selection");
    for (const auto& [position, text] : items)
        ExpectText(ComboItem(dialog, id, position), text,
                   Name(dialog, id) + " entry " + std::to_string(position));
}

void ExpectLimit(HWND dialog, int id, int characters) {
    ExpectNumber(SendDlgItemMessageA(dialog, id, EM_GETLIMITTEXT, 0, 0), characters,
                 Name(dialog, id) + " text limit");
}

void ExpectSpinRange(HWND dialog, int id, int low, int high) {
    int lowGot = -1, highGot = -1;
    SendDlgItemMessageA(dialog, id, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lowGot),
                        reinterpret_cast<LPARAM>(&highGot));
    Expect(lowGot == low && highGot == high,
           Name(dialog, id) + " range " + std::to_string(lowGot) + ".." + std::to_string(highGot));
}

// The groups the shipped model does not offer, and the 600 dpi button it does.
void ExpectShippedModel(HWND dialog) {
    ExpectEnabled(dialog, {1073, 1074, 1075, 1067, 1068, 1069, 1070, 1071, 1072}, false);
    ExpectChecked(dialog, {1074}, true);
    ExpectEnabled(dialog, {1006, 1007, 1030, 1031, 1032, 1033, 3030, 1038, 1076}, true);
    ExpectCombo(dialog, 1007, 4, LoadLe<std::int16_t>(Host.stored, 12),
                {{0, "Postpapier                      "}, {3, "Vellum-Papier                   "}});
    ExpectLimit(dialog, 114, 2);
    ExpectLimit(dialog, 1009, 2);
    ExpectSpinRange(dialog, 115, 1, 99);
    ExpectSpinRange(dialog, 1010, 0, 10);
}

// The spin control's arrow: its position moves, the dialog hears the scroll.
void SpinTo(HWND dialog, int spin, int position) {
    HWND control = GetDlgItem(dialog, spin);
    SendMessageA(control, UDM_SETPOS32, 0, position);
    SendMessageA(dialog, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, position),
                 reinterpret_cast<LPARAM>(control));
}

// ---- the image-correction preview ----------------------------------------

struct Handle {
    int x, y;
};

// Where the dialog draws handle k for the curve values p, in the preview's
// client coordinates (the item rectangle starts at 0, 0).
Handle HandleAt(const RECT& client, const int p[5], int k) {
    const int l = client.left, r = client.right, b = client.bottom;
    const int xs[5] = {l, (l + r) / 4, (l + r) / 2, 3 * (l + r) / 4, r};
    return {xs[k], b - (b * p[k]) / 255};
}

bool IsRed(std::uint32_t pixel) {
    return pixel == 0xFF0000;
}
bool IsBlue(std::uint32_t pixel) {
    return pixel == 0x0000FF;
}

// The preview as painted: grid picture, a red square on each handle, the
// blue curve between them.
void CheckPreview(HWND dialog, const int p[5], const char* when) {
    HWND preview = GetDlgItem(dialog, IDC_PREVIEW);
    RECT client = {}, window = {}, outer = {};
    GetClientRect(preview, &client);
    GetWindowRect(preview, &window);
    GetWindowRect(dialog, &outer);
    const Picture picture = Capture(dialog);
    const int ox = window.left - outer.left, oy = window.top - outer.top;
    auto at = [&](int x, int y) { return picture.At(ox + x, oy + y); };
    const std::string where = std::string("preview ") + when;
    // A handle is the square from (x - 2, y - 2) to (x + 2, y + 2), clipped to
    // the preview; the curve is drawn over it afterwards.
    for (int k = 0; k < 5; ++k) {
        const Handle h = HandleAt(client, p, k);
        int red = 0;
        for (int y = h.y - 2; y < h.y + 2; ++y)
            for (int x = h.x - 2; x < h.x + 2; ++x)
                if (x >= 0 && y >= 0 && x < client.right && y < client.bottom)
                    red += IsRed(at(x, y));
        Expect(red > 0, where + ": handle " + std::to_string(k) + " is not drawn");
    }
    int blue = 0, other = 0;
    for (int y = 0; y < client.bottom; ++y)
        for (int x = 0; x < client.right; ++x) {
            const std::uint32_t c = at(x, y);
            blue += IsBlue(c);
            other += !IsBlue(c) && !IsRed(c) && c != 0xFFFFFF;
        }
    Expect(blue >= client.right, where + ": " + std::to_string(blue) + " blue curve pixels");
    Expect(other > client.right, where + ": no grid under the curve");
}

// ---- configuration request 21: the Setup dialog ---------------------------

constexpr char kSetupTitle[] = "Varnu 4820/4810 Wide Format Setup";
constexpr char kDriverTitle[] = "Varnu 4820/4810 Wide Format Konfiguration";
constexpr char kLengthCaption[] = "L\344nge des Sonderformats";
constexpr char kCopiesCaption[] = "Anzahl an Kopien";
constexpr char kCopiesText[] = "Legen Sie die Zahl der Kopien im Bereich von 1 bis 99 fest.";
constexpr char kMarginText[] = "Legen Sie den Rand in einem Bereich von 0 und 10 fest.";

// Expected curve values after the image-correction scenario.
int CurveAfter[5] = {};

void OptionsScenario(HWND owner, const char* title, bool keep) {
    ClickAsync(owner, IDC_OPTIONS);
    HWND o = WaitForDialog(title, owner);
    if (o == nullptr) return;
    CheckTemplate(o, title, 307, 141, {kOptionControls});
    const int program = LoadLe<std::int16_t>(Host.stored, 14);
    ExpectCombo(o, 1096, 21, program, {{0, "Falter-Bypass "}, {1, "Programm 1    "}});
    ExpectCombo(o, 1094, 2, LoadLe<std::int16_t>(Host.stored, 16), {});
    ExpectEnabled(o, {1008, 1094, 1090, 1095}, program != 0);
    ExpectEnabled(o, {1112, 1114, 1116}, true);
    if (keep) {
        ExpectChecked(o, {1116}, true);
        Screenshot(o, "setup-options-bypass");
        SelectCombo(o, 1096, 1);
        ExpectEnabled(o, {1008, 1094, 1090, 1095}, true);
        SelectCombo(o, 1095, 2);
        ExpectText(ComboItem(o, 1095, 2), "Fach 1           ", "bin 2");
        Click(o, 1114);
        ExpectChecked(o, {1114}, true);
        ExpectChecked(o, {1116}, false);
        Screenshot(o, "setup-options");
        Click(o, IDOK);
    } else {
        SelectCombo(o, 1096, 0);
        ExpectEnabled(o, {1008, 1094, 1090, 1095}, false);
        Screenshot(o, "driver-options");
        Click(o, IDCANCEL);
    }
    WaitUntilClosed(o);
}

void InformationScenario(HWND owner) {
    ClickAsync(owner, IDC_VERSION);
    HWND v = WaitForDialog("Info zum Treiber", owner);
    if (v == nullptr) return;
    CheckTemplate(v, "Info zum Treiber", 293, 114, {kInformationControls});
    Expect(SendDlgItemMessageA(v, IDC_PICTURE, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0,
           "the information dialog shows no picture");
    Screenshot(v, "driver-information");
    Click(v, IDOK);
    WaitUntilClosed(v);
}

void ImageCorrectionScenario(HWND owner) {
    ClickAsync(owner, IDC_IMAGE_CORRECTION);
    HWND c = WaitForDialog(nullptr, owner);
    if (c == nullptr) return;
    CheckTemplate(c, nullptr, 239, 152, {kCurveControls});
    Expect((GetWindowLongA(c, GWL_STYLE) & WS_CAPTION) != WS_CAPTION,
           "the image-correction dialog has a title bar");
    int p[5];
    for (int k = 0; k < 5; ++k) p[k] = Host.stored[34 + k];
    CheckPreview(c, p, "on opening");
    Screenshot(c, "image-correction");

    // Escape is not a way out of this dialog.
    SendMessageA(c, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    Settle(c);
    Expect(IsWindowVisible(c) != FALSE, "Escape closed the image-correction dialog");

    // Drag handle 2 twelve pixels up.
    HWND preview = GetDlgItem(c, IDC_PREVIEW);
    RECT client = {};
    GetClientRect(preview, &client);
    const Handle h = HandleAt(client, p, 2);
    MouseDown(preview, h.x, h.y);
    MouseMove(preview, h.x + 3, h.y - 6);
    MouseMove(preview, h.x + 5, h.y - 12);
    MouseUp(preview, h.x + 5, h.y - 12);
    const int height = client.bottom;
    p[2] = (height - (h.y - 12)) * 255 / height;
    CheckPreview(c, p, "after the drag");

    // Dragged past handle 3, it stops 4 pixels below it: the curve keeps rising.
    const Handle moved = HandleAt(client, p, 2), next = HandleAt(client, p, 3);
    MouseDown(preview, moved.x, moved.y);
    MouseMove(preview, moved.x, 1);
    MouseUp(preview, moved.x, 1);
    p[2] = (height - (next.y + 4)) * 255 / height;
    CheckPreview(c, p, "after a drag past handle 3");

    // "Gamma" one line up: P1 + 4, P2 + 5, P3 + 4 while the values rise.
    ScrollLine(c, IDC_GAMMA, true);
    p[1] += 4, p[2] += 5, p[3] += 4;
    // "Tönung" up is refused at P4 = 255.
    ScrollLine(c, IDC_SHIFT, true);
    CheckPreview(c, p, "after the scroll bars");
    Screenshot(c, "image-correction-changed");

    // "Voreinstellung" asks first; "Nein" keeps the curve.
    ClickAsync(c, IDC_DEFAULT_CURVE);
    AnswerMessageBox(c, "Bildkorrektur", "R\374cksetzen auf Originalwert?", IDNO,
                     "image-correction-reset-question");
    Click(c, IDC_CURVE_OK);
    WaitUntilClosed(c);
    std::memcpy(CurveAfter, p, sizeof p);
}

void SetupScenario() {
    HWND d = WaitForDialog(kSetupTitle);
    if (d == nullptr) return;
    CheckTemplate(d, kSetupTitle, 433, 245, {kConfigControls});
    for (int id : {1039, 1040, 1041})
        Expect(GetDlgItem(d, id) == nullptr, Name(d, id) + " is in the Setup dialog");
    ExpectShippedModel(d);
    ExpectChecked(d, {1030, 1019}, true);
    ExpectChecked(d, {1031, 1032, 1033, 1018}, false);
    ExpectCombo(d, IDC_PAPER, 41, 0,
                {{0, "E-Arch(36Zoll)   "}, {32, "Benutzerdef. Format mit A0-Breite "}});
    ExpectEnabled(d, {1011, 1012}, false);
    ExpectText(ItemText(d, IDC_COPIES), "1", "copies");
    ExpectText(ItemText(d, IDC_MARGIN), "0", "margin");
    Screenshot(d, "setup");

    // A user-defined format brings its default length and the length field.
    SelectCombo(d, IDC_PAPER, 32);
    ExpectEnabled(d, {1011, 1012}, true);
    ExpectText(ItemText(d, IDC_LENGTH), "1189", "length of the A0-wide format");
    ExpectLimit(d, IDC_LENGTH, 5);
    TypeText(d, IDC_LENGTH, "16000");
    AnswerMessageBox(d, kLengthCaption, "Stellen Sie die L\344nge auf 15000 oder weniger ein.",
                     IDOK, "setup-length-warning");
    ExpectText(ItemText(d, IDC_LENGTH), "1189", "length after the warning");
    TypeText(d, IDC_LENGTH, "2400");
    // Opening the list again is a notification of the paper box too: the
    // length goes back to the format's default.
    SendDlgItemMessageA(d, IDC_PAPER, CB_SHOWDROPDOWN, TRUE, 0);
    SendDlgItemMessageA(d, IDC_PAPER, CB_SHOWDROPDOWN, FALSE, 0);
    ExpectText(ItemText(d, IDC_LENGTH), "1189", "length after the list was opened");
    TypeText(d, IDC_LENGTH, "2400");

    // Copies: 0 is refused, an empty field is not a number and keeps the count.
    TypeText(d, IDC_COPIES, "0");
    AnswerMessageBox(d, kCopiesCaption, kCopiesText, IDOK, "setup-copies-warning");
    ExpectText(ItemText(d, IDC_COPIES), "1", "copies after the warning");
    TypeText(d, IDC_COPIES, "");
    TypeText(d, IDC_COPIES, "3");

    // Margin through its spin control, then a value above 10.
    SpinTo(d, IDC_MARGIN_SPIN, 4);
    ExpectText(ItemText(d, IDC_MARGIN), "4", "margin after the spin");
    TypeText(d, IDC_MARGIN, "11");
    AnswerMessageBox(d, "Stellen Sie den Rand ein.", kMarginText, IDOK, "setup-margin-warning");
    ExpectText(ItemText(d, IDC_MARGIN), "4", "margin after the warning");

    Click(d, IDC_FILL_SOLID);
    ExpectChecked(d, {1018}, true);
    ExpectChecked(d, {1019}, false);
    Click(d, IDC_DPI300);
    ExpectChecked(d, {1032}, true);
    ExpectChecked(d, {1030}, false);

    OptionsScenario(d, "Varnu 4820/4810 Wide Format Setup - Optionen", true);
    InformationScenario(d);
    ImageCorrectionScenario(d);
    Screenshot(d, "setup-changed");
    Click(d, IDOK);
    WaitUntilClosed(d);
}

void CheckStoredAfterSetup() {
    const std::uint8_t* r = Host.stored;
    ExpectNumber(LoadLe<std::int32_t>(r, 0), 3, "stored copies");
    ExpectNumber(LoadLe<std::int32_t>(r, 4), 33, "stored paper");
    ExpectNumber(LoadLe<std::int32_t>(r, 8), 2400, "stored length");
    ExpectNumber(LoadLe<std::int16_t>(r, 14), 1, "stored finishing program");
    ExpectNumber(LoadLe<std::int16_t>(r, 18), 2, "stored output bin");
    ExpectNumber(LoadLe<std::int16_t>(r, 26), 4, "stored margin");
    ExpectNumber(LoadLe<std::uint16_t>(r, 28), 0x0000, "stored option flags (solid fill)");
    // 300 dpi, manual output, and the long edge along x that the 2400 mm long
    // sheet gives when the page is worked out after the dialog.
    ExpectNumber(LoadLe<std::uint16_t>(r, 30), 0x0400 | 0x0080 | 0x1000,
                 "stored mode flags (300 dpi, manual output, long edge along x)");
    for (int k = 0; k < 5; ++k)
        ExpectNumber(r[34 + k], CurveAfter[k] & 0xFF, "stored curve value " + std::to_string(k));
}

// ---- plot request 46: the driver configuration dialog ---------------------

void DriverScenario() {
    HWND d = WaitForDialog(kDriverTitle);
    if (d == nullptr) return;
    CheckTemplate(d, kDriverTitle, 433, 263, {kConfigControls, kLabelControls});
    ExpectShippedModel(d);
    ExpectEnabled(d, {1039, 1040, 1041}, true);
    ExpectLimit(d, IDC_LABEL, 64);
    // The record the Setup dialog stored.
    ExpectChecked(d, {1032, 1018}, true);
    ExpectCombo(d, IDC_PAPER, 41, 32, {});
    ExpectText(ItemText(d, IDC_LENGTH), "2400", "length");
    ExpectText(ItemText(d, IDC_COPIES), "3", "copies");

    // Labels: printable ASCII passes; an umlaut or a tab is refused.
    TypeText(d, IDC_LABEL, "Plan 7/B-2 (Rev. 3)");
    LeaveEdit(d, IDC_LABEL);
    TypeText(d, IDC_LABEL, "Ma\337e f\374r Halle 2");
    LeaveEdit(d, IDC_LABEL);
    AnswerMessageBox(d, "Etikett",
                     "Geben Sie eine Nachricht unter Verwendung von ASCII-Zeichen ein.", IDOK,
                     "driver-label-warning");
    ExpectText(ItemText(d, IDC_LABEL), "", "label after the warning");
    TypeText(d, IDC_LABEL, "A\tB");
    LeaveEdit(d, IDC_LABEL);
    AnswerMessageBox(d, "Etikett",
                     "Geben Sie eine Nachricht unter Verwendung von ASCII-Zeichen ein.", IDOK,
                     nullptr);
    TypeText(d, IDC_LABEL, "PLAN-7");
    LeaveEdit(d, IDC_LABEL);

    // This dialog's margin warning has no full stop in its caption.
    TypeText(d, IDC_MARGIN, "12");
    AnswerMessageBox(d, "Stellen Sie den Rand ein", kMarginText, IDOK, "driver-margin-warning");

    OptionsScenario(d, " Varnu 4820/4810 Wide Format Konfiguration - Optionen", false);
    TypeText(d, IDC_COPIES, "7");
    Click(d, IDC_DPI200);
    Screenshot(d, "driver-config");
    Click(d, IDCANCEL);
    WaitUntilClosed(d);
}

}  // namespace

void RunDialogScenarios(PladiFn pladi, LowAllocateFn lowAllocate) {
    const varnu::hostkit::ServiceRoutines services = {
        &PrintMessage, &SendDeviceString, &WriteOutput, &LoadConfig, &StoreConfig, &NotifyHost};
    const std::string error = varnu::hostkit::InstallHost(pladi, lowAllocate, services, &Handlers);
    if (!Expect(error.empty(), "the dialogs' host: " + error)) return;
    Driver(Packet(50));

    // Request 21 with the first reference job's record: 600 dpi, halftone,
    // a curve of its own.
    std::memcpy(Host.stored, varnu::reference::Jobs().front().record, 40);
    WithUser([] { Driver(Packet(21)); }, SetupScenario);
    Expect(Driver(Packet(47)) == 0, "request 47 stores the record");
    CheckStoredAfterSetup();

    // Request 46 at plot time, closed with "Abbrechen": the record stays as
    // it was, the label typed stays for the job.
    std::uint8_t before[40];
    std::memcpy(before, Host.stored, 40);
    varnu::hostkit::JobOpening opening;  // 36 x 24 inches, 1016 steps an inch
    opening.hostVersion = 3;
    opening.startJob = false;
    opening.afterOpen = [&before] {
        const int storesBefore = Host.stores;
        WithUser([] { Plot(Packet(46)); }, DriverScenario);
        ExpectNumber(Host.stores, storesBefore + 1, "records stored by request 46");
        Expect(std::memcmp(before, Host.stored, 40) == 0,
               "\"Abbrechen\" changed the stored record");
        return std::string();
    };
    std::string opened;
    Expect(varnu::hostkit::OpenPlotJob(Handlers.plot, opening, &opened) == 0,
           "the plot does not open: " + opened);
    Host.output.clear();
    Expect(Plot(Packet(30)) == 0, "request 30 starts the job");
    Plot(Packet(3)
             .Set<std::uint16_t>(layout::point::kX, 100)
             .Set<std::uint16_t>(layout::point::kY, 100));
    Plot(Packet(4)
             .Set<std::uint16_t>(layout::point::kX, 5000)
             .Set<std::uint16_t>(layout::point::kY, 3000));
    Plot(Packet(2));
    Expect(
        Host.output.find("BP1,\"PLAN-7\",2,3;") != std::string::npos,
        "the job does not begin with the label typed in the dialog: " + Host.output.substr(0, 160));
    Expect(Host.messages.empty(), "the driver printed a message");
}

}  // namespace wintest
