// The one way a document is printed, whatever door it came through: every
// page planned on its sheet before any is sent, then each page drawn and
// sent as a driver job of its own (as several where it asks for more
// copies than one driver job makes).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/document.h"
#include "session/plot_session.h"

namespace varnu::host {

struct PrintRequest {
    std::vector<int> pages;  // indexes from 0, in the order they are sent
    int firstPage = 1;       // the page number of index 0, in messages
    std::string label;       // typed into the driver's dialog of each job
    int copies = 1;          // with `configure`: the job's; else the stored record's
    bool progress = false;
    // Sets the driver up for page `index` and `copies` copies (at most the
    // driver's 99), saying the page's resolution in `dpi`; without it the
    // stored configuration prints every page.
    std::function<bool(int index, int copies, int* dpi, std::string* error)> configure;
    // True once the job is cancelled: pictures stop drawing.
    std::function<bool()> stopped;
    // Told as a page begins to be sent, and of each page sent, with its
    // copies.
    std::function<void(int index)> starting;
    std::function<void(int index, int copies)> sent;
};

struct PrintReport {
    int sent = 0;                    // pages
    std::vector<std::string> notes;  // what the pages left out or cut
};

// False with `error` saying which page failed and why, and, where the
// output streams, which pages went out before it.
bool PrintDocument(Document& document, const PrintRequest& request, PlotSession* session,
                   PrintReport* report, std::string* error);

// "all" or a page number from 1 (adihost's --page): the indexes.
bool PageList(const std::string& pages, int count, std::vector<int>* indexes, std::string* error);

}  // namespace varnu::host
