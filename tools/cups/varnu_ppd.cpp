// Writes the printer's PPD for CUPS from the driver's own device tables:
// paper formats under their standard names and exact sizes (and the
// user-defined length of a roll), media, raster resolutions, data modes,
// polygon fill, finishing programs and margins, and the sheet margin; in
// English, with the German of the driver's dialogs as translations (UTF-8,
// as CUPS reads them). Each choice sets a field of the CUPS raster page
// header that rastertovarnu (and pdftovarnu, from the PPD's choices) turns
// back into the configuration record.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "readers/cups_options.h"
#include "readers/ipp_media.h"
#include "varnu/config_record.h"
#include "varnu/printer_tables.h"

namespace {

using namespace varnu;

// What the filters write: the printer's own stream, under the type the
// printer application takes it as.
constexpr const char* kStreamType = "application/vnd.varnu-rtl";

// A table name without its padding; German umlauts never occur in these.
std::string Trimmed(const char* name) {
    std::string s(name);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

int Points(double inches) {
    return static_cast<int>(std::lround(inches * 72));
}

// Hundredths of millimetres to points.
int PointsOf(int hundredths) {
    return static_cast<int>(std::lround(hundredths / 2540.0 * 72));
}

// An option's choices: keyword, English and German label, PostScript code.
struct Choice {
    std::string keyword, english, german, code;
};

struct Option {
    const char* keyword;
    const char* english;
    const char* german;
    std::string defaultChoice;
    std::vector<Choice> choices;
};

// The German translations, written after every option.
std::string Translations;

void Write(const Option& o, int order = 20) {
    std::printf("*OpenUI *%s/%s: PickOne\n*OrderDependency: %d AnySetup *%s\n*Default%s: %s\n",
                o.keyword, o.english, order, o.keyword, o.keyword, o.defaultChoice.c_str());
    Translations += std::string("*de.Translation ") + o.keyword + "/" + o.german + ": \"\"\n";
    for (const Choice& c : o.choices) {
        std::printf("*%s %s/%s: \"%s\"\n", o.keyword, c.keyword.c_str(), c.english.c_str(),
                    c.code.c_str());
        Translations +=
            "*de." + std::string(o.keyword) + " " + c.keyword + "/" + c.german + ": \"\"\n";
    }
    std::printf("*CloseUI: *%s\n\n", o.keyword);
}

std::string Field(int field, int value) {
    return "<</cupsInteger" + std::to_string(field) + " " + std::to_string(value) +
           ">>setpagedevice";
}

// "E-Arch(36Zoll)" in English: "E-Arch (36 in)".
std::string EnglishPaper(std::string name) {
    const std::size_t at = name.find("(");
    const std::size_t zoll = name.find("Zoll)");
    if (at != std::string::npos && zoll != std::string::npos)
        name = name.substr(0, at) + " (" + name.substr(at + 1, zoll - at - 1) + " in)";
    return name;
}

// A PDF goes straight to pdftovarnu, drawn by the host library's own
// renderer as adihost and the printer application draw it (at cost 0,
// below pdftopdf and Ghostscript's 165), and so do the PDFs CUPS makes of
// text and PostScript (texttopdf, gstopdf); PNG, JPEG and TIFF go straight to
// imagetovarnu, placed as adihost places them (and printer-resolution
// taken, which CUPS' image filters leave to the PPD's default); HP-GL/2 plot
// files go to hpgltovarnu and DXF drawings to dxftovarnu, drawn as adihost
// draws them; every other
// format reaches rastertovarnu as CUPS raster. With these lines CUPS reads
// no *cupsFilter.
std::string Filters() {
    const struct {
        const char* from;
        int cost;
        const char* filter;
    } filters[] = {{"application/vnd.cups-raster", 0, "rastertovarnu"},
                   {"application/pdf", 0, "pdftovarnu"},
                   {"image/png", 0, "imagetovarnu"},
                   {"image/jpeg", 0, "imagetovarnu"},
                   {"image/tiff", 0, "imagetovarnu"},
                   {"application/vnd.hp-HPGL", 0, "hpgltovarnu"},
                   {"image/vnd.dxf", 0, "dxftovarnu"}};
    std::string lines;
    for (const auto& f : filters)
        lines += std::string("*cupsFilter2: \"") + f.from + " " + kStreamType + " " +
                 std::to_string(f.cost) + " " + f.filter + "\"\n";
    return lines;
}

void WriteHeader(const ModelRecord& m) {
    const std::string product = "Varnu " + Trimmed(m.name);
    std::printf(
        "*PPD-Adobe: \"4.3\"\n"
        "*FormatVersion: \"4.3\"\n"
        "*FileVersion: \"1.1\"\n"
        "*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n"
        "*cupsLanguages: \"de\"\n"
        "*PCFileName: \"VARNU48.PPD\"\n"
        "*Manufacturer: \"Varnu\"\n"
        "*Product: \"(%s)\"\n"
        "*ModelName: \"%s\"\n"
        "*ShortNickName: \"%s\"\n"
        "*NickName: \"%s, rastertovarnu\"\n"
        "*1284DeviceID: \"%s\"\n"
        "*PSVersion: \"(3010.000) 0\"\n"
        "*LanguageLevel: \"3\"\n"
        "*ColorDevice: False\n"
        "*DefaultColorSpace: Gray\n"
        "*FileSystem: False\n"
        "*Throughput: \"1\"\n"
        "*LandscapeOrientation: Plus90\n"
        "*TTRasterizer: Type42\n"
        "*cupsVersion: 2.4\n"
        "*cupsModelNumber: 0\n"
        "*cupsManualCopies: False\n"
        "*cupsMaxCopies: %d\n"
        "%s\n",
        product.c_str(), product.c_str(), product.c_str(), product.c_str(), kDeviceId, kMaxCopies,
        Filters().c_str());
}

// The fixed formats under their standard names and sizes.
void WritePaper(int model) {
    const ConfigRecord defaults = DefaultConfigRecord(model);
    Option size{"PageSize", "Media Size", "Materialformat", "", {}};
    std::string regions, areas, dimensions, defaultName;
    for (const FixedMedia& f : FixedFormats()) {
        const std::string german = Trimmed(PaperFormat(model, f.row)->name);
        const int w = PointsOf(f.width), l = PointsOf(f.length);
        const std::string box = "[" + std::to_string(w) + " " + std::to_string(l) + "]";
        if (f.row == defaults.paperIndex) defaultName = f.ppd;
        size.choices.push_back({f.ppd, EnglishPaper(german), german,
                                "<</PageSize" + box + "/ImagingBBox null>>setpagedevice"});
        regions += "*PageRegion " + f.ppd + "/" + EnglishPaper(german) + ": \"<</PageSize" + box +
                   "/ImagingBBox null>>setpagedevice\"\n";
        areas += "*ImageableArea " + f.ppd + ": \"0 0 " + std::to_string(w) + " " +
                 std::to_string(l) + "\"\n";
        dimensions += "*PaperDimension " + f.ppd + ": \"" + std::to_string(w) + " " +
                      std::to_string(l) + "\"\n";
    }
    size.defaultChoice = defaultName;
    Write(size, 10);
    std::printf(
        "*OpenUI *PageRegion/Media Size: PickOne\n*OrderDependency: 10 AnySetup *PageRegion\n"
        "*DefaultPageRegion: %s\n%s*CloseUI: *PageRegion\n\n",
        defaultName.c_str(), regions.c_str());
    std::printf("*DefaultImageableArea: %s\n%s\n*DefaultPaperDimension: %s\n%s\n",
                defaultName.c_str(), areas.c_str(), defaultName.c_str(), dimensions.c_str());
}

// The length of a roll: any up to the longest the table allows, across
// the narrowest to the widest roll.
void WriteRoll() {
    int narrow = 1 << 30, wide = 0, longestMm = 0;
    for (const RollWidth& r : RollWidths()) {
        narrow = std::min(narrow, r.width);
        wide = std::max(wide, r.width);
        longestMm = std::max(longestMm, r.maxLengthMm);
    }
    std::printf(
        "*VariablePaperSize: True\n*HWMargins: 0 0 0 0\n"
        "*MaxMediaWidth: \"%d\"\n*MaxMediaHeight: \"%d\"\n"
        "*NonUIOrderDependency: 10 AnySetup *CustomPageSize True\n"
        "*CustomPageSize True: \"pop pop pop <</PageSize[5 -2 roll]/ImagingBBox null>>"
        "setpagedevice\"\n"
        "*ParamCustomPageSize Width: 1 points %d %d\n"
        "*ParamCustomPageSize Height: 2 points 72 %d\n"
        "*ParamCustomPageSize WidthOffset: 3 points 0 0\n"
        "*ParamCustomPageSize HeightOffset: 4 points 0 0\n"
        "*ParamCustomPageSize Orientation: 5 int 0 0\n\n",
        PointsOf(wide), Points(longestMm / 25.4), PointsOf(narrow), PointsOf(wide),
        Points(longestMm / 25.4));
}

// The finishing programs and margins by the keywords of their PJL lines.
void WriteFinishing(int model, const ConfigRecord& defaults) {
    const std::vector<std::string> programs = ProgramKeywords(), margins = FinishMarginKeywords();
    Option program{kProgramOption,
                   "Finishing Program",
                   "Programm",
                   programs[static_cast<std::size_t>(defaults.finishProgramIndex)],
                   {}};
    for (std::size_t row = 0; row < programs.size(); ++row)
        program.choices.push_back({programs[row], ChoiceLabel(programs[row]),
                                   Trimmed(FinishProgram(model, static_cast<int>(row))->name),
                                   Field(kProgramField, static_cast<int>(row) + 1)});
    Write(program);
    Option margin{kFinishMarginOption,
                  "Finishing Margin",
                  "Rand",
                  margins[static_cast<std::size_t>(defaults.finishMarginIndex)],
                  {}};
    for (std::size_t row = 0; row < margins.size(); ++row)
        margin.choices.push_back({margins[row], ChoiceLabel(margins[row]),
                                  Trimmed(FinishMargin(model, static_cast<int>(row))->name),
                                  Field(kFinishMarginField, static_cast<int>(row) + 1)});
    Write(margin);
}

}  // namespace

int main() {
    const int model = 0;
    const ModelRecord& m = *Model(model);
    const ConfigRecord defaults = DefaultConfigRecord(model);
    WriteHeader(m);
    WritePaper(model);
    WriteRoll();

    // Resolutions the model offers, the driver's default first.
    const int defaultDpi = m.dpi600 != 0 ? 600 : 400;
    Option resolution{
        "Resolution", "Resolution", "Aufl\xc3\xb6sung", std::to_string(defaultDpi) + "dpi", {}};
    for (int dpi : {600, 400, 300, 200}) {
        if (dpi == 600 && m.dpi600 == 0) continue;
        const std::string text = std::to_string(dpi) + " dpi";
        resolution.choices.push_back({std::to_string(dpi) + "dpi", text, text,
                                      "<</HWResolution[" + std::to_string(dpi) + " " +
                                          std::to_string(dpi) + "]>>setpagedevice"});
    }
    Write(resolution);

    Write({"ColorModel",
           "Color Mode",
           "Farbmodus",
           "Gray",
           {{"Gray", "Grayscale", "Graustufen",
             "<</cupsColorOrder 0/cupsColorSpace 18/cupsBitsPerColor 8>>setpagedevice"},
            {"RGB", "Color", "Farbe",
             "<</cupsColorOrder 0/cupsColorSpace 19/cupsBitsPerColor 8>>setpagedevice"}}});

    if (m.media != 0) {
        const std::vector<std::string>& types = MediaTypes();
        Option media{"MediaType",
                     "Media Type",
                     "Materialart",
                     types[static_cast<std::size_t>(defaults.mediaIndex)],
                     {}};
        for (int row = 0; row < MediaRowCount(model); ++row) {
            const std::string& k = types[static_cast<std::size_t>(row)];
            media.choices.push_back({k, ChoiceLabel(k), Trimmed(Media(model, row)->name),
                                     "<</MediaType(" + k + ")/cupsMediaType " +
                                         std::to_string(row + 1) + ">>setpagedevice"});
        }
        Write(media);
    }

    Option mode{kDataModeOption, "Data Mode", "Datenmodus", "RTL", {}};
    mode.choices.push_back({"RTL", "HP-RTL/GL2", "HP-RTL/GL2", Field(kDataModeField, 1)});
    if (m.vcglAllowed != 0)
        mode.choices.push_back({"VCGL", "VCGL+MMR", "VCGL+MMR", Field(kDataModeField, 2)});
    Write(mode);

    const bool halftone = (defaults.optionFlags & kOptionHalftoneFill) != 0;
    Write({kFillOption,
           "Polygon Fill",
           "F\xc3\xbcllung",
           halftone ? "Halftone" : "Solid",
           {{"Solid", "Solid", "Voll", Field(kFillField, 1)},
            {"Halftone", "Halftone", "Halbton", Field(kFillField, 2)}}});

    if (m.finisher != 0) WriteFinishing(model, defaults);

    Option margin{
        kMarginOption, "Margin", "Rand (mm)", std::to_string(defaults.marginMm) + "mm", {}};
    for (int mm = 0; mm <= kMaxMarginMm; ++mm) {
        const std::string text = std::to_string(mm) + " mm";
        margin.choices.push_back(
            {std::to_string(mm) + "mm", text, text, Field(kMarginField, mm + 1)});
    }
    Write(margin);
    std::fputs(Translations.c_str(), stdout);
    return 0;
}
