// The rows of a page kept until they are read back in another order (a
// CUPS raster arrives top down, the driver takes it from the bottom up, or
// column by column): compressed in blocks of rows, each block in tiles of
// columns when asked, in memory while they fit a budget, then in an
// unnamed scratch file, so that the scratch space is at most the page's
// compressed size and nothing of it stays in the folder.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varnu::host {

class RowSpool {
  public:
    // Compressed rows held in memory before the rest goes to scratch.
    static constexpr std::size_t kMemoryBudget = std::size_t{64} << 20;
    // Rows of a block: about this many bytes, read back at once.
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

    RowSpool() = default;
    ~RowSpool();
    RowSpool(const RowSpool&) = delete;
    RowSpool& operator=(const RowSpool&) = delete;

    // A new page of rows of `rowBytes`, kept in tiles of `tileBytes` of
    // each row (0: whole rows); scratch files go to `directory`.
    void Start(std::size_t rowBytes, const std::string& directory,
               std::size_t memoryBudget = kMemoryBudget, std::size_t tileBytes = 0);
    // The next row: rowBytes() bytes are copied.
    bool Append(const std::uint8_t* row, std::string* error);
    // After the last row.
    bool Close(std::string* error);

    std::size_t rowBytes() const { return rowBytes_; }
    std::size_t tileBytes() const { return tileBytes_; }
    std::int64_t rows() const { return rows_; }
    std::int64_t rowsPerBlock() const { return rowsPerBlock_; }
    // Whether a scratch file holds some of the rows.
    bool spilled() const { return file_ >= 0; }
    std::uint64_t compressedBytes() const { return compressedBytes_; }

    // The block of rows that holds `row`: `*first` its first row, `*count`
    // its rows, `*rows` their bytes, valid until the next call.
    bool Block(std::int64_t row, const std::uint8_t** rows, std::int64_t* first,
               std::int64_t* count, std::string* error);
    // The same for tile `tile` of the block alone: rows of its bytes
    // (tileBytes(), the last tile of a row what is left), one after another.
    bool Tile(std::int64_t row, std::size_t tile, const std::uint8_t** rows, std::int64_t* first,
              std::int64_t* count, std::string* error);

  private:
    struct Stored {
        std::uint64_t offset = 0;  // in the file, or the index of its memory piece
        std::size_t size = 0;
        bool inFile = false;
    };
    bool Seal(std::string* error);
    bool Compress(const std::uint8_t* bytes, std::size_t size, std::string* error);
    bool Keep(const std::uint8_t* bytes, std::size_t size, std::string* error);
    bool Unpack(std::size_t stored, std::uint8_t* out, std::size_t bytes, std::string* error);
    bool Find(std::int64_t row, std::int64_t* first, std::int64_t* count, std::string* error) const;
    std::size_t Tiles() const { return (rowBytes_ + tileBytes_ - 1) / tileBytes_; }
    std::size_t TileWidth(std::size_t tile) const {
        return std::min(tileBytes_, rowBytes_ - tile * tileBytes_);
    }
    void Release();

    std::size_t rowBytes_ = 0;
    std::size_t tileBytes_ = 0;
    std::int64_t rowsPerBlock_ = 1;
    std::int64_t rows_ = 0;
    std::string directory_;
    std::size_t budget_ = kMemoryBudget;
    std::vector<std::uint8_t> filling_;  // the rows of the block being filled
    std::vector<std::uint8_t> packed_;   // a compressed block
    std::vector<std::vector<std::uint8_t>> pieces_;
    std::vector<Stored> blocks_;
    std::size_t memoryBytes_ = 0;
    std::uint64_t compressedBytes_ = 0;
    int file_ = -1;
    std::uint64_t fileBytes_ = 0;
    std::int64_t heldBlock_ = -1;
    std::size_t heldTile_ = 0;        // with heldBlock_; Tiles(): the whole rows
    std::vector<std::uint8_t> held_;  // the block or tile read back
    std::vector<std::uint8_t> tile_;  // one tile, between the rows and its coding
    void* compressor_ = nullptr;
    void* decompressor_ = nullptr;
};

}  // namespace varnu::host
