// Plot sessions with the driver in this process: the output of a job that
// fails or is abandoned never stays, the driver's stream for images served
// from memory and from bands, configuring through the dialogs, and the
// signal cleanup.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <fstream>
#include <vector>

#include "model/send.h"
#include "readers/dxf.h"
#include "readers/images.h"
#include "readers/script.h"
#include "session/configure.h"
#include "session/driver.h"
#include "session/plot_session.h"
#include "session/rgb24_lines.h"
#include "sinks/output_file.h"
#include "sinks/signals.h"
#include "sinks/temporary.h"
#include "support.h"
#include "varnu/packet_layouts.h"

namespace varnu::host::testing {
namespace {

class Session : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        InstallDriver();
        UseConfigMemory(Record());
        Reset();
    }
    // A job of an earlier test may have ended in an abort, which the
    // driver keeps until the next reset.
    static void Reset() {
        Packet reset(49);
        reset.Set<std::int16_t>(layout::reset::kHostKind, 1)
            .Set<std::uint8_t>(layout::reset::kHostRelease, 2);
        SendPlot(reset);
    }
    // `script` as one job into `output`.
    bool PlotScript(const std::string& script, const std::string& output, std::string* error,
                    const std::string& label = "") {
        Plot plot;
        Write("job.adi", script);
        if (!ReadScript(Path("job.adi"), &plot, error)) return false;
        return PlotOneJob(
            {output, Path("job.adi"), {}}, label,
            [&](const Sheet&, std::string* e) { return Send(plot, false, e); }, error);
    }
};

TEST_F(Session, AJobsStreamAndLabel) {
    std::string error;
    ASSERT_TRUE(
        PlotScript("move 100 200\ndraw 150 200\npen 3\nwidth 0.35mm\n"
                   "polygon 3 0,0 100,0 100,100\n",
                   Path("job.prn"), &error, "Plan 7"))
        << error;
    const std::string bytes = Read(Path("job.prn"));
    EXPECT_NE(bytes.find("BP1,\"Plan 7\",2,1;IN;"), std::string::npos);
    EXPECT_NE(bytes.find("PE7<GeOkCb_;SP7PW0.350SP3PE7<LhPk;PM0PE7Ge__GeHeHe;PM2FP;"),
              std::string::npos);
    EXPECT_EQ(bytes.substr(bytes.size() - 21), ";PUSP0;PG;\x1b%-12345X\r\n");
    // A label the dialog refuses: no job, no file.
    EXPECT_FALSE(PlotScript("draw 10 10\n", Path("umlaut.prn"), &error,
                            "Gr\xc3\xb6\xc3\x9f"
                            "e"));
    EXPECT_EQ(error.rfind("label refused: ", 0), 0u) << error;
    EXPECT_FALSE(fs::exists(Path("umlaut.prn")));
    // A quote in the label stays inside the label's string.
    ASSERT_TRUE(PlotScript("draw 10 10\n", Path("quote.prn"), &error, "a\";PG;IN;BP1,\"b"));
    EXPECT_NE(Read(Path("quote.prn")).find("BP1,\"a\"\";PG;IN;BP1,\"\"b\",2,1;IN;"),
              std::string::npos);
}

