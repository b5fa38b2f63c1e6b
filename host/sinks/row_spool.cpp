#include "sinks/row_spool.h"

#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sinks/temporary.h"

namespace varnu::host {

namespace {

// zstd's fastest levels: a raster page is mostly runs of white, which even
// these code to almost nothing, and the rows are coded once and read once.
constexpr int kLevel = 1;

ZSTD_CCtx* Compressor(void* p) {
    return static_cast<ZSTD_CCtx*>(p);
}
ZSTD_DCtx* Decompressor(void* p) {
    return static_cast<ZSTD_DCtx*>(p);
}

}  // namespace

RowSpool::~RowSpool() {
    Release();
    ZSTD_freeCCtx(Compressor(compressor_));
    ZSTD_freeDCtx(Decompressor(decompressor_));
}

void RowSpool::Release() {
    if (file_ >= 0) close(file_);
    file_ = -1;
    fileBytes_ = 0;
    pieces_.clear();
    blocks_.clear();
    memoryBytes_ = 0;
    compressedBytes_ = 0;
    heldBlock_ = -1;
    rows_ = 0;
}

void RowSpool::Start(std::size_t rowBytes, const std::string& directory, std::size_t memoryBudget) {
    Release();
    rowBytes_ = std::max<std::size_t>(rowBytes, 1);
    rowsPerBlock_ = static_cast<std::int64_t>(std::max<std::size_t>(1, kBlockBytes / rowBytes_));
    directory_ = directory;
    budget_ = memoryBudget;
    filling_.clear();
    filling_.reserve(static_cast<std::size_t>(rowsPerBlock_) * rowBytes_);
}

bool RowSpool::Append(const std::uint8_t* row, std::string* error) {
    filling_.insert(filling_.end(), row, row + rowBytes_);
    ++rows_;
    if (rows_ % rowsPerBlock_ == 0) return Seal(error);
    return true;
}

bool RowSpool::Close(std::string* error) {
    return filling_.empty() || Seal(error);
}

// Compresses the block being filled and keeps it.
bool RowSpool::Seal(std::string* error) {
    if (compressor_ == nullptr) compressor_ = ZSTD_createCCtx();
    packed_.resize(ZSTD_compressBound(filling_.size()));
    const std::size_t size =
        compressor_ == nullptr
            ? 0
            : ZSTD_compressCCtx(Compressor(compressor_), packed_.data(), packed_.size(),
                                filling_.data(), filling_.size(), kLevel);
    if (compressor_ == nullptr || ZSTD_isError(size)) {
        *error = "cannot compress the page's rows";
        return false;
    }
    filling_.clear();
    return Keep(packed_.data(), size, error);
}

// In memory within the budget, else appended to the scratch file.
bool RowSpool::Keep(const std::uint8_t* bytes, std::size_t size, std::string* error) {
    Stored block;
    block.size = size;
    compressedBytes_ += size;
    if (file_ < 0 && memoryBytes_ + size <= budget_) {
        block.offset = pieces_.size();
        pieces_.emplace_back(bytes, bytes + size);
        memoryBytes_ += size;
        blocks_.push_back(block);
        return true;
    }
    if (file_ < 0 && (file_ = OpenUnnamedFile(directory_, error)) < 0) return false;
    block.inFile = true;
    block.offset = fileBytes_;
    for (std::size_t done = 0; done < size;) {
        const ssize_t n =
            pwrite(file_, bytes + done, size - done, static_cast<off_t>(fileBytes_ + done));
        if (n <= 0) {
            *error = "cannot write the page's rows to a scratch file in " + directory_ + ": " +
                     std::strerror(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    fileBytes_ += size;
    blocks_.push_back(block);
    return true;
}

bool RowSpool::Block(std::int64_t row, const std::uint8_t** rows, std::int64_t* first,
                     std::int64_t* count, std::string* error) {
    if (row < 0 || row >= rows_ || !filling_.empty()) {
        *error = "row " + std::to_string(row) + " of the page is not held";
        return false;
    }
    const std::int64_t index = row / rowsPerBlock_;
    *first = index * rowsPerBlock_;
    *count = std::min(rowsPerBlock_, rows_ - *first);
    if (index != heldBlock_) {
        const Stored& block = blocks_[static_cast<std::size_t>(index)];
        const std::uint8_t* packed = nullptr;
        if (block.inFile) {
            packed_.resize(block.size);
            if (pread(file_, packed_.data(), block.size, static_cast<off_t>(block.offset)) !=
                static_cast<ssize_t>(block.size)) {
                *error = "cannot read the page's rows back from the scratch file";
                return false;
            }
            packed = packed_.data();
        } else {
            packed = pieces_[block.offset].data();
        }
        if (decompressor_ == nullptr) decompressor_ = ZSTD_createDCtx();
        const std::size_t bytes = static_cast<std::size_t>(*count) * rowBytes_;
        held_.resize(bytes);
        const std::size_t size = decompressor_ == nullptr
                                     ? 0
                                     : ZSTD_decompressDCtx(Decompressor(decompressor_),
                                                           held_.data(), bytes, packed, block.size);
        if (decompressor_ == nullptr || ZSTD_isError(size) || size != bytes) {
            heldBlock_ = -1;
            *error = "the page's rows cannot be read back";
            return false;
        }
        heldBlock_ = index;
    }
    *rows = held_.data();
    return true;
}

}  // namespace varnu::host
