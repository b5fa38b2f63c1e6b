#include "readers/pdf_content.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <qpdf/Buffer.hh>
#include <qpdf/BufferInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDFTokenizer.hh>
#include <stdexcept>

namespace varnu::host {

namespace {

// Keeps what passes up to `keep` bytes and counts all of it.
class Keep : public Pipeline {
  public:
    Keep(std::string* data, double keep) : Pipeline("content", nullptr), data_(data), keep_(keep) {}
    void write(unsigned char const* bytes, size_t count) override {
        if (data_->size() + static_cast<double>(count) <= keep_)
            data_->append(reinterpret_cast<const char*>(bytes), count);
        else
            whole_ = false;
        total_ += static_cast<double>(count);
    }
    void finish() override {}  // called after each stream
    double total() const { return total_; }
    bool whole() const { return whole_; }
    char last() const { return data_->empty() ? '\n' : data_->back(); }

  private:
    std::string* data_;
    double keep_;
    double total_ = 0;
    bool whole_ = true;
};

using Token = QPDFTokenizer::Token;

ContentOperand OperandOf(const Token& token) {
    ContentOperand operand;
    switch (token.getType()) {
        case QPDFTokenizer::tt_integer:
        case QPDFTokenizer::tt_real:
            operand.kind = ContentOperand::Kind::Number;
            operand.number = std::strtod(token.getValue().c_str(), nullptr);
            break;
        case QPDFTokenizer::tt_name:
            operand.kind = ContentOperand::Kind::Name;
            operand.name = token.getValue();
            break;
        default:  // strings, booleans, null, and what qpdf reads as null
            break;
    }
    return operand;
}

// The inline image after ID, as qpdf reads it: the character that ended
// ID, then all up to EI, which is read next as an operator.
bool InlineImage(const std::shared_ptr<InputSource>& input, QPDFTokenizer& tokenizer,
                 std::size_t* bytes, std::string* error) {
    char ch;
    input->read(&ch, 1);
    tokenizer.expectInlineImage(input);
    const Token image = tokenizer.readToken(input, "content", true);
    if (image.getType() == QPDFTokenizer::tt_bad) {
        *error = "its content cannot be read: an inline image has no end";
        return false;
    }
    *bytes = image.getValue().size();
    return true;
}

}  // namespace

bool DecodeContent(QPDFObjectHandle owner, double keep, std::string* data, double* bytes) {
    data->clear();
    Keep kept(data, keep);
    // Stream by stream, a newline between two where the first lacks one,
    // as qpdf joins a page's streams: never the whole of them held at once.
    const std::vector<QPDFObjectHandle> streams =
        owner.isStream() ? std::vector<QPDFObjectHandle>{owner} : owner.getPageContents();
    bool first = true;
    for (QPDFObjectHandle stream : streams) {
        if (!stream.isStream()) continue;
        if (!first && kept.last() != '\n')
            kept.write(reinterpret_cast<const unsigned char*>("\n"), 1);
        first = false;
        if (!stream.pipeStreamData(&kept, 0, qpdf_dl_specialized))
            throw std::runtime_error("errors while decoding content stream");
    }
    *bytes = kept.total();
    return kept.whole();
}

bool ReadOperators(const std::string& data, const TakeOperator& take, std::string* error) {
    Buffer buffer(reinterpret_cast<unsigned char*>(const_cast<char*>(data.data())), data.size());
    const auto input = std::make_shared<BufferInputSource>("content", &buffer);
    QPDFTokenizer tokenizer;
    tokenizer.allowEOF();
    std::vector<ContentOperand> operands;
    std::size_t inlineBytes = 0;
    int depth = 0;  // inside arrays and dictionaries: one operand in all
    for (;;) {
        const Token token = tokenizer.readToken(input, "content", true);
        const QPDFTokenizer::token_type_e type = token.getType();
        if (type == QPDFTokenizer::tt_eof) return true;
        if (type == QPDFTokenizer::tt_array_open || type == QPDFTokenizer::tt_dict_open) {
            ++depth;
            continue;
        }
        if ((type == QPDFTokenizer::tt_array_close || type == QPDFTokenizer::tt_dict_close) &&
            depth > 0) {
            if (--depth == 0) operands.emplace_back();
            continue;
        }
        if (depth > 0) continue;
        if (type != QPDFTokenizer::tt_word) {
            operands.push_back(OperandOf(token));
            if (operands.size() > kMostContentOperands) {
                *error = "an operator has more than " + std::to_string(kMostContentOperands) +
                         " operands";
                return false;
            }
            continue;
        }
        if (!take(token.getValue(), operands, inlineBytes)) return false;
        operands.clear();
        inlineBytes = 0;
        if (token.getValue() == "ID") {
            if (!InlineImage(input, tokenizer, &inlineBytes, error)) return false;
            operands.emplace_back();  // the image, an operand of EI
        }
    }
}

}  // namespace varnu::host
