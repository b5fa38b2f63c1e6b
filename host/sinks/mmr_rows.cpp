#include "sinks/mmr_rows.h"

#include <array>
#include <vector>

#include "varnu/t4_codes.h"

namespace varnu::host {

namespace {

constexpr int kPeekBits = 13;  // the longest code

// What the next 13 bits start with: a run (or mode) and its code's length;
// length 0 where no code starts so.
struct Entry {
    std::int16_t value;
    std::uint8_t length;
};
using Table = std::array<Entry, 1 << kPeekBits>;

void Add(Table* table, const char* pattern, int value) {
    int code = 0, length = 0;
    for (; pattern[length] != '\0'; ++length) code = code << 1 | (pattern[length] == '1');
    const int shift = kPeekBits - length;
    for (int low = 0; low < 1 << shift; ++low)
        (*table)[static_cast<std::size_t>(code << shift | low)] = {
            static_cast<std::int16_t>(value), static_cast<std::uint8_t>(length)};
}

Table RunTable(const char* const (&patterns)[91]) {
    Table table{};
    for (int i = 0; i < 91; ++i) Add(&table, patterns[i], i < 64 ? i : (i - 63) * 64);
    for (int i = 0; i < 13; ++i) Add(&table, t4::kExtendedMakeUp[i], 1792 + 64 * i);
    return table;
}

enum Mode { kPass = 7, kHorizontal = 8, kEndOfLine = 9 };  // 0..6: vertical, a1 - b1 + 3

Table ModeTable() {
    Table table{};
    for (int i = 0; i < 7; ++i) Add(&table, t4::kVerticalPatterns[i], i);
    Add(&table, t4::kPassPattern, kPass);
    Add(&table, t4::kHorizontalPattern, kHorizontal);
    Add(&table, t4::kEndOfLinePattern, kEndOfLine);
    return table;
}

class Bits {
  public:
    Bits(const std::uint8_t* data, std::size_t bytes) : data_(data), bits_(8 * bytes) {}
    // The next 13 bits, zeros past the end.
    unsigned Peek() const {
        unsigned v = 0;
        for (std::size_t i = at_ / 8; i < at_ / 8 + 3; ++i)
            v = v << 8 | (i < bits_ / 8 ? data_[i] : 0u);
        return (v >> (24 - kPeekBits - at_ % 8)) & ((1u << kPeekBits) - 1);
    }
    // Reads one code of `table`; false where none starts here or it runs past the end.
    bool Read(const Table& table, int* value) {
        const Entry e = table[Peek()];
        if (e.length == 0 || at_ + e.length > bits_) return false;
        at_ += e.length;
        *value = e.value;
        return true;
    }
    // Nothing but zero bits left.
    bool Spent() const {
        if (Peek() != 0) return false;
        for (std::size_t i = at_; i < bits_; ++i)
            if ((data_[i / 8] >> (7 - i % 8)) & 1) return false;
        return true;
    }

  private:
    const std::uint8_t* data_;
    std::size_t bits_, at_ = 0;
};

// A run of one colour: make-up codes, then a terminating code.
bool Run(Bits& bits, const Table& table, long* run) {
    *run = 0;
    for (int part = 64; part >= 64;) {
        if (!bits.Read(table, &part)) return false;
        *run += part;
    }
    return true;
}

// One row coded against `ref` (its changing elements, then `width` thrice)
// into `row` (the same form); false where the codes do not make one.
bool Row(Bits& bits, const std::vector<long>& ref, long width, std::vector<long>* row) {
    static const Table modes = ModeTable(), white = RunTable(t4::kWhitePatterns),
                       black = RunTable(t4::kBlackPatterns);
    row->clear();
    long a0 = -1;
    bool isWhite = true;
    std::size_t j = 0;
    while (a0 < width) {
        // b1: the first change above a0 to the other colour than a0's.
        while (ref[j] <= a0 || (j % 2 == 1) == isWhite) ++j;
        const long b1 = ref[j], b2 = ref[j + 1];
        int mode;
        if (!bits.Read(modes, &mode) || mode == kEndOfLine) return false;
        if (mode == kPass) {
            a0 = b2;
        } else if (mode == kHorizontal) {
            long first, second;
            if (!Run(bits, isWhite ? white : black, &first) ||
                !Run(bits, isWhite ? black : white, &second))
                return false;
            const long a1 = (a0 < 0 ? 0 : a0) + first, a2 = a1 + second;
            if (a2 > width) return false;
            row->push_back(a1);
            row->push_back(a2);
            a0 = a2;
        } else {
            const long a1 = b1 + mode - 3;
            if (a1 < (a0 < 0 ? 0 : a0) || a1 > width) return false;
            row->push_back(a1);
            a0 = a1;
            isWhite = !isWhite;
            if (j > 0) --j;  // the change before b1 may be the next b1 now
        }
    }
    while (!row->empty() && row->back() >= width) row->pop_back();
    row->insert(row->end(), 3, width);
    return true;
}

}  // namespace

long CountMmrRows(const std::uint8_t* coded, std::size_t bytes, long width, long limit) {
    static const Table modes = ModeTable();
    if (width <= 0) return -1;
    Bits bits(coded, bytes);
    std::vector<long> ref(3, width), row;
    long rows = 0;
    for (; rows < limit; ++rows) {
        int mode;
        if (bits.Spent()) break;
        if (Bits(bits).Read(modes, &mode) && mode == kEndOfLine) break;
        if (!Row(bits, ref, width, &row)) return -1;
        ref.swap(row);
    }
    return rows;
}

}  // namespace varnu::host
