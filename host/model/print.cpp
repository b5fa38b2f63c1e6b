#include "model/print.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

#include "model/send.h"
#include "session/config_store.h"
#include "session/job.h"
#include "varnu/config_record.h"

namespace varnu::host {

namespace {

// The same plot whose pictures stop drawing once `stopped` says so; only
// pictures draw for long.
Plot StoppingWhen(Plot plot, const std::function<bool()>& stopped) {
    for (const Step& step : plot.steps())
        if (step.kind != Step::Kind::Picture) return plot;
    Plot out(plot.source());
    for (const Step& step : plot.steps()) {
        Picture picture = plot.pictures()[step.index];
        picture.render = [render = picture.render, stopped](std::int32_t x, std::int32_t y,
                                                            std::int32_t w, std::int32_t h,
                                                            std::uint32_t* pixels, std::string* e) {
            if (stopped()) {
                *e = "cancelled";
                return false;
            }
            return render(x, y, w, h, pixels, e);
        };
        if (picture.renderColumns)
            picture.renderColumns = [render = picture.renderColumns, stopped](
                                        std::int32_t x, std::int32_t w, std::uint32_t* pixels,
                                        std::string* e) {
                if (stopped()) {
                    *e = "cancelled";
                    return false;
                }
                return render(x, w, pixels, e);
            };
        out.DrawPicture(std::move(picture), step.placement);
    }
    return out;
}

bool Setup(const PrintRequest& r, int index, int copies, int* dpi, std::string* error) {
    if (!r.configure) {
        *dpi = StoredDpi();
        return true;
    }
    return r.configure(index, copies, dpi, error);
}

// "; page 1 went out already" for the pages before a failed one.
std::string SentNote(const PrintRequest& r, int sent) {
    if (sent <= 0) return "";
    const int first = r.firstPage + r.pages.front(),
              last = r.firstPage + r.pages[static_cast<std::size_t>(sent) - 1];
    return "; " + std::string(sent == 1 ? "page " : "pages ") + std::to_string(first) +
           (sent == 1 ? "" : " to " + std::to_string(last)) + " went out already";
}

// One page as driver jobs of at most the driver's copies each, drawn once.
bool PrintPage(Document& document, const PrintRequest& r, int index, PlotSession* session,
               std::string* error) {
    if (r.starting) r.starting(index);
    std::optional<Plot> plot;
    int left = r.configure ? r.copies : 1;
    do {
        const int copies = r.configure ? std::min(left, int{varnu::kMaxCopies}) : 1;
        int dpi = 0;
        if (!Setup(r, index, copies, &dpi, error)) return false;
        const bool sent = session->Job(
            r.label,
            [&](const Sheet& sheet, std::string* e) {
                if (!plot) {
                    Plot drawn;
                    if (!document.Draw(index, sheet, dpi, &drawn, e)) return false;
                    plot = r.stopped ? StoppingWhen(std::move(drawn), r.stopped) : std::move(drawn);
                }
                return Send(*plot, r.progress, e);
            },
            error);
        if (!sent) {
            // The driver's own words do not say which page.
            if (*error == "the driver wrote nothing")
                *error = "page " + std::to_string(r.firstPage + index) + ": " + *error;
            return false;
        }
        left -= copies;
    } while (left > 0);
    if (r.sent) r.sent(index, r.configure ? r.copies : 1);
    return true;
}

}  // namespace

bool PrintDocument(Document& document, const PrintRequest& r, PlotSession* session,
                   PrintReport* report, std::string* error) {
    for (const int index : r.pages) {
        int dpi = 0;
        Sheet sheet;
        if (!Setup(r, index, 1, &dpi, error) || !ReadSheet(&sheet, error) ||
            !document.Plan(index, sheet, dpi, error)) {
            if (r.pages.size() > 1) *error += "; nothing was sent";
            return false;
        }
    }
    for (const int index : r.pages) {
        if (!PrintPage(document, r, index, session, error)) {
            if (session->streams()) *error += SentNote(r, report->sent);
            return false;
        }
        ++report->sent;
    }
    for (std::string& note : document.notes()) report->notes.push_back(std::move(note));
    return true;
}

bool PageList(const std::string& pages, int count, std::vector<int>* indexes, std::string* error) {
    indexes->clear();
    if (pages == "all") {
        for (int i = 0; i < count; ++i) indexes->push_back(i);
        return true;
    }
    char* end = nullptr;
    const long page = std::strtol(pages.c_str(), &end, 10);
    if (pages.empty() || *end != '\0' || page < 1 || page > count) {
        *error = "--page " + pages + ": the document has " + std::to_string(count) +
                 " page(s); give 1.." + std::to_string(count) + " or all";
        return false;
    }
    indexes->push_back(static_cast<int>(page) - 1);
    return true;
}

}  // namespace varnu::host