TEST_F(Session, WhatFailsLeavesNoFile) {
    std::string error;
    // Refused by the driver (in VCGL with long coordinates, an area of
    // more than 16,383 points), aborted, drawn nothing: nothing stays.
    UseConfigMemory(Record(true, 400));
    std::string area = "polygon 3";
    for (int i = 0; i < 16384; ++i) area += " " + std::to_string(i) + "," + std::to_string(i % 7);
    EXPECT_FALSE(PlotScript("draw 10 10\n" + area + "\n", Path("a.prn"), &error));
    EXPECT_EQ(error, Path("job.adi") + ":2: the driver refused this request");
    UseConfigMemory(Record());
    EXPECT_FALSE(PlotScript("draw 10 10\nabort\n", Path("a.prn"), &error));
    EXPECT_EQ(error, Path("job.adi") + ":2: the job was aborted");
    Reset();
    PlotSession session;
    ASSERT_TRUE(session.Open({Path("a.prn"), {}, {}}, &error));
    EXPECT_FALSE(session.Finish(&error));
    EXPECT_EQ(error, "the driver wrote nothing");
    // A drawing that fails after sending some of its requests.
    EXPECT_FALSE(PlotOneJob(
        {Path("a.prn"), {}, {}}, "",
        [](const Sheet&, std::string* e) {
            Plot plot;
            plot.Draw(10, 10);
            Send(plot, false, e);
            *e = "no more";
            return false;
        },
        &error));
    EXPECT_EQ(error, "no more");
    // A session that ends unfinished.
    {
        PlotSession open;
        ASSERT_TRUE(open.Open({Path("a.prn"), {}, {}}, &error));
        ASSERT_TRUE(open.Job(
            "",
            [](const Sheet&, std::string* e) {
                Plot plot;
                plot.Draw(10, 10);
                return Send(plot, false, e);
            },
            &error));
        EXPECT_TRUE(AnyNameContains(".part"));
    }
    EXPECT_FALSE(fs::exists(Path("a.prn")));
    EXPECT_FALSE(AnyNameContains(".part"));
    // The input and a directory are no outputs; a full device fails when finished.
    EXPECT_FALSE(PlotScript("draw 10 10\n", Path("job.adi"), &error));
    EXPECT_NE(error.find("is the input file"), std::string::npos);
    EXPECT_FALSE(PlotScript("draw 10 10\n", dir_.string(), &error));
    EXPECT_NE(error.find("is a directory"), std::string::npos);
    EXPECT_FALSE(PlotScript("draw 10 10\n", "/dev/full", &error));
    EXPECT_EQ(error, "writing /dev/full failed");
    EXPECT_EQ(Read(Path("job.adi")), "draw 10 10\n");
}

