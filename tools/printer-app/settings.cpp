#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "driver.h"
#include "overrides.h"
#include "readers/ipp_media.h"
#include "varnu/config_record.h"
#include "varnu/printer_tables.h"

namespace varnu::printer_app {

bool Offered(ipp_attribute_t* supported, const char* value) {
    if (supported == nullptr || value == nullptr || !IsPrintable(value)) return false;
    if (ippGetValueTag(supported) == IPP_TAG_RANGE ||
        ippGetValueTag(supported) == IPP_TAG_INTEGER) {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(value, &end, 10);
        if (value[0] == '\0' || *end != '\0' || errno == ERANGE) return false;
        for (int i = 0; i < ippGetCount(supported); ++i) {
            int upper = 0;
            const int lower = ippGetValueTag(supported) == IPP_TAG_RANGE
                                  ? ippGetRange(supported, i, &upper)
                                  : (upper = ippGetInteger(supported, i));
            if (n >= lower && n <= upper) return true;
        }
        return false;
    }
    return ippContainsString(supported, value) != 0;
}

bool VendorValueOffered(pappl_printer_t* printer, const char* name, const char* value) {
    ipp_t* attributes = papplPrinterGetDriverAttributes(printer);
    const std::string supported = std::string(name) + "-supported";
    const bool offered =
        Offered(ippFindAttribute(attributes, supported.c_str(), IPP_TAG_ZERO), value);
    ippDelete(attributes);
    return offered;
}

bool IsPrintable(const char* text) {
    for (const char* c = text; *c != '\0'; ++c)
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) return false;
    return true;
}

std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return out;
}

int JobResolution(pappl_job_t* job, const pappl_pr_options_t& options, unsigned page) {
    ipp_t* override = PageOverride(job, page);
    if (ipp_attribute_t* r = ippFindAttribute(override, "printer-resolution", IPP_TAG_ZERO)) {
        ipp_res_t units;
        int y = 0;
        return ippGetResolution(r, 0, &y, &units);
    }
    if (ippFindAttribute(override, "print-quality", IPP_TAG_ZERO) == nullptr &&
        papplJobGetAttribute(job, "printer-resolution") != nullptr)
        return options.printer_resolution[0];
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
    switch (options.print_quality) {
        case IPP_QUALITY_DRAFT:
            return data.x_resolution[0];
        case IPP_QUALITY_HIGH:
            return data.x_resolution[data.num_resolution - 1];
        default:
            return data.x_default;
    }
}

namespace {

// A keyword vendor value as a table row; none when not given.
bool VendorRow(const pappl_pr_options_t& o, const char* name,
               const std::vector<std::string>& keywords, std::optional<int>* row,
               std::string* error) {
    const char* value = cupsGetOption(name, o.num_vendor, o.vendor);
    if (value == nullptr) return true;
    const int r = RowOf(keywords, value);
    if (r < 0) {
        *error = std::string(name) + " \"" + Printable(value) + "\" is not offered";
        return false;
    }
    *row = r;
    return true;
}

bool FinishingSettings(const pappl_pr_options_t& o, host::ConfigureOptions* s, std::string* error) {
    if (varnu::Model(0)->finisher == 0) return true;
    if (!VendorRow(o, kProgramAttribute, ProgramKeywords(), &s->program, error)) return false;
    // Margin and bin go with a finishing program, never with the bypass.
    std::optional<int> margin, bin;
    if (!VendorRow(o, kFinishMarginAttribute, FinishMarginKeywords(), &margin, error) ||
        !VendorRow(o, kOutputBinAttribute, OutputBinKeywords(), &bin, error))
        return false;
    if (!varnu::IsBypassProgram(*varnu::FinishProgram(0, s->program.value_or(0)))) {
        s->finishMargin = margin;
        s->bin = bin;
    }
    return true;
}

// The finishing program a job's finishings-col names ("none" the bypass).
const char* FinishingTemplate(ipp_attribute_t* finishings) {
    ipp_t* col = ippGetCollection(finishings, 0);
    const char* name =
        ippGetString(ippFindAttribute(col, "finishing-template", IPP_TAG_ZERO), 0, nullptr);
    return name != nullptr && std::strcmp(name, "none") == 0 ? "bypass" : name;
}

// The vendor values of a job: its own, else those its standard attributes
// name (output-bin, finishings-col), else the printer's defaults (the web
// interface edits those; PAPPL hands a job only what it was given).
class VendorValues {
  public:
    VendorValues(pappl_job_t* job, const pappl_pr_options_t& o) {
        for (int i = 0; i < o.num_vendor; ++i)
            count_ = cupsAddOption(o.vendor[i].name, o.vendor[i].value, count_, &options_);
        const char* named = ippGetString(papplJobGetAttribute(job, "output-bin"), 0, nullptr);
        const int bin = named != nullptr ? RowOf(IppOutputBins(), named) : -1;
        if (bin >= 0 && cupsGetOption(kOutputBinAttribute, count_, options_) == nullptr)
            count_ = cupsAddOption(kOutputBinAttribute,
                                   OutputBinKeywords()[static_cast<std::size_t>(bin)].c_str(),
                                   count_, &options_);
        const char* program = FinishingTemplate(papplJobGetAttribute(job, "finishings-col"));
        if (program != nullptr && cupsGetOption(kProgramAttribute, count_, options_) == nullptr)
            count_ = cupsAddOption(kProgramAttribute, program, count_, &options_);
        ipp_t* defaults = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
        for (const char* name : {kProgramAttribute, kFinishMarginAttribute, kOutputBinAttribute,
                                 kSheetMarginAttribute, kRollRotationAttribute, kNestingAttribute,
                                 kNestingGapAttribute, kCutMarksAttribute, kNestingWaitAttribute}) {
            const std::string byDefault = std::string(name) + "-default";
            ipp_attribute_t* a = ippFindAttribute(defaults, byDefault.c_str(), IPP_TAG_ZERO);
            char value[256];
            if (a != nullptr && cupsGetOption(name, count_, options_) == nullptr &&
                ippAttributeString(a, value, sizeof value) > 0)
                count_ = cupsAddOption(name, value, count_, &options_);
        }
        ippDelete(defaults);
    }
    ~VendorValues() { cupsFreeOptions(count_, options_); }
    VendorValues(const VendorValues&) = delete;
    VendorValues& operator=(const VendorValues&) = delete;
    std::string operator[](const char* name) const {
        const char* value = cupsGetOption(name, count_, options_);
        return value != nullptr ? value : "";
    }
    pappl_pr_options_t With(const pappl_pr_options_t& o) const {
        pappl_pr_options_t joined = o;
        joined.num_vendor = count_;
        joined.vendor = options_;
        return joined;
    }

