// adihost plot on DXF drawings near 10 MB of text (TEXT, ATTRIB and MTEXT
// entities of short words, as parts lists and plans have them) and of a
// hatch whose pattern is gaps alone: the time from start to the last byte
// and the peak memory of the adihost process, each.
//
//   varnu_dxf_bench [scratch directory]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "timed_command.h"

namespace {

// About `bytes` of entities of `kind`, three words each (MTEXT two lines).
void WriteTextDrawing(const std::string& path, const std::string& kind, std::size_t bytes) {
    static const char* const kWords[] = {"Bolt",  "Nut",  "Washer", "M12",  "Steel", "Flange",
                                         "DN50",  "PN16", "Valve",  "Pump", "Motor", "400V",
                                         "Cable", "Tray", "Duct",   "Room", "Door",  "Window"};
    std::string out = "0\nSECTION\n2\nENTITIES\n";
    for (unsigned i = 0; out.size() < bytes; ++i) {
        std::string text;
        for (unsigned w = 0; w < 3; ++w)
            text += std::string(w ? " " : "") + kWords[(i * 7 + w * 5 + i / 18) % 18];
        const std::string at = "10\n" + std::to_string(i % 300 * 40) + "\n20\n" +
                               std::to_string(i / 300 * 6) + "\n40\n2.5\n";
        if (kind == "MTEXT")
            out += "0\nMTEXT\n8\n0\n" + at + "41\n30\n1\n" + text + "\\P" + text + "\n";
        else if (kind == "ATTRIB")
            out += "0\nATTRIB\n8\n0\n" + at + "1\n" + text + "\n2\nTAG\n70\n0\n";
        else
            out += "0\nTEXT\n8\n0\n" + at + "1\n" + text + "\n";
    }
    out += "0\nENDSEC\n0\nEOF\n";
    std::ofstream(path, std::ios::binary) << out;
}

// A 0.9-unit square hatched by one family of gaps 1e-6 apart, beside a line.
void WriteGapHatch(const std::string& path) {
    std::ofstream(path, std::ios::binary)
        << "0\nSECTION\n2\nENTITIES\n0\nHATCH\n8\n0\n10\n0\n20\n0\n2\nP\n70\n0\n71\n0\n91\n1\n"
           "92\n2\n72\n0\n73\n1\n93\n4\n10\n0\n20\n0\n10\n0.9\n20\n0\n10\n0.9\n20\n0.9\n10\n0\n"
           "20\n0.9\n97\n0\n75\n0\n76\n1\n78\n1\n53\n0\n43\n0\n44\n0\n45\n0\n46\n1e-6\n79\n1\n"
           "49\n-1e-6\n98\n0\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n1\n21\n1\n0\nENDSEC\n0\nEOF\n";
}

// Its time and peak resident memory.
int Timed(const std::string& command, double* seconds, long* peakKb) {
    bench_timing::Usage u;
    const int status = bench_timing::Timed(command, &u);
    *seconds = u.seconds, *peakKb = u.peakKb;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path dir =
        argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "varnu-dxf-bench";
    fs::create_directories(dir);
    const std::string adihost =
        std::string(ADIHOST_PATH) + " --config " + (dir / "varnu.cfg").string();
    if (std::system((adihost + " configure --defaults").c_str()) != 0) return 1;
    int failed = 0;
    for (const std::string kind : {"TEXT", "ATTRIB", "MTEXT", "HATCH"}) {
        const std::string dxf = (dir / (kind + ".dxf")).string(), prn = (dir / "out.prn").string();
        if (kind == "HATCH")
            WriteGapHatch(dxf);
        else
            WriteTextDrawing(dxf, kind, 10000000);
        double seconds = 0;
        long peakKb = 0;
        const int status =
            Timed(adihost + " plot " + dxf + " -o " + prn + " --quiet", &seconds, &peakKb);
        std::error_code ec;
        std::printf("%-6s DXF (%ju bytes): %s, %.2f s, peak memory %.0f MB\n", kind.c_str(),
                    static_cast<std::uintmax_t>(fs::file_size(dxf, ec)),
                    status == 0 ? "plotted" : "refused", seconds, peakKb / 1024.0);
        failed += status != 0;
        fs::remove(prn, ec);
        fs::remove(dxf, ec);
    }
    return failed == 0 ? 0 : 1;
}
