// Writes the printer's PPD for CUPS from the driver's own device tables:
// paper formats (and the user-defined length of a roll), media, raster
// resolutions, data modes, polygon fill, finishing programs and margins,
// and the sheet margin. Each choice sets a field of the CUPS raster page
// header that rastertovarnu turns back into the configuration record.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "readers/cups_options.h"
#include "varnu/config_record.h"
#include "varnu/printer_tables.h"

namespace {

using namespace varnu;

// A table name without its padding; German umlauts never occur in these.
std::string Trimmed(const char* name) {
    std::string s(name);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// A PPD option keyword: letters and digits of the name.
std::string Keyword(const std::string& name) {
    std::string k;
    for (char c : name)
        if (std::isalnum(static_cast<unsigned char>(c))) k += c;
    return k;
}

int Points(double inches) {
    return static_cast<int>(std::lround(inches * 72));
}

void OpenUi(const char* keyword, const char* text, const std::string& defaultChoice, int order) {
    std::printf("*OpenUI *%s/%s: PickOne\n*OrderDependency: %d AnySetup *%s\n*Default%s: %s\n",
                keyword, text, order, keyword, keyword, defaultChoice.c_str());
}

void Choice(const char* keyword, const std::string& choice, const std::string& text,
            const std::string& code) {
    std::printf("*%s %s/%s: \"%s\"\n", keyword, choice.c_str(), text.c_str(), code.c_str());
}

void CloseUi(const char* keyword) {
    std::printf("*CloseUI: *%s\n\n", keyword);
}

void IntegerOption(const char* keyword, const char* text, int field, int count,
                   const std::function<std::string(int)>& name, int defaultRow, int order) {
    OpenUi(keyword, text, Keyword(name(defaultRow)), order);
    for (int row = 0; row < count; ++row)
        Choice(keyword, Keyword(name(row)), name(row),
               "<</cupsInteger" + std::to_string(field) + " " + std::to_string(row + 1) +
                   ">>setpagedevice");
    CloseUi(keyword);
}

}  // namespace

int main() {
    const int model = 0;
    const ModelRecord& m = *Model(model);
    const ConfigRecord defaults = DefaultConfigRecord(model);
    const std::string product = "Varnu " + Trimmed(m.name);

    std::printf(
        "*PPD-Adobe: \"4.3\"\n"
        "*FormatVersion: \"4.3\"\n"
        "*FileVersion: \"1.0\"\n"
        "*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n"
        "*PCFileName: \"VARNU48.PPD\"\n"
        "*Manufacturer: \"Varnu\"\n"
        "*Product: \"(%s)\"\n"
        "*ModelName: \"%s\"\n"
        "*ShortNickName: \"%s\"\n"
        "*NickName: \"%s, rastertovarnu\"\n"
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
        "*cupsFilter: \"application/vnd.cups-raster 0 rastertovarnu\"\n\n",
        product.c_str(), product.c_str(), product.c_str(), product.c_str());

    // Paper: the fixed formats, named as the driver names them; the roll
    // widths of the user-defined rows as the custom size's range.
    const int rows = PaperRowCount(model);
    const PaperFormatRecord& first = *PaperFormat(model, defaults.paperIndex);
    const std::string defaultSize = Keyword(Trimmed(first.name));
    std::string sizes, regions, areas, dimensions;
    double minWidth = 1e9, maxWidth = 0;
    int maxLengthMm = 0;
    for (int row = 1; row <= rows; ++row) {
        const PaperFormatRecord& p = *PaperFormat(model, row);
        if (p.custom != 0) {
            minWidth = std::min(minWidth, p.width);
            maxWidth = std::max(maxWidth, p.width);
            maxLengthMm = std::max<int>(maxLengthMm, p.maxLengthMm);
            continue;
        }
        const std::string name = Trimmed(p.name), key = Keyword(name);
        const int w = Points(p.width), l = Points(p.length);
        char line[512];
        std::snprintf(line, sizeof line,
                      "*PageSize %s/%s: \"<</PageSize[%d %d]/ImagingBBox null>>setpagedevice\"\n",
                      key.c_str(), name.c_str(), w, l);
        sizes += line;
        std::snprintf(line, sizeof line,
                      "*PageRegion %s/%s: \"<</PageSize[%d %d]/ImagingBBox null>>setpagedevice\"\n",
                      key.c_str(), name.c_str(), w, l);
        regions += line;
        std::snprintf(line, sizeof line, "*ImageableArea %s/%s: \"0 0 %d %d\"\n", key.c_str(),
                      name.c_str(), w, l);
        areas += line;
        std::snprintf(line, sizeof line, "*PaperDimension %s/%s: \"%d %d\"\n", key.c_str(),
                      name.c_str(), w, l);
        dimensions += line;
    }
    std::printf(
        "*OpenUI *PageSize/Paper: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n"
        "*DefaultPageSize: %s\n%s*CloseUI: *PageSize\n\n",
        defaultSize.c_str(), sizes.c_str());
    std::printf(
        "*OpenUI *PageRegion: PickOne\n*OrderDependency: 10 AnySetup *PageRegion\n"
        "*DefaultPageRegion: %s\n%s*CloseUI: *PageRegion\n\n",
        defaultSize.c_str(), regions.c_str());
    std::printf("*DefaultImageableArea: %s\n%s\n*DefaultPaperDimension: %s\n%s\n",
                defaultSize.c_str(), areas.c_str(), defaultSize.c_str(), dimensions.c_str());
    // The length of a roll: any, up to the longest user-defined format.
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
        Points(maxWidth), Points(maxLengthMm / 25.4), Points(minWidth), Points(maxWidth),
        Points(maxLengthMm / 25.4));

