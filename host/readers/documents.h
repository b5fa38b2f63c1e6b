// The formats a document comes in, from every door: each its MIME type,
// the file suffixes that name it, how its first bytes look, and the reader
// that opens it as a document of pages.
#pragma once

#include <memory>
#include <string>

#include "model/document.h"

namespace varnu::host {

struct DocumentFormat {
    const char* mime;
    const char* suffixes;  // ".pdf" or ".tif .tiff", any case
    bool (*looksLike)(const std::string& head);
    std::unique_ptr<Document> (*open)(const std::string& path, const DocumentOptions& options,
                                      std::string* error);
};

// Every format, in the order their first bytes are tried; the job script
// last (it looks like any text).
const std::vector<DocumentFormat>& DocumentFormats();

// The format of `path`: the MIME type given (CUPS' CONTENT_TYPE, IPP's
// document-format), else what its first bytes are, else its suffix; none
// (with `error`) when it is none of them.
const DocumentFormat* FormatOf(const std::string& path, const std::string& mime,
                               std::string* error);

// The document in `path`, read by its format's reader.
std::unique_ptr<Document> OpenDocument(const std::string& path, const std::string& mime,
                                       const DocumentOptions& options, std::string* error);

}  // namespace varnu::host
