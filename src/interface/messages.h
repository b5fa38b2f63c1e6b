// Text for the user on the host's text screen, and the German message table.
#pragma once

#include <cstddef>

namespace varnu {

inline constexpr int kMessageSlots = 86;
inline constexpr int kMessageSlotSize = 85;
inline constexpr std::size_t kMessageBufferSize = 1024;

// Slots that the driver's code prints (the rest travel with the table).
enum MessageSlot : int {
    kMsgForeignHost = 0,       // "Versuch des Abrufens eines Bilds ..."
    kMsgBadHostVersion = 1,    // "Ungültige Version von Auto CAD. ..."
    kMsgNoMemory = 2,          // "Für den Vorgang erforderlicher Arbeitsspeicher ..."
    kMsgLineTypeSolid = 8,     // "Linienart Nr. 0 = Solide Linie", then 9..15
    kMsgConfigNotStored = 75,  // "Konfig-Infos konnten nicht gespeichert werden. "
    kMsgConfigNotLoaded = 76,  // "Konfig-Infos konnten nicht abgerufen werden. "
    kMsgOutputFailed = 77,     // "Fehler bei der Plotter-Ausgabe. "
};

// The built-in texts in Windows-1252, NUL-padded slots.
extern const char MessageTable[kMessageSlots][kMessageSlotSize];
extern char MessageBuffer[kMessageBufferSize];

// printf-style text to the host's PrintMessage. Output longer than the
// buffer is cut at 1023 bytes rather than written past it.
void ReportMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The usual form of an error: "\n%s\n" around one slot of ActiveMessages.
void ReportSlot(MessageSlot slot);

// Request 50 of either handler.
void InstallMessages();

}  // namespace varnu