  private:
    int count_ = 0;
    cups_option_t* options_ = nullptr;
};

bool SheetSettings(const pappl_pr_options_t& o, int dpi, host::ConfigureOptions* s,
                   std::string* error) {
    const std::optional<PaperChoice> paper =
        ChoosePaper(o.media.size_name, o.media.size_width, o.media.size_length);
    if (!paper) {
        char text[200];
        std::snprintf(text, sizeof text, "no paper format or roll width of %.1f x %.1f mm",
                      o.media.size_width / 100.0, o.media.size_length / 100.0);
        *error = text;
        return false;
    }
    s->paper = std::to_string(paper->row);
    s->length = paper->lengthMm;
    if (dpi != 600 && dpi != 400 && dpi != 300 && dpi != 200) {
        *error = "resolution " + std::to_string(dpi) + " dpi is not offered (600, 400, 300, 200)";
        return false;
    }
    s->resolution = dpi;
    if (o.media.type[0] != '\0') {
        const int row = RowOf(MediaTypes(), o.media.type);
        if (row < 0) {
            *error = "media-type \"" + Printable(o.media.type) + "\" is not offered";
            return false;
        }
        s->media = row;
    }
    return true;
}

}  // namespace

int JoinOutputBinDefaults(pappl_printer_t* printer, pappl_pr_driver_data_t* data, int count,
                          cups_option_t** vendor) {
    if (data->num_bin == 0) return count;
    const char* own = cupsGetOption(kOutputBinAttribute, count, *vendor);
    if (own != nullptr) {
        data->bin_default = std::max(0, RowOf(OutputBinKeywords(), own));
        return count;
    }
    pappl_pr_driver_data_t now;
    papplPrinterGetDriverData(printer, &now);
    if (data->bin_default == now.bin_default) return count;
    return cupsAddOption(kOutputBinAttribute,
                         OutputBinKeywords()[static_cast<std::size_t>(data->bin_default)].c_str(),
                         count, vendor);
}

int VendorDefault(pappl_printer_t* printer, const char* name) {
    ipp_t* attributes = papplPrinterGetDriverAttributes(printer);
    const std::string byDefault = std::string(name) + "-default";
    const int value =
        ippGetInteger(ippFindAttribute(attributes, byDefault.c_str(), IPP_TAG_INTEGER), 0);
    ippDelete(attributes);
    return value;
}

std::string JobVendorValue(pappl_job_t* job, const pappl_pr_options_t& options, const char* name) {
    return VendorValues(job, options)[name];
}

namespace {

// The settings of options whose vendor values are joined in.
bool Settings(const pappl_pr_options_t& o, int dpi, host::ConfigureOptions* s, std::string* error) {
    *s = host::ConfigureOptions{};
    s->defaults = true;
    if (!SheetSettings(o, dpi, s, error)) return false;
    if (const char* margin = cupsGetOption(kSheetMarginAttribute, o.num_vendor, o.vendor)) {
        char* end = nullptr;
        const long mm = std::strtol(margin, &end, 10);
        if (*end != '\0' || mm < 0 || mm > kMaxMarginMm) {
            *error = std::string(kSheetMarginAttribute) + " " + Printable(margin) + " is not 0.." +
                     std::to_string(kMaxMarginMm) + " mm";
            return false;
        }
        s->margin = static_cast<int>(mm);
    }
    return FinishingSettings(o, s, error);
}

}  // namespace

bool JobSettings(pappl_job_t* job, const pappl_pr_options_t& options, int dpi,
                 host::ConfigureOptions* s, std::string* error) {
    const VendorValues vendor(job, options);
    return Settings(vendor.With(options), dpi, s, error);
}

bool PrinterSettings(pappl_printer_t* printer, host::ConfigureOptions* s, std::string* error) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    pappl_pr_options_t o{};
    o.media = data.media_default;
    o.copies = 1;
    ipp_t* attributes = papplPrinterGetDriverAttributes(printer);
    int count = 0;
    cups_option_t* vendor = nullptr;
    for (int i = 0; i < data.num_vendor; ++i) {
        const std::string name = std::string(data.vendor[i]) + "-default";
        char value[256];
        if (ippAttributeString(ippFindAttribute(attributes, name.c_str(), IPP_TAG_ZERO), value,
                               sizeof value) > 0)
            count = cupsAddOption(data.vendor[i], value, count, &vendor);
    }
    ippDelete(attributes);
    o.num_vendor = count;
    o.vendor = vendor;
    const bool ok = Settings(o, data.x_default, s, error);
    cupsFreeOptions(count, vendor);
    return ok;
}

}  // namespace varnu::printer_app