// Standard output once complete: nothing there when the job fails, and no
// name in the spool's folder at any time.
TEST_F(Session, SpooledStandardOutput) {
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int out = open(Path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    fs::create_directories(Path("spool"));
    std::string error;
    const StreamTarget spool{"-", {}, Path("spool")};
    const bool failed = PlotOneJob(
        spool, "",
        [&](const Sheet&, std::string* e) {
            *e = "cancelled";
            return fs::is_empty(Path("spool"));
        },
        &error);
    bool emptyMeanwhile = false;
    const bool done = PlotOneJob(
        spool, "",
        [&](const Sheet&, std::string* e) {
            Plot plot;
            plot.Draw(10, 10);
            emptyMeanwhile = fs::is_empty(Path("spool"));
            return Send(plot, false, e);
        },
        &error);
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(out);
    EXPECT_FALSE(failed);
    ASSERT_TRUE(done) << error;
    EXPECT_TRUE(emptyMeanwhile);
    const std::string bytes = Read(Path("stdout"));
    EXPECT_EQ(bytes.substr(0, 14), "\x1b%-12345X@PJL\r");
    EXPECT_EQ(bytes.find("\x1b%-12345X@PJL\r", 1), std::string::npos) << "the failed job's bytes";
    EXPECT_TRUE(fs::is_empty(Path("spool")));
}

// Job by job, each job reaches standard output when it closes, whole; a
// job that fails or writes nothing is dropped, those before it stay sent.
TEST_F(Session, JobByJobSendsEachJobWhenItCloses) {
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int out = open(Path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    fs::create_directories(Path("spool"));
    auto draw = [](const Sheet&, std::string* e) {
        Plot plot;
        plot.Draw(10, 10);
        return Send(plot, false, e);
    };
    PlotSession session;
    std::string error, failedError, emptyError;
    ASSERT_TRUE(session.Open({"-", {}, Path("spool"), true}, &error)) << error;
    const bool first = session.Job("", draw, &error);
    const std::uintmax_t afterFirst = fs::file_size(Path("stdout"));
    const bool failed = session.Job(
        "",
        [&](const Sheet& sheet, std::string* e) {
            draw(sheet, e);
            *e = "cancelled";
            return false;
        },
        &failedError);
    const bool empty = session.Job(
        "", [](const Sheet&, std::string*) { return true; }, &emptyError);
    const std::uintmax_t beforeLast = fs::file_size(Path("stdout"));
    const bool last = session.Job("", draw, &error);
    const bool finished = session.Finish(&error);
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(out);
    ASSERT_TRUE(first && last && finished) << error;
    EXPECT_FALSE(failed);
    EXPECT_EQ(failedError, "cancelled");
    EXPECT_FALSE(empty);
    EXPECT_EQ(emptyError, "the driver wrote nothing");
    const std::string bytes = Read(Path("stdout"));
    EXPECT_GT(afterFirst, 0u);  // sent before the next job began
    EXPECT_EQ(beforeLast, afterFirst);
    ASSERT_EQ(bytes.size(), 2 * afterFirst);
    EXPECT_EQ(bytes.substr(0, afterFirst), bytes.substr(afterFirst));
    EXPECT_TRUE(fs::is_empty(Path("spool")));
}

// A program's own writer (the printer application's device): each job that
// went well is flushed on when it closes, one that failed is not, and a
// flush that fails fails the job and what follows.
TEST_F(Session, AWritersJobsAreFlushedWhenTheyClose) {
    std::string written;
    std::vector<std::size_t> flushedAt;
    bool flushWorks = true;
    auto draw = [](const Sheet&, std::string* e) {
        Plot plot;
        plot.Draw(10, 10);
        return Send(plot, false, e);
    };
    PlotSession session;
    session.Open({[&](const void* bytes, std::size_t count) {
                      written.append(static_cast<const char*>(bytes), count);
                      return true;
                  },
                  [&] {
                      flushedAt.push_back(written.size());
                      return flushWorks;
                  }});
    EXPECT_TRUE(session.streams());
    std::string error;
    ASSERT_TRUE(session.Job("", draw, &error)) << error;
    const std::size_t one = written.size();
    EXPECT_FALSE(session.Job(
        "",
        [&](const Sheet& sheet, std::string* e) {
            draw(sheet, e);
            *e = "cancelled";
            return false;
        },
        &error));
    EXPECT_EQ(error, "cancelled");
    Reset();
    ASSERT_TRUE(session.Job("", draw, &error)) << error;
    EXPECT_EQ(flushedAt, (std::vector<std::size_t>{one, written.size()}));
    flushWorks = false;
    EXPECT_FALSE(session.Job("", draw, &error));
    EXPECT_EQ(error, "writing the printer stream failed");
    EXPECT_FALSE(session.Finish(&error));
    EXPECT_EQ(error, "writing the printer stream failed");
    Reset();
}

// The one row server: an image served from memory and the same pixels
// drawn in bands make the same stream, as do a PNG and TIFF of them.
TEST_F(Session, PicturesInMemoryAndInBandsMakeTheSameStream) {
    Image image;
    image.width = 300, image.height = 200;
    for (int i = 0; i < 300 * 200 * 3; ++i)
        image.pixels.push_back(static_cast<std::uint8_t>((i * 37) ^ (i / 900)));
    const Placement at{1000, 2000, 1000 + 3 * 508, 2000 + 2 * 508, false, 7};
    for (const bool vcgl : {false, true}) {
        Plot memory("memory");
        memory.DrawImage(memory.AddImage(image), at);
        Plot banded("banded");
        Picture picture;
        picture.width = image.width, picture.height = image.height;
        picture.render = [&image](std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                                  std::uint32_t* pixels, std::string*) {
            for (std::int32_t r = 0; r < h; ++r)
                for (std::int32_t c = 0; c < w; ++c) {
                    const std::uint8_t* p =
                        &image.pixels[(static_cast<std::size_t>(y + r) * image.width + x + c) * 3];
                    pixels[r * w + c] = std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
                }
            return true;
        };
        banded.DrawPicture(picture, at);
        std::string error;
        const std::string a = StreamOf(memory, Record(vcgl, 400), &error);
        ASSERT_FALSE(a.empty()) << error;
        EXPECT_TRUE(a == StreamOf(banded, Record(vcgl, 400), &error)) << (vcgl ? "VCGL" : "RTL");
        // A band that cannot be drawn fails the job, naming the picture.
        banded = Plot("banded");
        picture.label = "page 3";
        picture.render = [](std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::uint32_t*,
                            std::string* e) {
            *e = "rendering failed";
            return false;
        };
        banded.DrawPicture(picture, at);
        EXPECT_TRUE(StreamOf(banded, Record(vcgl, 400), &error).empty());
        EXPECT_EQ(error, "page 3: rendering failed");
    }
}

// A rendered line as the driver takes it, each way the processor may
// run: R, G, B of each word from the last, and not a byte past the line.
TEST_F(Session, Rgb24LinesReadBackwardsTheSameEveryWay) {
    std::vector<std::uint32_t> words(1000);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<std::uint32_t>(i * 2654435761u) & 0xFFFFFF;
    for (const Rgb24Way way : {Rgb24Way::Words, Rgb24Way::Ssse3, Rgb24Way::Avx2}) {
        for (const std::int64_t pixels : {0, 1, 2, 3, 5, 6, 9, 10, 11, 17, 33, 100, 999}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(way)) + ": " + std::to_string(pixels));
            std::vector<std::uint8_t> out(3 * static_cast<std::size_t>(pixels) + 32, 0xAB);
            const std::uint8_t* last = reinterpret_cast<const std::uint8_t*>(
                words.data() + std::max<std::int64_t>(pixels, 1) - 1);
            if (!PutRgb24Reversed(way, last, pixels, out.data())) break;  // not on this processor
            for (std::int64_t p = 0; p < pixels; ++p) {
                const std::uint32_t w = words[static_cast<std::size_t>(pixels - 1 - p)];
                ASSERT_EQ(out[3 * p], w >> 16 & 0xFF) << p;
                ASSERT_EQ(out[3 * p + 1], w >> 8 & 0xFF) << p;
                ASSERT_EQ(out[3 * p + 2], w & 0xFF) << p;
            }
            for (std::size_t i = 3 * static_cast<std::size_t>(pixels); i < out.size(); ++i)
                ASSERT_EQ(out[i], 0xAB) << i;
        }
    }
}

