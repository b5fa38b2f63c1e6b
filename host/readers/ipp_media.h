// The printer's paper formats, media types and finishing choices under
// their standard names, derived from the driver's own tables: a fixed format
// under its PWG name, PPD name and exact size, the user-defined rows as the
// widths of the roll, the media by the command that selects each. Shared by
// the PPD writer and the printer application; MIT, like the PPD writer.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varnu {

// The printer's IEEE 1284 device ID, as a USB printer reports it.
inline constexpr const char* kDeviceId = "MFG:Varnu;MDL:4820/4810 Wide Format;CMD:PJL,HPGL2,RTL;";

// Sizes in hundredths of millimetres, as IPP gives them.
struct FixedMedia {
    int row = 0;  // of the paper-format table
    std::string pwg;
    std::string ppd;  // the PPD's PageSize keyword
    int width = 0, length = 0;
};
struct RollWidth {
    int row = 0;
    int width = 0;
    int maxLengthMm = 0;
};

const std::vector<FixedMedia>& FixedFormats();
const std::vector<RollWidth>& RollWidths();

// The paper row for a media size (either way round for a fixed format;
// else the narrowest roll its width fits on) and the length to cut;
// nothing when the printer has neither.
struct PaperChoice {
    int row = 0;
    std::optional<int> lengthMm;  // for a roll
};
std::optional<PaperChoice> ChoosePaper(const std::string& pwgName, int width, int length);

// media-type keywords, row by row of the media table.
const std::vector<std::string>& MediaTypes();
// A table's PJL choices as keywords: the value after '=', lower case
// ("@PJL DEFAULT FINISHPROGID=PROGRAM3" is "program3").
std::vector<std::string> ProgramKeywords();
std::vector<std::string> FinishMarginKeywords();
std::vector<std::string> OutputBinKeywords();
// The output bins under IPP's output-bin keywords, row by row: "auto" for
// any bin, "tray-N" for bin N, the table's own keyword for the others
// ("fanfold").
std::vector<std::string> IppOutputBins();
// The English label of a media-type, finishing or output-bin keyword
// ("program3" is "Program 3"); the keyword itself when it has none.
std::string ChoiceLabel(const std::string& keyword);
// The row of `keyword` in `keywords`, or -1.
int RowOf(const std::vector<std::string>& keywords, const std::string& keyword);

}  // namespace varnu
