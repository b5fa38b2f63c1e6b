// The entry point, the header the host reads, and the German message texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "interface/messages.h"
#include "job/driver_entry.h"
#include "test_host.h"
#include "varnu/adi_abi.h"
#include "varnu/byte_order.h"

namespace varnu::testing {
namespace {

using EntryTest = DriverTest;

TEST_F(EntryTest, HeaderBytesAreTheDocumentedLayout) {
    std::string expected(504, '\0');
    auto put = [&expected](std::size_t at, const std::string& s) {
        expected.replace(at, s.size(), s);
    };
    put(0, "Varnu 4820/4810 Wide Format [Ver. 3.0.0] ADI 4.3 ");
    HostAddress request = 0, plot = 0;
    ASSERT_TRUE(FunctionToHostAddress(&DriverRequest, &request));
    ASSERT_TRUE(FunctionToHostAddress(&PlotRequest, &plot));
    put(410, std::string(reinterpret_cast<const char*>(&request), 4));
    put(414, std::string(reinterpret_cast<const char*>(&plot), 4));
    put(418, Bytes("\x04\x00"));
    put(432, Bytes("\x03\x00"));
    put(434, "$ACADPLNAME$");
    put(449, "Microsoft Windows Win32");
    put(481, Bytes("\x06\x00"));
    put(483, "14.0-1");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(header), 504), expected);
    EXPECT_EQ(std::strlen(reinterpret_cast<const char*>(header)), 49u);
}

TEST_F(EntryTest, HandlersCalledThroughTheHeaderAddressesRun) {
    using Handler = void(void*);
    auto* plotRequest = FunctionFromHostAddress<Handler>(LoadLe<HostAddress>(header, 414));
    std::uint8_t packet[16] = {50, 0};
    plotRequest(packet);
    EXPECT_EQ(CurrentPacket, packet);
}

TEST_F(EntryTest, SecondPladiReplacesTheTableAndReturnsTheSameHeader) {
    // A second table whose PrintMessage slot is empty: messages go nowhere.
    auto* other = static_cast<std::uint8_t*>(host().arena().Allocate(256));
    void* again = PLADI(other, 0);
    EXPECT_EQ(again, header);
    ReportMessage("x");
    EXPECT_TRUE(host().Calls().empty());

    EXPECT_EQ(PLADI(host().ServiceTable(), 7), header);
    ReportMessage("y");
    EXPECT_EQ(host().Messages(), std::vector<std::string>{"y"});
}

TEST_F(EntryTest, MessageBeforeInstallPrintsAnEmptyLine) {
    ReportSlot(kMsgOutputFailed);
    EXPECT_EQ(host().Messages(), std::vector<std::string>{"\n\n"});
}

TEST_F(EntryTest, ReportMessageIsBoundedByItsBuffer) {
    const std::string longText(5000, 'a');
    ReportMessage("%s", longText.c_str());
    ASSERT_EQ(host().Messages().size(), 1u);
    EXPECT_EQ(host().Messages()[0], std::string(1023, 'a'));
}

// The listed texts as a reader sees them (UTF-8); the driver must hold them
// in Windows-1252, where each of these characters is one byte.
std::string ToWindows1252(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            // Two-byte sequences of U+0080..U+00FF, which Windows-1252 keeps as is.
            const auto next = static_cast<unsigned char>(utf8[++i]);
            out += static_cast<char>(((c & 0x1F) << 6) | (next & 0x3F));
        }
    }
    return out;
}

struct ListedText {
    int slot;
    const char* utf8;
};

