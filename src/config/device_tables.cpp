#include "config/device_tables.h"

#include <array>
#include <cstring>

namespace varnu {

// clang-format off
const ModelRecord ModelTable[kModelCount] = {
    // name                    finisher media unused     label red  unused manual dpi600 vcgl
    {"4820/4810 Wide Format",  1,       1,    {0, 0, 0}, 1,    0,   0,     1,     1,     0},
};

// Paper formats of model 0, row 0 unused. Lengths and widths in inches; the
// length of a custom row is replaced by the configured length at run time.
constexpr PaperFormatRows kPaperFormatRows = {{
    //  name                                                 length   width   custom maxMm
    {"", 0.0, 0.0, 0, 0, {}},                                                             //  0
    {"E-Arch(36Zoll)   ",                                     48.0,   36.0,    0, 0,     {}},  //  1
    {"D-Arch(24Zoll)   ",                                     36.0,   24.0,    0, 0,     {}},  //  2
    {"C-Arch(18Zoll)   ",                                     24.0,   17.973,  0, 0,     {}},  //  3
    {"B-Arch(12Zoll)   ",                                     17.973, 12.0,    0, 0,     {}},  //  4
    {"A-Arch(9Zoll)    ",                                     12.0,   8.96,    0, 0,     {}},  //  5
    {"E-ANSI(34Zoll)   ",                                     44.0,   34.0,    0, 0,     {}},  //  6
    {"D-ANSI(22Zoll)   ",                                     34.0,   22.0,    0, 0,     {}},  //  7
    {"C-ANSI(17Zoll)   ",                                     22.0,   17.0,    0, 0,     {}},  //  8
    {"B-ANSI(11Zoll)   ",                                     17.0,   11.0,    0, 0,     {}},  //  9
    {"A-ANSI(8.5Zoll)  ",                                     11.0,   8.5,     0, 0,     {}},  // 10
    {"A0               ",                                     46.773, 33.12,   0, 0,     {}},  // 11
    {"A1               ",                                     33.12,  23.36,   0, 0,     {}},  // 12
    {"A2               ",                                     23.36,  16.533,  0, 0,     {}},  // 13
    {"A3               ",                                     16.533, 11.68,   0, 0,     {}},  // 14
    {"A4               ",                                     11.68,  8.266,   0, 0,     {}},  // 15
    {"Sp. A0 880 x 1230",                                     48.426, 34.613,  0, 0,     {}},  // 16
    {"Sp. A1 625 x 880 ",                                     34.613, 24.586,  0, 0,     {}},  // 17
    {"Sp. A1 620 x 871 ",                                     34.293, 24.373,  0, 0,     {}},  // 18
    {"Sp. A2 440 x 625 ",                                     24.586, 17.333,  0, 0,     {}},  // 19
    {"Sp. A2 435 x 620 ",                                     24.373, 17.12,   0, 0,     {}},  // 20
    {"Sp. A3 312 x 440 ",                                     17.333, 12.266,  0, 0,     {}},  // 21
    {"Sp. A3 310 x 435 ",                                     17.12,  12.16,   0, 0,     {}},  // 22
    {"Benutzerdef. Format von E-Arch(36Zoll) Breite ",        118.11, 36.0,    1, 15000, {}},  // 23
    {"Benutzerdef. Format von D-Arch(24Zoll) Breite ",        118.11, 24.0,    1, 15000, {}},  // 24
    {"Benutzerdef. Format von C-Arch(18Zoll) Breite ",        118.11, 17.973,  1, 15000, {}},  // 25
    {"Benutzerdef. Format von B-Arch(12Zoll) Breite ",        118.11, 12.0,    1, 15000, {}},  // 26
    {"Benutzerdef. Format von A-Arch(9Zoll) Breite  ",        118.11, 8.96,    1, 15000, {}},  // 27
    {"Benutzerdef. Format von E-ANSI(34Zoll) Breite ",        118.11, 34.0,    1, 15000, {}},  // 28
    {"Benutzerdef. Format von D-ANSI(22Zoll) Breite ",        118.11, 22.0,    1, 15000, {}},  // 29
    {"Benutzerdef. Format von C-ANSI(17Zoll) Breite ",        118.11, 17.0,    1, 15000, {}},  // 30
    {"Benutzerdef. Format von B-ANSI(11Zoll) Breite ",        118.11, 11.0,    1, 15000, {}},  // 31
    {"Benutzerdef. Format von A-ANSI(8.5Zoll) Breite",        118.11, 8.5,     1, 15000, {}},  // 32
    {"Benutzerdef. Format mit A0-Breite ",                    118.11, 33.12,   1, 15000, {}},  // 33
    {"Benutzerdef. Format mit A1-Breite ",                    118.11, 23.36,   1, 15000, {}},  // 34
    {"Benutzerdef. Format mit A2-Breite ",                    118.11, 16.533,  1, 15000, {}},  // 35
    {"Benutzerdef. Format mit A3-Breite ",                    118.11, 11.68,   1, 15000, {}},  // 36
    {"Benutzerdef. Format von Sp. A0 880mm Breite",           118.11, 34.613,  1, 15000, {}},  // 37
    {"Benutzerdef. Format von Sp. A1 625mm Breite",           118.11, 24.586,  1, 15000, {}},  // 38
    {"Benutzerdef. Format von Sp. A1 620mm Breite",           118.11, 24.373,  1, 15000, {}},  // 39
    {"Benutzerdef. Format von Sp. A2 440mm Breite",           118.11, 17.333,  1, 15000, {}},  // 40
    {"Benutzerdef. Format von Sp. A2 435mm Breite",           118.11, 17.12,   1, 15000, {}},  // 41
    // rows 42..83: the group of the further model, empty
}};


const MediaRecord MediaTable[kModelGroups * kMediaRowsPerModel] = {
    //  name                                 hpglCommand  vcglName  vcglCommand
    {"Postpapier                      ",     "MT0;",      "",       {}},  // 0
    {"Film                            ",     "MT1;",      "",       {}},  // 1
    {"Plotter-Einstellungen verwenden ",     "MT2;",      "",       {}},  // 2
    {"Vellum-Papier                   ",     "MT4;",      "",       {}},  // 3
    // row 4 and the further group: empty
};

const FinishingChoiceRecord FinishProgramTable[kModelGroups * kFinishProgramRowsPerModel] = {
    {"Falter-Bypass ", "@PJL DEFAULT FINISHPROGID=BYPASS\r\n"},                    //  0
    {"Programm 1    ", "@PJL DEFAULT FINISHPROGID=PROGRAM1\r\n"},                  //  1
    {"Programm 2    ", "@PJL DEFAULT FINISHPROGID=PROGRAM2\r\n"},
    {"Programm 3    ", "@PJL DEFAULT FINISHPROGID=PROGRAM3\r\n"},
    {"Programm 4    ", "@PJL DEFAULT FINISHPROGID=PROGRAM4\r\n"},
    {"Programm 5    ", "@PJL DEFAULT FINISHPROGID=PROGRAM5\r\n"},
    {"Programm 6    ", "@PJL DEFAULT FINISHPROGID=PROGRAM6\r\n"},
    {"Programm 7    ", "@PJL DEFAULT FINISHPROGID=PROGRAM7\r\n"},
    {"Programm 8    ", "@PJL DEFAULT FINISHPROGID=PROGRAM8\r\n"},
    {"Programm 9    ", "@PJL DEFAULT FINISHPROGID=PROGRAM9\r\n"},
    {"Programm 10   ", "@PJL DEFAULT FINISHPROGID=PROGRAM10\r\n"},                 // 10
    {"Programm 11   ", "@PJL DEFAULT FINISHPROGID=PROGRAM11\r\n"},
    {"Programm 12   ", "@PJL DEFAULT FINISHPROGID=PROGRAM12\r\n"},
    {"Programm 13   ", "@PJL DEFAULT FINISHPROGID=PROGRAM13\r\n"},
    {"Programm 14   ", "@PJL DEFAULT FINISHPROGID=PROGRAM14\r\n"},
    {"Programm 15   ", "@PJL DEFAULT FINISHPROGID=PROGRAM15\r\n"},
    {"Programm 16   ", "@PJL DEFAULT FINISHPROGID=PROGRAM16\r\n"},
    {"Programm 17   ", "@PJL DEFAULT FINISHPROGID=PROGRAM17\r\n"},
    {"Programm 18   ", "@PJL DEFAULT FINISHPROGID=PROGRAM18\r\n"},
    {"Programm 19   ", "@PJL DEFAULT FINISHPROGID=PROGRAM19\r\n"},
    {"Programm 20   ", "@PJL DEFAULT FINISHPROGID=PROGRAM20\r\n"},                 // 20
    // row 21 and the further group: empty
};

const FinishingChoiceRecord FinishMarginTable[kModelGroups * kFinishMarginRowsPerModel] = {
    {"Programm-Einstell. verwenden ", "@PJL DEFAULT FINISHMARGINS=USEPROGRAM\r\n"},  // 0
    {"Immer ein                    ", "@PJL DEFAULT FINISHMARGINS=MARGINSOFF\r\n"},  // 1
    // row 2 and the further group: empty
};

const FinishingChoiceRecord OutputBinTable[kModelGroups * kOutputBinRowsPerModel] = {
    {"Egal      ",        "@PJL DEFAULT FINISHBIN=DONTCARE\r\n"},  //  0
    {"Zickzack-Ausgabe ", "@PJL DEFAULT FINISHBIN=FANFOLD\r\n"},   //  1
    {"Fach 1           ", "@PJL DEFAULT FINISHBIN=BIN_1\r\n"},     //  2
    {"Fach 2           ", "@PJL DEFAULT FINISHBIN=BIN_2\r\n"},
    {"Fach 3           ", "@PJL DEFAULT FINISHBIN=BIN_3\r\n"},
    {"Fach 4           ", "@PJL DEFAULT FINISHBIN=BIN_4\r\n"},
    {"Fach 5           ", "@PJL DEFAULT FINISHBIN=BIN_5\r\n"},
    {"Fach 6           ", "@PJL DEFAULT FINISHBIN=BIN_6\r\n"},
    {"Fach 7           ", "@PJL DEFAULT FINISHBIN=BIN_7\r\n"},
    {"Fach 8           ", "@PJL DEFAULT FINISHBIN=BIN_8\r\n"},
    {"Fach 9           ", "@PJL DEFAULT FINISHBIN=BIN_9\r\n"},
    {"Fach 10          ", "@PJL DEFAULT FINISHBIN=BIN_10\r\n"},
    {"Fach 11          ", "@PJL DEFAULT FINISHBIN=BIN_11\r\n"},
    {"Fach 12          ", "@PJL DEFAULT FINISHBIN=BIN_12\r\n"},
    {"Fach 13          ", "@PJL DEFAULT FINISHBIN=BIN_13\r\n"},    // 14
    // row 15 and the further group: empty
};

namespace {

// Length of a custom row's format, found by the name after "Benutzerdef.
// Format von " / "... mit " (both 24 characters); first match wins.
struct CustomLengthPrefix {
    const char* prefix;
    std::int32_t lengthMm;
};
constexpr CustomLengthPrefix kCustomLengthPrefixes[] = {
    {"A0", 1189},         {"A1", 841},          {"A2", 594},          {"A3", 420},
    {"Sp. A0 880", 1230}, {"Sp. A1 625", 880},  {"Sp. A1 620", 871},  {"Sp. A2 440", 625},
    {"Sp. A2 435", 620},  {"E-Arch", 1219},     {"D-Arch", 914},      {"C-Arch", 609},
    {"B-Arch", 457},      {"A-Arch", 304},      {"E-ANSI", 1117},     {"D-ANSI", 863},
    {"C-ANSI", 558},      {"B-ANSI", 431},      {"A-ANSI", 279},
};
// clang-format on

constexpr std::int32_t kFixedFormatLength = 396;
constexpr std::size_t kCustomNamePrefixLength = 24;

bool ValidModel(std::int32_t model) {
    return model >= 0 && model < kModelCount;
}

// Rows `first` .. up to the first empty name count as listed.
template <typename Row>
std::int32_t ListedRows(const Row* group, int capacity, int first) {
    std::int32_t n = 0;
    for (int row = first; row < capacity && group[row].name[0] != '\0'; ++row) ++n;
    return n;
}

template <typename Row>
Row* ListedRow(Row* table, int capacity, int first, std::int32_t model, std::int32_t row) {
    if (!ValidModel(model)) return nullptr;
    Row* group = table + model * capacity;
    if (row < first || row >= first + ListedRows(group, capacity, first)) return nullptr;
    return &group[row];
}

}  // namespace

bool IsBypassProgram(const FinishingChoiceRecord& row) {
    return std::memcmp(row.pjlLine, kBypassPjlLine, sizeof kBypassPjlLine) == 0;
}

const ModelRecord* Model(std::int32_t model) {
    return ValidModel(model) ? &ModelTable[model] : nullptr;
}

PaperFormatRecord* MutablePaperFormat(std::int32_t model, std::int32_t row) {
    return ListedRow(Configuration.PaperFormatTable.data(), kPaperRowsPerModel, 1, model, row);
}

const PaperFormatRecord* PaperFormat(std::int32_t model, std::int32_t row) {
    return MutablePaperFormat(model, row);
}

const MediaRecord* Media(std::int32_t model, std::int32_t row) {
    return ListedRow(MediaTable, kMediaRowsPerModel, 0, model, row);
}

const FinishingChoiceRecord* FinishProgram(std::int32_t model, std::int32_t row) {
    return ListedRow(FinishProgramTable, kFinishProgramRowsPerModel, 0, model, row);
}

const FinishingChoiceRecord* FinishMargin(std::int32_t model, std::int32_t row) {
    return ListedRow(FinishMarginTable, kFinishMarginRowsPerModel, 0, model, row);
}

const FinishingChoiceRecord* OutputBin(std::int32_t model, std::int32_t row) {
    return ListedRow(OutputBinTable, kOutputBinRowsPerModel, 0, model, row);
}

std::int32_t PaperRowCount(std::int32_t model) {
    if (!ValidModel(model)) return 0;
    return ListedRows(Configuration.PaperFormatTable.data() + model * kPaperRowsPerModel,
                      kPaperRowsPerModel, 1);
}

std::int32_t MediaRowCount(std::int32_t model) {
    if (!ValidModel(model)) return 0;
    return ListedRows(MediaTable + model * kMediaRowsPerModel, kMediaRowsPerModel, 0);
}

std::int32_t FinishProgramRowCount(std::int32_t model) {
    if (!ValidModel(model)) return 0;
    return ListedRows(FinishProgramTable + model * kFinishProgramRowsPerModel,
                      kFinishProgramRowsPerModel, 0);
}

std::int32_t FinishMarginRowCount(std::int32_t model) {
    if (!ValidModel(model)) return 0;
    return ListedRows(FinishMarginTable + model * kFinishMarginRowsPerModel,
                      kFinishMarginRowsPerModel, 0);
}

std::int32_t OutputBinRowCount(std::int32_t model) {
    if (!ValidModel(model)) return 0;
    return ListedRows(OutputBinTable + model * kOutputBinRowsPerModel, kOutputBinRowsPerModel, 0);
}

std::int32_t defaultCustomLength(std::int32_t model, std::int32_t row) {
    const PaperFormatRecord* paper = PaperFormat(model, row);
    if (paper == nullptr || paper->custom != 1) return kFixedFormatLength;
    const char* format = paper->name + kCustomNamePrefixLength;
    for (const auto& entry : kCustomLengthPrefixes) {
        if (std::strncmp(format, entry.prefix, std::strlen(entry.prefix)) == 0)
            return entry.lengthMm;
    }
    // No such row in the table; a fixed-format length keeps callers in range.
    return kFixedFormatLength;
}

void RebuildPaperNameList(std::int32_t model) {
    std::memset(&Configuration.PaperNameList, 0, sizeof Configuration.PaperNameList);
    const std::int32_t count = PaperRowCount(model);
    for (std::int32_t i = 0; i < count; ++i) {
        // Names are at most 47 characters; a longer one would be cut, not overrun.
        const char* name = PaperFormat(model, i + 1)->name;
        std::memcpy(Configuration.PaperNameList.names[i], name, strnlen(name, kPaperNameSize - 1));
    }
    Configuration.PaperNameList.count = count;
}

}  // namespace varnu