    // Resolutions the model offers, the driver's default first.
    const int defaultDpi = m.dpi600 != 0 ? 600 : 400;
    OpenUi("Resolution", "Resolution", std::to_string(defaultDpi) + "dpi", 20);
    for (int dpi : {600, 400, 300, 200}) {
        if (dpi == 600 && m.dpi600 == 0) continue;
        Choice("Resolution", std::to_string(dpi) + "dpi", std::to_string(dpi) + " dpi",
               "<</HWResolution[" + std::to_string(dpi) + " " + std::to_string(dpi) +
                   "]>>setpagedevice");
    }
    CloseUi("Resolution");

    OpenUi("ColorModel", "Colour Model", "Gray", 20);
    Choice("ColorModel", "Gray", "Grey",
           "<</cupsColorOrder 0/cupsColorSpace 18/cupsBitsPerColor 8>>setpagedevice");
    Choice("ColorModel", "RGB", "Colour",
           "<</cupsColorOrder 0/cupsColorSpace 19/cupsBitsPerColor 8>>setpagedevice");
    CloseUi("ColorModel");

    if (m.media != 0) {
        OpenUi("MediaType", "Media", Keyword(Trimmed(Media(model, defaults.mediaIndex)->name)), 20);
        for (int row = 0; row < MediaRowCount(model); ++row) {
            const std::string name = Trimmed(Media(model, row)->name);
            Choice("MediaType", Keyword(name), name,
                   "<</MediaType(" + Keyword(name) + ")/cupsMediaType " + std::to_string(row + 1) +
                       ">>setpagedevice");
        }
        CloseUi("MediaType");
    }

    OpenUi(kDataModeOption, "Data Mode", "RTL", 20);
    Choice(kDataModeOption, "RTL", "HP-RTL/GL2",
           "<</cupsInteger" + std::to_string(kDataModeField) + " 1>>setpagedevice");
    if (m.vcglAllowed != 0)
        Choice(kDataModeOption, "VCGL", "VCGL+MMR",
               "<</cupsInteger" + std::to_string(kDataModeField) + " 2>>setpagedevice");
    CloseUi(kDataModeOption);

    const bool halftone = (defaults.optionFlags & kOptionHalftoneFill) != 0;
    OpenUi(kFillOption, "Polygon Fill", halftone ? "Halftone" : "Solid", 20);
    Choice(kFillOption, "Solid", "Solid",
           "<</cupsInteger" + std::to_string(kFillField) + " 1>>setpagedevice");
    Choice(kFillOption, "Halftone", "Halftone",
           "<</cupsInteger" + std::to_string(kFillField) + " 2>>setpagedevice");
    CloseUi(kFillOption);

    if (m.finisher != 0) {
        IntegerOption(
            kProgramOption, "Finishing Program", kProgramField, FinishProgramRowCount(model),
            [&](int row) { return Trimmed(FinishProgram(model, row)->name); },
            defaults.finishProgramIndex, 20);
        IntegerOption(
            kFinishMarginOption, "Finishing Margin", kFinishMarginField,
            FinishMarginRowCount(model),
            [&](int row) { return Trimmed(FinishMargin(model, row)->name); },
            defaults.finishMarginIndex, 20);
    }
    IntegerOption(
        kMarginOption, "Margin", kMarginField, kMaxMarginMm + 1,
        [](int mm) { return std::to_string(mm) + "mm"; }, defaults.marginMm, 20);
    return 0;
}
