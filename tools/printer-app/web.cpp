// The printer's web pages of its own, registered before PAPPL's at the same
// paths (PAPPL keeps the first): the media page, which refuses a size the
// printer has no paper for; the jobs page, which shows why a job failed
// and sends a nest that waits ("Print Now");
// the supplies page, which says what is known of the roll. And the labels
// of the vendor settings and values, which PAPPL's own pages look up.
#include "web.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "driver.h"
#include "nests.h"
#include "readers/ipp_media.h"
#include "roll.h"

namespace varnu::printer_app {

namespace {

std::string PagePath(pappl_printer_t* printer, const char* page) {
    char path[256];
    papplPrinterGetPath(printer, page, path, sizeof path);
    return path;
}

// The printer whose page the client asks for; none once it was deleted.
pappl_printer_t* PrinterOf(pappl_client_t* client, const char* page) {
    struct Search {
        std::string uri;
        const char* page;
        pappl_printer_t* found = nullptr;
    } search{papplClientGetURI(client), page};
    papplSystemIteratePrinters(
        papplClientGetSystem(client),
        [](pappl_printer_t* printer, void* data) {
            Search* s = static_cast<Search*>(data);
            if (PagePath(printer, s->page) == s->uri) s->found = printer;
        },
        &search);
    return search.found;
}

// The form's fields; empty when the form is not valid (session, token).
cups_option_t* ValidForm(pappl_client_t* client, int* count) {
    cups_option_t* form = nullptr;
    *count = papplClientGetForm(client, &form);
    if (papplClientIsValidForm(client, *count, form)) return form;
    cupsFreeOptions(*count, form);
    *count = 0;
    return nullptr;
}

std::string Number(const char* text) {
    return text != nullptr ? text : "";
}

// The ready roll from the form: a fixed format, or a roll width and a
// length in millimetres; the banner to show.
std::string SaveMedia(pappl_client_t* client, pappl_printer_t* printer) {
    int count = 0;
    cups_option_t* form = ValidForm(client, &count);
    if (form == nullptr) return "Invalid form data.";
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    pappl_media_col_t ready = data.media_ready[0];
    const std::string size = Number(cupsGetOption("size", count, form));
    const std::string type = Number(cupsGetOption("type", count, form));
    if (size == "custom") {
        const double w = std::atof(Number(cupsGetOption("width", count, form)).c_str());
        const double l = std::atof(Number(cupsGetOption("length", count, form)).c_str());
        const pwg_media_t* pwg =
            pwgMediaForSize(static_cast<int>(w * 100 + 0.5), static_cast<int>(l * 100 + 0.5));
        std::snprintf(ready.size_name, sizeof ready.size_name, "%s",
                      pwg != nullptr ? pwg->pwg : "");
        ready.size_width = static_cast<int>(w * 100 + 0.5);
        ready.size_length = static_cast<int>(l * 100 + 0.5);
    } else if (const pwg_media_t* pwg = pwgMediaForPWG(size.c_str())) {
        std::snprintf(ready.size_name, sizeof ready.size_name, "%s", pwg->pwg);
        ready.size_width = pwg->width;
        ready.size_length = pwg->length;
    }
    if (RowOf(MediaTypes(), type) >= 0)
        std::snprintf(ready.type, sizeof ready.type, "%s", type.c_str());
    cupsFreeOptions(count, form);
    char refused[160];
    std::snprintf(refused, sizeof refused,
                  "Not saved: the printer has no paper format or roll for %.1f x %.1f mm.",
                  ready.size_width / 100.0, ready.size_length / 100.0);
    if (!ChoosePaper(ready.size_name, ready.size_width, ready.size_length) ||
        RowOf(MediaTypes(), ready.type) < 0)
        return refused;
    data.media_ready[0] = ready;
    if (!papplPrinterSetReadyMedia(printer, data.num_source, data.media_ready)) return refused;
    ShowRollSupply(printer);  // the roll's width
    return "Changes saved.";
}

void PutMediaForm(pappl_client_t* client, const pappl_media_col_t& ready) {
    papplClientHTMLPuts(client,
                        "<tr><th><label for=\"size\">Loaded:</label></th><td>"
                        "<select id=\"size\" name=\"size\">");
    bool fixed = false;
    for (const FixedMedia& m : FixedFormats()) {
        const bool chosen = m.pwg == ready.size_name;
        fixed = fixed || chosen;
        const std::string key = "media." + m.pwg;
        const char* name = papplClientGetLocString(client, key.c_str());
        papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s (%.0f x %.0f mm)</option>",
                              m.pwg.c_str(), chosen ? " selected" : "",
                              key == name ? m.ppd.c_str() : name, m.width / 100.0,
                              m.length / 100.0);
    }
    papplClientHTMLPrintf(client,
                          "<option value=\"custom\"%s>Roll, cut to length:</option></select> "
                          "<input type=\"number\" name=\"width\" min=\"0\" step=\"0.1\" "
                          "value=\"%.1f\"> x <input type=\"number\" name=\"length\" min=\"0\" "
                          "step=\"0.1\" value=\"%.1f\"> mm (width x length)</td></tr>\n",
                          fixed ? "" : " selected", ready.size_width / 100.0,
                          ready.size_length / 100.0);
    papplClientHTMLPuts(client,
                        "<tr><th><label for=\"type\">Type:</label></th><td>"
                        "<select id=\"type\" name=\"type\">");
    for (const std::string& t : MediaTypes())
        papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", t.c_str(),
                              t == ready.type ? " selected" : "", ChoiceLabel(t).c_str());
    papplClientHTMLPuts(client, "</select></td></tr>\n");
}

