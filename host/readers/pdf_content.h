// A PDF content stream as the page's drawing work is counted from it:
// decoded once, stream by stream, kept only while it stays within what a
// page may hold, then read an operator at a time with its operands by
// qpdf's tokenizer, without making an object of each operand.
#pragma once

// qpdf 11 without its old PointerHolder.
#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif
#include <cstddef>
#include <functional>
#include <qpdf/QPDFObjectHandle.hh>
#include <string>
#include <vector>

namespace varnu::host {

// An operand as far as the counting looks at it: a number, a name ("/F1",
// as qpdf spells names) or anything else (a string, an array, ...).
struct ContentOperand {
    enum class Kind { Number, Name, Other };
    Kind kind = Kind::Other;
    double number = 0;
    std::string name;
};

// The decoded content of `owner` (a page's streams joined as qpdf joins
// them, or one stream) into `data`, and its size in `bytes`, counted to
// its end. Past `keep` bytes nothing more is kept: false then, `data`
// incomplete. Throws where qpdf cannot decode a stream.
bool DecodeContent(QPDFObjectHandle owner, double keep, std::string* data, double* bytes);

inline constexpr std::size_t kMostContentOperands = 1 << 16;

// `op` with its operands; for EI, the bytes of the inline image (its
// dictionary is the operands of ID). False stops the reading.
using TakeOperator = std::function<bool(
    const std::string& op, const std::vector<ContentOperand>& operands, std::size_t inlineBytes)>;

// Each operator of `data` in turn, as qpdf reads a content stream. False
// when `take` stopped it, or with `error` set when an operator has more
// than kMostContentOperands operands or an inline image no end.
bool ReadOperators(const std::string& data, const TakeOperator& take, std::string* error);

}  // namespace varnu::host
