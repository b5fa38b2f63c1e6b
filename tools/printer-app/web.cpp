// PAPPL 1.3.1's defaults page names vendor attributes by their attribute
// names and keywords, and the strings resource that would label them makes
// it add printer-strings-languages-supported again to every
// Get-Printer-Attributes response. This page edits the same defaults under
// English labels, with no strings resource.
#include "web.h"

#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "driver.h"
#include "readers/ipp_media.h"

namespace varnu::printer_app {

namespace {

constexpr const char* kPage = "finishing";  // under the printer's web path

struct Setting {
    const char* attribute;
    const char* label;
};
constexpr Setting kSettings[] = {
    {kProgramAttribute, "Finishing program"},
    {kFinishMarginAttribute, "Finishing margin"},
    {kOutputBinAttribute, "Output bin"},
    {kSheetMarginAttribute, "Sheet margin (mm)"},
};

std::string PagePath(pappl_printer_t* printer) {
    char path[256];
    papplPrinterGetPath(printer, kPage, path, sizeof path);
    return path;
}

// The printer whose page the client asks for; none once it was deleted.
pappl_printer_t* PrinterOf(pappl_client_t* client) {
    struct Search {
        std::string uri;
        pappl_printer_t* found = nullptr;
    } search{papplClientGetURI(client)};
    papplSystemIteratePrinters(
        papplClientGetSystem(client),
        [](pappl_printer_t* printer, void* data) {
            Search* s = static_cast<Search*>(data);
            if (PagePath(printer) == s->uri) s->found = printer;
        },
        &search);
    return search.found;
}

// The values a setting takes: its keywords, or its range of integers.
struct Choices {
    std::vector<std::string> keywords;
    int lower = 0, upper = -1;
    std::string current;
    bool Allows(const std::string& value) const {
        for (const std::string& k : keywords)
            if (k == value) return true;
        char* end = nullptr;
        const long n = std::strtol(value.c_str(), &end, 10);
        return keywords.empty() && !value.empty() && *end == '\0' && n >= lower && n <= upper;
    }
};

Choices ChoicesOf(ipp_t* attributes, const std::string& name) {
    Choices c;
    ipp_attribute_t* supported =
        ippFindAttribute(attributes, (name + "-supported").c_str(), IPP_TAG_ZERO);
    if (ippGetValueTag(supported) == IPP_TAG_RANGE)
        c.lower = ippGetRange(supported, 0, &c.upper);
    else
        for (int i = 0; i < ippGetCount(supported); ++i)
            c.keywords.push_back(ippGetString(supported, i, nullptr));
    char value[256] = "";
    ippAttributeString(ippFindAttribute(attributes, (name + "-default").c_str(), IPP_TAG_ZERO),
                       value, sizeof value);
    c.current = value;
    return c;
}

// The settings the printer's driver offers (a model without a finisher
// has only the sheet margin).
std::vector<Setting> Offered(pappl_printer_t* printer) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    std::vector<Setting> offered;
    for (const Setting& s : kSettings)
        for (int i = 0; i < data.num_vendor; ++i)
            if (std::string(data.vendor[i]) == s.attribute) offered.push_back(s);
    return offered;
}

// The form's values as the printer's defaults, all or none; the banner
// to show.
const char* Save(pappl_client_t* client, pappl_printer_t* printer) {
    cups_option_t* form = nullptr;
    const int fields = papplClientGetForm(client, &form);
    bool valid = papplClientIsValidForm(client, fields, form);
    int count = 0;
    cups_option_t* vendor = nullptr;
    ipp_t* attributes = papplPrinterGetDriverAttributes(printer);
    for (const Setting& s : Offered(printer)) {
        const char* value = cupsGetOption(s.attribute, fields, form);
        if (value == nullptr) continue;
        valid = valid && ChoicesOf(attributes, s.attribute).Allows(value);
        count = cupsAddOption(s.attribute, value, count, &vendor);
    }
    ippDelete(attributes);
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    const bool saved = valid && papplPrinterSetDriverDefaults(printer, &data, count, vendor);
    cupsFreeOptions(count, vendor);
    cupsFreeOptions(fields, form);
    return saved ? "Changes saved." : "Invalid form data.";
}

void PutSetting(pappl_client_t* client, const Setting& s, const Choices& c) {
    papplClientHTMLPrintf(client, "<tr><th><label for=\"%s\">%s:</label></th><td>", s.attribute,
                          s.label);
    if (c.keywords.empty()) {
        papplClientHTMLPrintf(client,
                              "<input type=\"number\" id=\"%s\" name=\"%s\" min=\"%d\" "
                              "max=\"%d\" value=\"%s\">",
                              s.attribute, s.attribute, c.lower, c.upper, c.current.c_str());
    } else {
        papplClientHTMLPrintf(client, "<select id=\"%s\" name=\"%s\">", s.attribute, s.attribute);
        for (const std::string& k : c.keywords)
            papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", k.c_str(),
                                  k == c.current ? " selected" : "", ChoiceLabel(k).c_str());
        papplClientHTMLPuts(client, "</select>");
    }
    papplClientHTMLPuts(client, "</td></tr>\n");
}

bool SettingsPage(pappl_client_t* client, void*) {
    pappl_printer_t* printer = PrinterOf(client);
    if (printer == nullptr) {
        papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
        return true;
    }
    if (!papplClientHTMLAuthorize(client)) return true;
    const char* banner =
        papplClientGetMethod(client) == HTTP_STATE_POST ? Save(client, printer) : nullptr;
    papplClientHTMLPrinterHeader(client, printer, "Finishing", 0, nullptr, nullptr);
    if (banner != nullptr)
        papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", banner);
    papplClientHTMLStartForm(client, papplClientGetURI(client), false);
    papplClientHTMLPuts(client, "<table class=\"form\">\n<tbody>\n");
    ipp_t* attributes = papplPrinterGetDriverAttributes(printer);
    for (const Setting& s : Offered(printer))
        PutSetting(client, s, ChoicesOf(attributes, s.attribute));
    ippDelete(attributes);
    papplClientHTMLPuts(client,
                        "<tr><th></th><td><input type=\"submit\" id=\"save\" value=\"Save "
                        "Changes\"></td></tr>\n</tbody>\n</table>\n</form>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

}  // namespace

void AddSettingsPage(pappl_printer_t* printer, void*) {
    static std::mutex mutex;
    static std::set<std::string> paths;  // one resource a path, whichever printer has it now
    const std::string path = PagePath(printer);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (paths.insert(path).second)
            papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path.c_str(),
                                           "text/html", SettingsPage, nullptr);
    }
    papplPrinterAddLink(printer, "Finishing", path.c_str(),
                        PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_PRINTER);
}

}  // namespace varnu::printer_app