bool MediaPage(pappl_client_t* client, void*) {
    pappl_printer_t* printer = PrinterOf(client, "media");
    if (printer == nullptr) {
        papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
        return true;
    }
    if (!papplClientHTMLAuthorize(client)) return true;
    const std::string banner =
        papplClientGetMethod(client) == HTTP_STATE_POST ? SaveMedia(client, printer) : "";
    papplClientHTMLPrinterHeader(client, printer, "Media", 0, nullptr, nullptr);
    if (!banner.empty())
        papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", banner.c_str());
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    std::set<int> mm;
    for (const RollWidth& r : RollWidths()) mm.insert((r.width + 50) / 100);
    std::string widths;
    for (int w : mm) widths += (widths.empty() ? "" : ", ") + std::to_string(w);
    papplClientHTMLPrintf(client,
                          "<p>The roll loaded: %.1f mm wide. A roll of any width up to the "
                          "widest is cut to the page's length; roll widths %s mm.</p>\n",
                          data.media_ready[0].size_width / 100.0, widths.c_str());
    papplClientHTMLStartForm(client, papplClientGetURI(client), false);
    papplClientHTMLPuts(client, "<table class=\"form\">\n<tbody>\n");
    PutMediaForm(client, data.media_ready[0]);
    papplClientHTMLPuts(
        client,
        "<tr><th></th><td><input type=\"submit\" value=\"Save Changes\"></td></tr>\n"
        "</tbody>\n</table>\n</form>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

const char* StateText(ipp_jstate_t state) {
    switch (state) {
        case IPP_JSTATE_PENDING:
            return "Waiting";
        case IPP_JSTATE_HELD:
            return "Held";
        case IPP_JSTATE_PROCESSING:
            return "Printing";
        case IPP_JSTATE_STOPPED:
            return "Stopped";
        case IPP_JSTATE_CANCELED:
            return "Cancelled";
        case IPP_JSTATE_ABORTED:
            return "Failed";
        default:
            return "Printed";
    }
}

void PutJob(pappl_job_t* job, void* data) {
    auto* client = static_cast<pappl_client_t*>(data);
    const ipp_jstate_t state = papplJobGetState(job);
    const char* message = papplJobGetMessage(job);
    papplClientHTMLPrintf(client, "<tr><td>%d</td><td>%s</td><td>%s</td><td>%d</td><td>%s",
                          papplJobGetID(job), papplJobGetName(job), papplJobGetUsername(job),
                          papplJobGetImpressionsCompleted(job), StateText(state));
    if (message != nullptr && message[0] != '\0') papplClientHTMLPrintf(client, ": %s", message);
    papplClientHTMLPuts(client, "</td><td>");
    if (state < IPP_JSTATE_CANCELED && !papplJobIsCanceled(job)) {
        papplClientHTMLStartForm(client, papplClientGetURI(client), false);
        papplClientHTMLPrintf(client,
                              "<input type=\"hidden\" name=\"job-id\" value=\"%d\">"
                              "<input type=\"submit\" value=\"Cancel Job\"></form>",
                              papplJobGetID(job));
    }
    papplClientHTMLPuts(client, "</td></tr>\n");
}

// A job cancelled, or the nest that waits printed now.
std::string JobAction(pappl_client_t* client, pappl_printer_t* printer) {
    int count = 0;
    cups_option_t* form = ValidForm(client, &count);
    if (form == nullptr) return "Invalid form data.";
    const int id = std::atoi(Number(cupsGetOption("job-id", count, form)).c_str());
    const bool printNow = Number(cupsGetOption("action", count, form)) == "print-now";
    cupsFreeOptions(count, form);
    if (printNow) {
        if (WaitingNest(printer) == 0) return "No nest waits.";
        ReleaseNest(printer);
        return "The nest prints now.";
    }
    pappl_job_t* job = papplPrinterFindJob(printer, id);
    if (job == nullptr || papplJobGetState(job) >= IPP_JSTATE_CANCELED) return "No such job.";
    papplJobCancel(job);
    return "Job " + std::to_string(id) + " cancelled.";
}

bool JobsPage(pappl_client_t* client, void*) {
    pappl_printer_t* printer = PrinterOf(client, "jobs");
    if (printer == nullptr) {
        papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
        return true;
    }
    if (!papplClientHTMLAuthorize(client)) return true;
    const std::string banner =
        papplClientGetMethod(client) == HTTP_STATE_POST ? JobAction(client, printer) : "";
    papplClientHTMLPrinterHeader(client, printer, "Jobs", 0, nullptr, nullptr);
    if (!banner.empty())
        papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", banner.c_str());
    if (const int nest = WaitingNest(printer)) {
        papplClientHTMLPrintf(client, "<p>Job %d waits for further jobs to nest on the roll. ",
                              nest);
        papplClientHTMLStartForm(client, papplClientGetURI(client), false);
        papplClientHTMLPuts(client,
                            "<input type=\"hidden\" name=\"action\" value=\"print-now\">"
                            "<input type=\"submit\" value=\"Print Now\"></form></p>\n");
    }
    papplClientHTMLPuts(client,
                        "<table class=\"list\">\n<thead><tr><th>Job</th><th>Name</th>"
                        "<th>Owner</th><th>Pages</th><th>Status</th><th></th></tr>"
                        "</thead>\n<tbody>\n");
    if (papplPrinterGetNumberOfJobs(printer) == 0)
        papplClientHTMLPuts(client, "<tr><td colspan=\"6\">No jobs.</td></tr>\n");
    papplPrinterIterateAllJobs(printer, PutJob, client, 1, 0);
    papplClientHTMLPuts(client, "</tbody>\n</table>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

bool SuppliesPage(pappl_client_t* client, void*) {
    pappl_printer_t* printer = PrinterOf(client, "supplies");
    if (printer == nullptr) {
        papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
        return true;
    }
    pappl_supply_t supplies[8];
    const int count = papplPrinterGetSupplies(printer, 8, supplies);
    papplClientHTMLPrinterHeader(client, printer, "Supplies", 0, nullptr, nullptr);
    papplClientHTMLPuts(client, "<table class=\"form\">\n<tbody>\n");
    for (int i = 0; i < count; ++i) {
        if (supplies[i].level < 0)
            papplClientHTMLPrintf(client,
                                  "<tr><th>%s:</th><td>unknown: give the length of the roll "
                                  "loaded on the Printing Defaults page</td></tr>\n",
                                  supplies[i].description);
        else
            papplClientHTMLPrintf(client, "<tr><th>%s:</th><td>%d%%</td></tr>\n",
                                  supplies[i].description, supplies[i].level);
    }
    papplClientHTMLPuts(client, "</tbody>\n</table>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

// English labels of the vendor settings and the printer's own keywords,
// under the keys PAPPL's pages look up ("attribute", "attribute.keyword").
std::map<std::string, std::string> Labels() {
    std::map<std::string, std::string> labels = {
        {kProgramAttribute, "Finishing program"},
        {kFinishMarginAttribute, "Finishing margin"},
        {kOutputBinAttribute, "Output bin (with a finishing program)"},
        {kSheetMarginAttribute, "Sheet margin (mm)"},
        {kRollRotationAttribute, "Turn pages on the roll"},
        {std::string(kRollRotationAttribute) + ".auto", "Where it saves roll"},
        {std::string(kRollRotationAttribute) + ".never", "Never"},
        {kNestingAttribute, "Pages on the roll"},
        {std::string(kNestingAttribute) + ".none", "One after another"},
        {std::string(kNestingAttribute) + ".across-roll", "Side by side across the roll"},
        {kNestingGapAttribute, "Gap between nested pages (mm)"},
        {kCutMarksAttribute, "Cut marks between nested pages"},
        {std::string(kCutMarksAttribute) + ".none", "None"},
        {std::string(kCutMarksAttribute) + ".corners", "At each page's corners"},
        {kNestingWaitAttribute, "Wait for further jobs to nest (s)"},
        {kRollLengthAttribute, "Length of the roll loaded (mm, 0 unknown)"},
        {kRollLeftAttribute, "Roll left (mm)"}};
    const struct {
        const char* attribute;
        std::vector<std::string> keywords;
    } choices[] = {{kProgramAttribute, ProgramKeywords()},
                   {kFinishMarginAttribute, FinishMarginKeywords()},
                   {kOutputBinAttribute, OutputBinKeywords()},
                   {"media-type", MediaTypes()}};
    for (const auto& c : choices)
        for (const std::string& k : c.keywords)
            labels[std::string(c.attribute) + "." + k] = ChoiceLabel(k);
    const std::vector<std::string> bins = IppOutputBins(), own = OutputBinKeywords();
    for (std::size_t i = 0; i < bins.size(); ++i)
        labels["output-bin." + bins[i]] = ChoiceLabel(own[i]);
    return labels;
}

}  // namespace

const char* WebLabel(const char* key) {
    static const std::map<std::string, std::string> labels = Labels();
    if (key == nullptr) return nullptr;
    const auto found = labels.find(key);
    return found != labels.end() ? found->second.c_str() : nullptr;
}

void AddPrinterPages(pappl_printer_t* printer) {
    static std::mutex mutex;
    static std::set<std::string> paths;  // one resource a path, whichever printer has it now
    const struct {
        const char* page;
        pappl_resource_cb_t callback;
    } pages[] = {{"media", MediaPage}, {"jobs", JobsPage}, {"supplies", SuppliesPage}};
    const std::lock_guard<std::mutex> lock(mutex);
    for (const auto& p : pages) {
        const std::string path = PagePath(printer, p.page);
        if (paths.insert(path).second)
            papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path.c_str(),
                                           "text/html", p.callback, nullptr);
    }
}

}  // namespace varnu::printer_app