// Each image and long polygon gives back its low memory: twelve images of
// 64 MiB of lines each fit the 512 MiB the driver can address.
TEST_F(Session, LowMemoryComesBackAfterEachImageAndPolygon) {
    Plot plot("many");
    Image image;
    image.width = 64, image.height = 32;
    image.pixels.assign(64 * 32 * 3, 100);
    const std::size_t index = plot.AddImage(image);
    std::vector<Vertex> vertices;
    for (int i = 0; i < 2000; ++i)
        vertices.emplace_back(static_cast<std::uint16_t>(1000 + i), i % 2 ? 1000 : 3000);
    for (int i = 0; i < 12; ++i) {
        plot.DrawImage(index, {100 * i, 0, 100 * i + 64, 32, false, 7});
        plot.Polygon(3, vertices);
    }
    std::string error;
    const std::string bytes = StreamOf(plot, Record(), &error);
    ASSERT_FALSE(bytes.empty()) << error;
    std::size_t images = 0;
    for (std::size_t at = bytes.find("\x1b*b8M"); at != std::string::npos;
         at = bytes.find("\x1b*b8M", at + 1))
        ++images;
    EXPECT_GE(images, 12u);
}

// A request the driver refuses names the line of the DXF file its entity
// starts on: in VCGL on the default sheet (long coordinates) an area of more
// than 16,383 points is refused.
TEST_F(Session, DriverErrorsNameTheDxfLine) {
    std::string loop = "92\n2\n72\n0\n73\n1\n93\n20000\n";
    for (int i = 0; i < 20000; ++i) {
        const double a = i * 2 * M_PI / 20000;
        loop += "10\n" + std::to_string(100 + 50 * std::cos(a)) + "\n20\n" +
                std::to_string(100 + 50 * std::sin(a)) + "\n";
    }
    const std::string head = "0\nSECTION\n2\nENTITIES\n" + DxfLine("0", 0, 0, 10, 10);
    Plot plot;
    DxfReport report;
    std::string error;
    ASSERT_TRUE(ReadDxfText(head +
                                "0\nHATCH\n8\n0\n10\n0\n20\n0\n30\n0\n2\nSOLID\n70\n1\n71\n0\n"
                                "91\n1\n" +
                                loop + "97\n0\n75\n0\n76\n1\n98\n0\n0\nENDSEC\n0\nEOF\n",
                            "big.dxf", kSheet, {}, &plot, &report, &error))
        << error;
    const int line = static_cast<int>(std::count(head.begin(), head.end(), '\n')) + 1;
    EXPECT_TRUE(StreamOf(plot, Record(true, 400), &error).empty());
    EXPECT_EQ(error, "big.dxf:" + std::to_string(line) + ": the driver refused this request");
}

