#include "nests.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "driver.h"
#include "model/nesting.h"
#include "pappl_hooks.h"
#include "readers/documents.h"
#include "roll.h"
#include "settings.h"

namespace varnu::printer_app {

namespace {

constexpr double kMm = 1 / 25.4;

// The nests of the application's printers, by printer id: the job whose
// nest waits and whether "Print now" was asked; the jobs printed in a
// nest, by printer and job id, with the job that sent them.
struct NestBook {
    std::mutex mutex;
    std::map<int, int> waiting;
    std::set<int> printNow;
    std::map<std::pair<int, int>, std::pair<int, int>> printedWith;  // first job, pages
};

NestBook& Book() {
    static NestBook book;
    return book;
}

int PrinterId(pappl_job_t* job) {
    return papplPrinterGetID(papplJobGetPrinter(job));
}

// One job's share of a nest: its pages of its document, and their sizes.
struct Share {
    int job = 0;
    std::unique_ptr<JobDocument> joined;  // of a job that joined the nest
    host::Document* document = nullptr;
    std::vector<int> pages;
    std::vector<host::Area> sizes;
};

// How a job's pages lie on the roll: the rules, across the roll inside
// the sheet's margins.
struct Layout {
    host::NestRules rules;
    int marginMm = 0;
};

Layout LayoutOf(pappl_job_t* job, const pappl_pr_options_t& o) {
    Layout l;
    l.marginMm = std::atoi(JobVendorValue(job, o, kSheetMarginAttribute).c_str());
    l.rules.rollWidth = LoadedRollWidth(papplJobGetPrinter(job)) - 2 * l.marginMm * kMm;
    l.rules.gap = std::atoi(JobVendorValue(job, o, kNestingGapAttribute).c_str()) * kMm;
    l.rules.mayTurn = JobVendorValue(job, o, kRollRotationAttribute) != "never";
    l.rules.cutMarks = JobVendorValue(job, o, kCutMarksAttribute) == "corners";
    return l;
}

bool Sizes(Share* share, std::string* error) {
    for (const int index : share->pages) {
        const std::optional<host::Area> size = share->document->PageSize(index);
        if (!size) {
            *error = "pages are nested by their own size, which this document's have not";
            return false;
        }
        share->sizes.push_back(*size);
    }
    return true;
}

bool NestShares(const Layout& l, const std::vector<Share>& shares, host::Nest* nest,
                std::string* error) {
    std::vector<host::Area> sizes;
    for (const Share& s : shares) sizes.insert(sizes.end(), s.sizes.begin(), s.sizes.end());
    return host::NestPages(sizes, l.rules, nest, error);
}

// What jobs whose pages share a driver job have alike: resolution, media,
// colour, finishing, copies and every vendor value; "" for a job that
// cannot join a nest (not on the roll, not nested, pages overridden).
std::string Likeness(pappl_job_t* job, const pappl_pr_options_t& o) {
    if (!OnTheRoll(job) || JobVendorValue(job, o, kNestingAttribute) != "across-roll" ||
        papplJobGetAttribute(job, "overrides") != nullptr)
        return {};
    char text[512];
    std::snprintf(text, sizeof text, "%d %d %s %s %d %u %d", JobResolution(job, o, 1), o.copies,
                  o.media.type, o.media.source, static_cast<int>(o.print_color_mode),
                  static_cast<unsigned>(o.finishings), o.print_darkness);
    std::string likeness = text;
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
    for (int i = 0; i < data.num_vendor; ++i) {
        const std::string name = data.vendor[i];
        if (name != kNestingWaitAttribute && name != kRollLengthAttribute &&
            name != kRollLeftAttribute)  // the printer's, not the job's
            likeness += " " + JobVendorValue(job, o, data.vendor[i]);
    }
    return likeness;
}

// The waiting jobs of the printer whose documents are all there.
std::vector<int> PendingJobs(pappl_printer_t* printer) {
    std::vector<int> ids;
    papplPrinterIterateActiveJobs(
        printer,
        [](pappl_job_t* job, void* data) {
            if (papplJobGetState(job) == IPP_JSTATE_PENDING)
                static_cast<std::vector<int>*>(data)->push_back(papplJobGetID(job));
        },
        &ids, 1, 0);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Whether the job's pages went out in a nest before its turn came.
bool InANest(pappl_job_t* job) {
    NestBook& book = Book();
    const std::lock_guard<std::mutex> lock(book.mutex);
    return book.printedWith.count({PrinterId(job), papplJobGetID(job)}) != 0;
}

bool IsDocumentFormat(const char* format) {
    for (const char* known : kDocumentFormats)
        if (format != nullptr && std::strcmp(format, known) == 0) return true;
    return false;
}

// Whether job `id` still waits, and not as part of an earlier nest.
bool StillPending(pappl_printer_t* printer, int id) {
    pappl_job_t* job = papplPrinterFindJob(printer, id);
    return job != nullptr && papplJobGetState(job) == IPP_JSTATE_PENDING && !InANest(job);
}

// Whether each of the share's pages can be planned at its own size.
bool Plans(const Share& share, const host::Sheet& sheet, int dpi, std::string* why) {
    for (std::size_t i = 0; i < share.pages.size(); ++i) {
        const host::Sheet own{share.sizes[i].width, share.sizes[i].height, sheet.resolution};
        if (!share.document->Plan(share.pages[i], own, dpi, why)) return false;
    }
    return true;
}

// The job `id` (StillPending) joins the nest where it prints like the nest's first job,
// the nest stays within the longest sheet the roll allows, and each of its
// pages can be planned at its own size; else it is left to print on its
// own, and `why` says why.
bool Join(pappl_printer_t* printer, int id, const std::string& likeness, const Layout& layout,
          const host::Sheet& sheet, int dpi, std::vector<Share>* shares, std::string* why) {
    pappl_job_t* job = papplPrinterFindJob(printer, id);
    if (!IsDocumentFormat(papplJobGetFormat(job))) {
        *why = "not a document of pages";
        return false;
    }
    Share share;
    share.job = id;
    share.joined = std::make_unique<JobDocument>();
    if (!OpenJobDocument(job, share.joined.get(), why)) return false;
    if (Likeness(job, *share.joined->options) != likeness) {
        *why = "it prints otherwise (resolution, media, finishing, copies or nesting)";
        return false;
    }
    share.document = share.joined->document.get();
    share.pages = share.joined->pages;
    if (!Sizes(&share, why)) return false;
    shares->push_back(std::move(share));
    host::Nest nest;
    if (!NestShares(layout, *shares, &nest, why) ||
        nest.length + 2 * layout.marginMm * kMm > LongestRollMm() * kMm) {
        if (why->empty()) *why = "the nest would be longer than the roll allows";
        shares->pop_back();
        return false;
    }
    if (!Plans(shares->back(), sheet, dpi, why)) {
        shares->pop_back();
        return false;
    }
    return true;
}

bool PrintNowAsked(int printer) {
    NestBook& book = Book();
    const std::lock_guard<std::mutex> lock(book.mutex);
    return book.printNow.count(printer) != 0;
}

void SetWaiting(pappl_job_t* job, bool waiting) {
    NestBook& book = Book();
    const std::lock_guard<std::mutex> lock(book.mutex);
    book.printNow.erase(PrinterId(job));
    if (waiting)
        book.waiting[PrinterId(job)] = papplJobGetID(job);
    else
        book.waiting.erase(PrinterId(job));
}

// Jobs that print alike, queued or arriving while the nest waits, until
// `wait` seconds after the last that joined, join it. One that prints
// otherwise keeps its turn: where it arrived meanwhile the nest goes out
// so as not to hold it up, as does a job of another printer, which waits
// for the one job slot. "Print now", a stop or a cancel release it too.
void Gather(DeviceJob& out, const pappl_pr_options_t& options, const Layout& layout,
            const host::Sheet& sheet, int wait, std::vector<Share>* shares) {
    constexpr std::size_t kMostJobs = 64;
    pappl_job_t* job = out.job();
    pappl_printer_t* printer = papplJobGetPrinter(job);
    const std::string likeness = Likeness(job, options);
    const int dpi = JobResolution(job, options, 1);
    const std::vector<int> queued = PendingJobs(printer);
    std::set<int> seen{papplJobGetID(job)};
    // The jobs page says that the nest waits. (Not the job's message: PAPPL
    // 1.3.1 copies that for Get-Job-Attributes without the job's lock,
    // while a new message frees the old one.)
    SetWaiting(job, true);
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Waiting %d s for further jobs to nest on the roll.",
                wait);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(wait);
    bool released = false;
    while (!released && !out.canceled() && std::chrono::steady_clock::now() < until &&
           !PrintNowAsked(PrinterId(job)) && !Stopping(papplPrinterGetSystem(printer)) &&
           !SlotWanted()) {
        for (const int id : PendingJobs(printer)) {
            // Jobs of an earlier nest wait for their turn to end.
            if (!seen.insert(id).second || !StillPending(printer, id)) continue;
            std::string why = "the nest holds " + std::to_string(kMostJobs) + " jobs";
            if (shares->size() < kMostJobs &&
                Join(printer, id, likeness, layout, sheet, dpi, shares, &why)) {
                until = std::chrono::steady_clock::now() + std::chrono::seconds(wait);
                papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Job %d joins the nest.", id);
                continue;
            }
            released = std::find(queued.begin(), queued.end(), id) == queued.end();
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Job %d does not join the nest: %s.%s", id,
                        why.c_str(), released ? " The nest goes out." : "");
            if (released) break;
        }
        if (!released) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    SetWaiting(job, false);
}

// Jobs cancelled while the nest waited are left out.
void LeaveOutCancelled(pappl_printer_t* printer, std::vector<Share>* shares) {
    shares->erase(std::remove_if(shares->begin() + 1, shares->end(),
                                 [&](const Share& s) {
                                     pappl_job_t* job = papplPrinterFindJob(printer, s.job);
                                     return job == nullptr ||
                                            papplJobGetState(job) != IPP_JSTATE_PENDING;
                                 }),
                  shares->end());
}

// The jobs that joined a printed nest end as printed with its first.
void Settle(pappl_job_t* first, const std::vector<Share>& shares) {
    NestBook& book = Book();
    const std::lock_guard<std::mutex> lock(book.mutex);
    // This printer's jobs that ended before their turn came (cancelled)
    // are forgotten; a held one keeps its claim for when it is released,
    // and other printers' jobs are theirs to settle.
    pappl_printer_t* printer = papplJobGetPrinter(first);
    for (auto it = book.printedWith.begin(); it != book.printedWith.end();) {
        if (it->first.first != PrinterId(first)) {
            ++it;
            continue;
        }
        pappl_job_t* job = papplPrinterFindJob(printer, it->first.second);
        if (job == nullptr || papplJobGetState(job) >= IPP_JSTATE_CANCELED)
            it = book.printedWith.erase(it);
        else
            ++it;
    }
    for (std::size_t i = 1; i < shares.size(); ++i)
        book.printedWith[{PrinterId(first), shares[i].job}] = {
            papplJobGetID(first), static_cast<int>(shares[i].pages.size())};
}

// The sheet the job's own pages take nested, as the driver reports it.
bool FirstSheet(DeviceJob& out, const pappl_pr_options_t& options, const Layout& layout,
                const host::Nest& nest, host::Sheet* sheet, std::string* error) {
    pappl_job_t* job = out.job();
    pappl_pr_options_t own = options;
    return RollSheet(papplJobGetPrinter(job), host::NestArea(nest), false, layout.marginMm,
                     &own.media, error) &&
           out.Sheet(own, JobResolution(job, own, 1), sheet, error);
}

}  // namespace

bool PrintPages(DeviceJob& out, const pappl_pr_options_t& options, host::Document& document,
                const std::vector<int>& pages, std::string* error) {
    pappl_job_t* job = out.job();
    if (JobVendorValue(job, options, kNestingAttribute) != "across-roll" || !OnTheRoll(job))
        return out.Print(document, options, pages, 1, 0, error) && out.Finish(error);
    const Layout layout = LayoutOf(job, options);
    std::vector<Share> shares(1);
    shares[0].job = papplJobGetID(job);
    shares[0].document = &document;
    shares[0].pages = pages;
    host::Nest nest;
    if (!Sizes(&shares[0], error) || !NestShares(layout, shares, &nest, error)) return false;
    // The printer's setting: a job of its own would hold the others up.
    const int wait = VendorDefault(papplJobGetPrinter(job), kNestingWaitAttribute);
    if (wait > 0) {
        host::Sheet sheet;
        // A job that cannot print is not held for others first.
        if (!FirstSheet(out, options, layout, nest, &sheet, error) ||
            !Plans(shares[0], sheet, JobResolution(job, options, 1), error))
            return false;
        Gather(out, options, layout, sheet, wait, &shares);
        LeaveOutCancelled(papplJobGetPrinter(job), &shares);
        if (!NestShares(layout, shares, &nest, error)) return false;
    }
    std::vector<host::NestedPage> placed;
    for (const Share& s : shares)
        for (const int index : s.pages) placed.push_back({s.document, index});
    host::NestedPages nested(std::move(placed), std::move(nest), layout.rules);
    out.KeepPagesAsTheyLie();
    if (!out.Print(nested, options, {0}, 1, 0, error) || !out.Finish(error)) return false;
    Settle(job, shares);
    return true;
}

bool PrintedInNest(pappl_job_t* job) {
    std::pair<int, int> with;
    {
        NestBook& book = Book();
        const std::lock_guard<std::mutex> lock(book.mutex);
        const auto found = book.printedWith.find({PrinterId(job), papplJobGetID(job)});
        if (found == book.printedWith.end()) return false;
        with = found->second;
        book.printedWith.erase(found);
    }
    papplJobSetImpressions(job, with.second);
    papplJobSetImpressionsCompleted(job, with.second);
    papplJobSetMessage(job, "Printed on the roll with job %d.", with.first);
    return true;
}

void ReleaseNest(pappl_printer_t* printer) {
    NestBook& book = Book();
    const std::lock_guard<std::mutex> lock(book.mutex);
    if (book.waiting.count(papplPrinterGetID(printer)) != 0)
        book.printNow.insert(papplPrinterGetID(printer));
}

int WaitingNest(pappl_printer_t* printer) {
    NestBook& book = Book();
    const std::lock_guard<std::mutex> lock(book.mutex);
    const auto found = book.waiting.find(papplPrinterGetID(printer));
    return found != book.waiting.end() ? found->second : 0;
}

}  // namespace varnu::printer_app