constexpr ListedText kListedTexts[] = {
    {0, "Versuch des Abrufens eines Bilds von einer anderen Anwendung als Auto CAD."},
    {1, "Ungültige Version von Auto CAD. Verwenden Sie Versionen ab R14."},
    {2, "Für den Vorgang erforderlicher Arbeitsspeicher kann nicht bereitgestellt werden."},
    {4, "Übertragungsgeschwindigkeit: "},
    {8, "Linienart Nr. 0 = Solide Linie"},
    {9, " = ................................"},
    {10, " = ----    ----    ----    ----    "},
    {11, " = -----   -----   -----   -----   "},
    {12, " = ------. ------. ------. ------. "},
    {13, " = ---- -  ---- -  ---- -  ---- -  "},
    {14, " = --- - - --- - - --- - - --- - - "},
    {15, " = ------ . . ------ . . ------ . ."},
    {18, "Plotter in Gebrauch "},
    {19, "Eine Zahl wählen "},
    {20, "Ja"},
    {21, "Nein"},
    {22, "Geben Sie die Zahl der zu druckenden Kopien an."},
    {23, "Muster ausfüllen? (Halbton) "},
    {24, "Geben Sie ein Format an. "},
    {25, "Plotter: "},
    {26, "Format: "},
    {27, "Anzahl an Kopien: "},
    {28, "Plotter-Port: "},
    {29, "Parallel "},
    {30, "Serieller Port "},
    {31, "Transfer-Bedingung: "},
    {33, "Erstellte Daten wählen: VCGL+MMR "},
    {34, "Erstellte Daten wählen:  HP-RTL/GL2 "},
    {35, "Polygon ausfüllen. (Halbton) "},
    {36, "Polygon ausfüllen. (Voll) "},
    {38, "Handshake: "},
    {39, "Xon/Xoff"},
    {40, "Hardware"},
    {41, "Keine"},
    {42, "8-Bit Datenlänge "},
    {43, "7-Bit Datenlänge "},
    {44, "Parität: Keine "},
    {45, "Parität: Ungerade "},
    {46, "Parität: Gerade "},
    {47, "Ein Stop-Bit"},
    {48, "Zwei Stop-Bits"},
    {49, "Bildauflösung: "},
    {50, "600dpi "},
    {51, "400dpi "},
    {52, "300dpi "},
    {53, "200dpi "},
    {54, "Druck mit hoher Qualität"},
    {55, "Programm: "},
    {56, "Rand: "},
    {57, "Ausgabe -Fach: "},
    {58, "Materialart auswählen: "},
    {60, "Zu verwendender Baler-Funktionsmodus: "},
    {61, "Keine Baler-Funktion verwenden. "},
    {64, "Anwendungsmodus für Stapelfunktion: "},
    {65, "Keine Stapel-Funktion verwenden. "},
    {68, "Zu verwendende Bild-Anmelde-/Verbindungsfunktion: "},
    {69, "Keine Anmelde-/Verbindungsfunktion verwenden. "},
    {70, "Manuelle Ausgabe "},
    {71, "Keine manuelle Ausgabe "},
    {72, "Rot-Druck"},
    {73, "Kein Rot-Druck "},
    {75, "Konfig-Infos konnten nicht gespeichert werden. "},
    {76, "Konfig-Infos konnten nicht abgerufen werden. "},
    {77, "Fehler bei der Plotter-Ausgabe. "},
    {78, "Verarbeitung von Bild mit hoher Druckqualität. "},
    {79, "Verarbeitung von Bild mit Standard-Druckqualität. "},
    {80, "Druckbild-Verarbeitung auf Plotter-Seite"},
};

TEST_F(EntryTest, MessageTableHoldsTheListedTextsInWindows1252) {
    std::string expected[kMessageSlots];
    for (const auto& listed : kListedTexts) expected[listed.slot] = ToWindows1252(listed.utf8);
    for (int slot = 0; slot < kMessageSlots; ++slot) {
        std::string slotBytes(MessageTable[slot], kMessageSlotSize);
        std::string want = expected[slot];
        want.resize(kMessageSlotSize, '\0');  // NUL-padded slot
        EXPECT_EQ(slotBytes, want) << "slot " << slot;
    }
    EXPECT_EQ(std::string(MessageTable[1]).substr(0, 4), "Ung\xfc");
    EXPECT_EQ(std::string(MessageTable[34]), "Erstellte Daten w\xe4hlen:  HP-RTL/GL2 ");
}

TEST_F(EntryTest, InstalledMessagesPrintAsStored) {
    InstallMessages();
    EXPECT_EQ(std::memcmp(Module.ActiveMessages, MessageTable, sizeof Module.ActiveMessages), 0);
    ReportSlot(kMsgOutputFailed);
    ReportMessage("\n%s", Module.ActiveMessages[kMsgNoMemory]);
    EXPECT_EQ(host().Messages(),
              (std::vector<std::string>{"\nFehler bei der Plotter-Ausgabe. \n",
                                        "\nF\xfcr den Vorgang erforderlicher Arbeitsspeicher kann "
                                        "nicht bereitgestellt werden."}));
}

}  // namespace
}  // namespace varnu::testing