TEST_F(Session, ConfigureRefusesWhatTheDialogsRefuseAndStoresNothing) {
    UseConfigMemory();
    std::vector<std::string> messages;
    ConfigureOptions defaults;
    defaults.defaults = true;
    defaults.margin = 4;
    ASSERT_TRUE(Configure(defaults, &messages));
    const ConfigRecord before = StoredConfig();
    EXPECT_EQ(before.marginMm, 4);
    const auto refused = [&](ConfigureOptions o, const std::string& why) {
        messages.clear();
        EXPECT_FALSE(Configure(o, &messages)) << why;
        std::string all;
        for (const std::string& m : messages) all += m + "\n";
        EXPECT_NE(all.find(why), std::string::npos) << all;
        EXPECT_EQ(all.substr(all.size() - 15), "nothing stored\n") << all;
        EXPECT_EQ(StoredConfig().marginMm, 4);
        EXPECT_EQ(StoredConfig().copies, before.copies);
    };
    ConfigureOptions o;
    o.copies = 0;
    refused(o, "Anzahl an Kopien: Legen Sie die Zahl der Kopien im Bereich von 1 bis 99 fest.");
    o.copies = 150;
    refused(o, "the setup dialog did not take --copies 150");
    o = {};
    o.media = 4;
    refused(o, "--media 4 is not a row of the list (0..3)");
    o = {};
    o.paper = "Q9";
    refused(o, "no paper format \"Q9\"");
    o = {};
    o.curve = std::array<int, 5>{1, 2, 3, 4, 5};
    refused(o, "the image-correction dialog set the curve to");
    // The curve is set by dragging the dialog's handles (and its shift bar
    // for the values between two pixel rows).
    for (const std::array<int, 5> values :
         {std::array<int, 5>{0, 64, 128, 192, 255}, {3, 67, 129, 191, 250}, {1, 9, 17, 25, 33}}) {
        o = {};
        o.curve = values;
        ASSERT_TRUE(Configure(o, &messages));
        EXPECT_TRUE(std::equal(values.begin(), values.end(), StoredConfig().curvePoints));
    }
    o = {};
    o.paper = " a1 ";
    ASSERT_TRUE(Configure(o, &messages));
    EXPECT_NE(DriverSummary().find("Format: A1"), std::string::npos);
}

// The one signal cleanup: a child that dies of a signal leaves none of the
// files noted, nor an output's temporary, and dies of that signal.
TEST_F(Session, SignalsRemoveWhatWasNoted) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        const pid_t child = fork();
        if (child == 0) {
            InstallSignalCleanup();
            std::ofstream(Path("noted")) << "x";
            RemoveOnSignal(Path("noted"));
            std::ofstream(Path("kept")) << "x";
            RemoveOnSignal(Path("kept"));
            KeepOnSignal(Path("kept"));
            OutputFile file;
            std::string error;
            if (!file.Open(Path("out.prn"), {}, &error)) _exit(3);
            std::string why;
            if (OpenUnnamedFile(dir_.string(), &why) < 0) _exit(4);
            raise(signal);
            _exit(5);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << signal << " " << status;
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_FALSE(fs::exists(Path("noted"))) << signal;
        EXPECT_TRUE(fs::exists(Path("kept"))) << signal;
        EXPECT_FALSE(AnyNameContains(".part")) << signal;
        EXPECT_FALSE(AnyNameContains(".varnu")) << signal;
        fs::remove(Path("kept"));
    }
}

}  // namespace
}  // namespace varnu::host::testing
