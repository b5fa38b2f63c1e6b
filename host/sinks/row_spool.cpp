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

void RowSpool::Start(std::size_t rowBytes, const std::string& directory, std::size_t memoryBudget,
                     std::size_t tileBytes) {
    Release();
    rowBytes_ = std::max<std::size_t>(rowBytes, 1);
    tileBytes_ = tileBytes == 0 ? rowBytes_ : std::min(tileBytes, rowBytes_);
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

// Compresses the block being filled, tile by tile, and keeps it.
bool RowSpool::Seal(std::string* error) {
    const std::size_t tiles = Tiles();
    bool kept = true;
    if (tiles == 1) {
        kept = Compress(filling_.data(), filling_.size(), error);
    } else {
        const std::size_t rows = filling_.size() / rowBytes_;
        for (std::size_t t = 0; t < tiles && kept; ++t) {
            const std::size_t width = TileWidth(t);
            tile_.resize(rows * width);
            for (std::size_t r = 0; r < rows; ++r)
                std::memcpy(&tile_[r * width], &filling_[r * rowBytes_ + t * tileBytes_], width);
            kept = Compress(tile_.data(), tile_.size(), error);
        }
    }
    filling_.clear();
    return kept;
}

bool RowSpool::Compress(const std::uint8_t* bytes, std::size_t size, std::string* error) {
    if (compressor_ == nullptr) compressor_ = ZSTD_createCCtx();
    packed_.resize(ZSTD_compressBound(size));
    const std::size_t packed = compressor_ == nullptr
                                   ? 0
                                   : ZSTD_compressCCtx(Compressor(compressor_), packed_.data(),
                                                       packed_.size(), bytes, size, kLevel);
    if (compressor_ == nullptr || ZSTD_isError(packed)) {
        *error = "cannot compress the page's rows";
        return false;
    }
    return Keep(packed_.data(), packed, error);
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

bool RowSpool::Find(std::int64_t row, std::int64_t* first, std::int64_t* count,
                    std::string* error) const {
    if (row < 0 || row >= rows_ || !filling_.empty()) {
        *error = "row " + std::to_string(row) + " of the page is not held";
        return false;
    }
    *first = row / rowsPerBlock_ * rowsPerBlock_;
    *count = std::min(rowsPerBlock_, rows_ - *first);
    return true;
}

// Stored piece `stored`, `bytes` of it, into `out`.
bool RowSpool::Unpack(std::size_t stored, std::uint8_t* out, std::size_t bytes,
                      std::string* error) {
    const Stored& block = blocks_[stored];
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
    const std::size_t size =
        decompressor_ == nullptr
            ? 0
            : ZSTD_decompressDCtx(Decompressor(decompressor_), out, bytes, packed, block.size);
    if (decompressor_ == nullptr || ZSTD_isError(size) || size != bytes) {
        *error = "the page's rows cannot be read back";
        return false;
    }
    return true;
}

bool RowSpool::Block(std::int64_t row, const std::uint8_t** rows, std::int64_t* first,
                     std::int64_t* count, std::string* error) {
    if (!Find(row, first, count, error)) return false;
    const std::int64_t index = row / rowsPerBlock_;
    const std::size_t tiles = Tiles(), n = static_cast<std::size_t>(*count);
    if (index != heldBlock_ || heldTile_ != tiles) {
        heldBlock_ = -1;
        held_.resize(n * rowBytes_);
        const std::size_t at = static_cast<std::size_t>(index) * tiles;
        if (tiles == 1 && !Unpack(at, held_.data(), held_.size(), error)) return false;
        for (std::size_t t = 0; tiles > 1 && t < tiles; ++t) {
            const std::size_t width = TileWidth(t);
            tile_.resize(n * width);
            if (!Unpack(at + t, tile_.data(), tile_.size(), error)) return false;
            for (std::size_t r = 0; r < n; ++r)
                std::memcpy(&held_[r * rowBytes_ + t * tileBytes_], &tile_[r * width], width);
        }
        heldBlock_ = index;
        heldTile_ = tiles;
    }
    *rows = held_.data();
    return true;
}

bool RowSpool::Tile(std::int64_t row, std::size_t tile, const std::uint8_t** rows,
                    std::int64_t* first, std::int64_t* count, std::string* error) {
    if (!Find(row, first, count, error)) return false;
    if (tile >= Tiles()) {
        *error = "tile " + std::to_string(tile) + " of the page's rows is not held";
        return false;
    }
    const std::int64_t index = row / rowsPerBlock_;
    if (index != heldBlock_ || heldTile_ != tile) {
        heldBlock_ = -1;
        held_.resize(static_cast<std::size_t>(*count) * TileWidth(tile));
        if (!Unpack(static_cast<std::size_t>(index) * Tiles() + tile, held_.data(), held_.size(),
                    error))
            return false;
        heldBlock_ = index;
        heldTile_ = tile;
    }
    *rows = held_.data();
    return true;
}

}  // namespace varnu::host
