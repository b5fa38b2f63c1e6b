// The dialogs' German message texts, in Windows-1252.
#pragma once

namespace varnu::dialog_texts {

inline constexpr char kCopiesWarning[] =
    "Legen Sie die Zahl der Kopien im Bereich von 1 bis 99 fest.";
inline constexpr char kCopiesCaption[] = "Anzahl an Kopien";
inline constexpr char kMarginWarning[] = "Legen Sie den Rand in einem Bereich von 0 und 10 fest.";
inline constexpr char kMarginCaptionDriver[] = "Stellen Sie den Rand ein";
inline constexpr char kMarginCaptionDetail[] = "Stellen Sie den Rand ein.";
inline constexpr char kLengthWarning[] =
    "Stellen Sie die L\344nge auf %d oder weniger ein.";  // "Stellen Sie die Länge auf %d oder
                                                          // weniger ein."
inline constexpr char kLengthCaption[] = "L\344nge des Sonderformats";  // "Länge des Sonderformats"
inline constexpr char kRedPenWarning[] = "Stellen Sie Stift-Nr.255 und darunter ein.";
inline constexpr char kRedPenCaption[] = "Rot-angegebene Stiftnummer";
inline constexpr char kLabelWarning[] =
    "Geben Sie eine Nachricht unter Verwendung von ASCII-Zeichen ein.";
inline constexpr char kLabelCaption[] = "Etikett";
inline constexpr char kResetQuestion[] =
    "R\374cksetzen auf Originalwert?";  // "Rücksetzen auf Originalwert?"
inline constexpr char kResetCaption[] = "Bildkorrektur";

}  // namespace varnu::dialog_texts
