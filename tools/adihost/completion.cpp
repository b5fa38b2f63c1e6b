// adihost_completion TEMPLATE OUTPUT: writes adihost's bash completion from
// its template, with the names of the setup dialog's paper list (the
// driver's paper table, without the blanks around them), one a line, in
// place of @PAPERS@. Run at build time.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "varnu/printer_tables.h"

namespace {

std::string Trimmed(const char* name, std::size_t size) {
    std::size_t begin = 0, end = strnlen(name, size);
    while (begin < end && name[begin] == ' ') ++begin;
    while (end > begin && name[end - 1] == ' ') --end;
    return std::string(name + begin, end - begin);
}

// The names as lines, each once; false for a name the completion's
// single-quoted, ASCII list cannot hold.
bool PaperNames(std::string* lines) {
    for (std::int32_t model = 0; model < varnu::kModelCount; ++model)
        for (std::int32_t row = 1; row <= varnu::PaperRowCount(model); ++row) {
            const varnu::PaperFormatRecord* paper = varnu::PaperFormat(model, row);
            const std::string name = Trimmed(paper->name, sizeof paper->name);
            for (const char c : name)
                if (static_cast<unsigned char>(c) >= 0x80 || c == '\'' || c < ' ') {
                    std::fprintf(stderr, "adihost_completion: paper \"%s\" cannot be listed\n",
                                 name.c_str());
                    return false;
                }
            if (("\n" + *lines).find("\n" + name + "\n") == std::string::npos)
                *lines += name + "\n";
        }
    if (!lines->empty()) lines->pop_back();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: adihost_completion TEMPLATE OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string marker = "@PAPERS@";
    std::string text;
    if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) {
        std::fprintf(stderr, "adihost_completion: %s: no template with %s\n", argv[1],
                     marker.c_str());
        return 1;
    }
    std::string names;
    if (!PaperNames(&names)) return 1;
    text.replace(at, marker.size(), names);
    std::ofstream out(argv[2], std::ios::binary);
    out << text;
    out.close();
    return out ? 0 : 1;
}
