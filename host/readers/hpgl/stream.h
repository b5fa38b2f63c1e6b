// The bytes of a plot file read forward, and the pieces of HP-GL syntax:
// mnemonics, numbers, labels and polyline-encoded data.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varnu::host::hpgl {

// Why reading stopped, and at which byte.
struct Refusal {
    std::size_t offset = 0;
    std::string what;
};

class Stream {
  public:
    explicit Stream(std::string_view bytes, std::size_t at = 0) : bytes_(bytes), at_(at) {}

    // The byte `ahead` bytes on, -1 past the end.
    int Peek(std::size_t ahead = 0) const {
        return at_ + ahead < bytes_.size() ? static_cast<unsigned char>(bytes_[at_ + ahead]) : -1;
    }
    int Get() {
        const int c = Peek();
        if (c >= 0) ++at_;
        return c;
    }
    void Skip(std::size_t n) { at_ = n < Left() ? at_ + n : bytes_.size(); }
    bool StartsWith(std::string_view s) const {
        return bytes_.substr(at_).substr(0, s.size()) == s;
    }
    bool AtEnd() const { return at_ >= bytes_.size(); }
    std::size_t Left() const { return bytes_.size() - at_; }
    std::size_t offset() const { return at_; }
    void Seek(std::size_t at) { at_ = at; }
    // The next `n` bytes, refused when the file holds fewer.
    std::string_view Take(std::size_t n, const char* what);

    [[noreturn]] void Fail(const std::string& what, std::size_t at) const;
    [[noreturn]] void Fail(const std::string& what) const { Fail(what, at_); }

  private:
    std::string_view bytes_;
    std::size_t at_;
};

// Between commands: blanks, line ends and semicolons.
void SkipToCommand(Stream& in);
// The next parameter of a command, after its commas and blanks; false at
// the command's end (a semicolon, a letter, an escape, the file's end).
// Values are kept to HP-GL/2's range.
bool NextNumber(Stream& in, double* value);
// The rest of a command's parameters, read and dropped; a semicolon ends it.
void EndCommand(Stream& in);
// A whole number parameter, `fallback` when the command has none left.
int NextInt(Stream& in, int fallback);

}  // namespace varnu::host::hpgl
