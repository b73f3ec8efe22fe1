// marl_bench: how fast marllib reads Marl text into a queryable tree, how much memory that
// takes, and how long freeing and printing the tree take, next to established readers of XML
// (pugixml, tinyxml2, libxml2, expat) and JSON (RapidJSON, simdjson) given the same tree.
//
// Every figure is the median of repeated runs in a fresh child process; every reader's tree is
// walked once and compared with the generated one before its times count. See bench/run.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "forms.h"
#include "lookups.h"
#include "measure.h"
#include "readers.h"
#include "tool_runs.h"

namespace {

using bench::Expected;
using bench::Forms;
using bench::Outcome;
using bench::Settings;

struct Options {
    bool smoke = false;        // tiny inputs, one or few runs: checks that everything works
    bool printing = true;
    std::vector<std::string> shapes{"config", "flat", "big", "deep", "deep-indented"};
    std::vector<std::string> scaling{"config", "depth", "lookups"};
    std::string marl;  // the marl tool, for its table; none: no table
    Settings settings;
};

struct Row {
    std::string reader;
    const char* form;
    size_t inputBytes;
    Outcome outcome;
    bool isMarllib;
};

bool failures = false;  // a marllib row failed: the run exits non-zero

// ---- formatting ----

std::string Grouped(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

double Mb(size_t bytes) { return static_cast<double>(bytes) / 1e6; }

std::string Ratio(double mine, double theirs) {
    if (!(mine > 0) || !(theirs > 0)) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", mine / theirs);
    return text;
}

std::string PeakMultiple(const Outcome& o, size_t inputBytes) {
    if (o.peakBytes < 0) return "?";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", o.peakBytes / static_cast<double>(inputBytes));
    return text;
}

// The peak as a multiple of the input's size.
double PeakPerInput(const Outcome& o, size_t inputBytes) {
    return o.peakBytes < 0 ? -1 : o.peakBytes / static_cast<double>(inputBytes);
}

std::string Runs(const Outcome& o) {
    return std::to_string(o.runs) + "/" + std::to_string(o.firstRuns);
}

// The input's megabytes over the median time of a row's timed runs.
double MbPerSecond(const Row& row) {
    return static_cast<double>(row.inputBytes) / (row.outcome.loadNs / 1e9) / 1e6;
}

// Prints a failed row's line (a failed marllib row fails the run) and says whether it did.
bool PrintedFailure(const Row& row) {
    if (row.outcome.ok) return false;
    std::printf("  %-26s %-4s %8.2f  FAILED: %s\n", row.reader.c_str(), row.form,
                Mb(row.inputBytes), row.outcome.note);
    if (row.isMarllib) failures = true;
    return true;
}

void PrintRows(const std::vector<Row>& rows, uint64_t tags) {
    const Row* pugi = nullptr;
    for (const Row& row : rows) {
        if (row.reader.rfind("pugixml", 0) == 0 && row.outcome.ok) pugi = &row;
    }
    const double count = static_cast<double>(tags);
    std::printf("  %-26s %-4s %8s %5s %8s %7s %7s %8s %7s %7s | %6s %6s %6s %6s %6s %6s\n",
                "reader", "form", "input MB", "runs", "load ms", "MB/s", "ns/tag", "first ms",
                "free ms", "peak/in", "MB/s", "ns/tag", "first", "free", "peak/in", "peak B");
    for (const Row& row : rows) {
        const Outcome& o = row.outcome;
        if (PrintedFailure(row)) continue;
        std::string ratios[6];
        if (row.isMarllib) {
            for (std::string& r : ratios) r = "-";
            if (pugi) {
                const Outcome& p = pugi->outcome;
                ratios[0] = Ratio(MbPerSecond(row), MbPerSecond(*pugi));
                ratios[1] = Ratio(o.loadNs, p.loadNs);
                ratios[2] = Ratio(o.firstNs, p.firstNs);
                ratios[3] = Ratio(o.freeNs, p.freeNs);
                ratios[4] = Ratio(PeakPerInput(o, row.inputBytes),
                                  PeakPerInput(p, pugi->inputBytes));
                ratios[5] = Ratio(o.peakBytes, p.peakBytes);
            }
        }
        std::printf("  %-26s %-4s %8.2f %5s %8.2f %7.1f %7.1f %8.2f %7.2f %7s | %6s %6s %6s %6s "
                    "%6s %6s\n",
                    row.reader.c_str(), row.form, Mb(row.inputBytes), Runs(o).c_str(),
                    o.loadNs / 1e6, MbPerSecond(row), o.loadNs / count, o.firstNs / 1e6,
                    o.freeNs / 1e6, PeakMultiple(o, row.inputBytes).c_str(), ratios[0].c_str(),
                    ratios[1].c_str(), ratios[2].c_str(), ratios[3].c_str(), ratios[4].c_str(),
                    ratios[5].c_str());
    }
}

void PrintPrintRows(const std::vector<Row>& rows, uint64_t tags) {
    const Row* pugi = nullptr;
    for (const Row& row : rows) {
        if (!row.isMarllib && row.outcome.ok) pugi = &row;
    }
    std::printf("  %-26s %-4s %8s %5s %8s %7s %7s | %6s %6s\n", "printer", "form", "text MB",
                "runs", "print ms", "MB/s", "ns/tag", "MB/s", "ns/tag");
    for (const Row& row : rows) {
        const Outcome& o = row.outcome;
        if (PrintedFailure(row)) continue;
        std::string ratios[2];
        if (row.isMarllib) {
            ratios[0] = pugi ? Ratio(MbPerSecond(row), MbPerSecond(*pugi)) : "-";
            ratios[1] = pugi ? Ratio(o.loadNs, pugi->outcome.loadNs) : "-";
        }
        std::printf("  %-26s %-4s %8.2f %5d %8.2f %7.1f %7.1f | %6s %6s\n", row.reader.c_str(),
                    row.form, Mb(row.inputBytes), o.runs, o.loadNs / 1e6, MbPerSecond(row),
                    o.loadNs / static_cast<double>(tags), ratios[0].c_str(), ratios[1].c_str());
    }
}

// ---- running ----

// Writes text to a new temporary file and returns its path ("" on failure).
std::string WriteTempFile(const std::string& text) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/marl_bench_XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return "";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    if (done != text.size()) {
        unlink(path.c_str());
        return "";
    }
    return path;
}

Row Read(const std::string& reader, const char* form, size_t inputBytes, bool isMarllib,
         const std::function<bench::Reader*()>& make, const Settings& settings) {
    return {reader, form, inputBytes, bench::MeasureReader(make, settings), isMarllib};
}

struct ShapeResult {
    std::string name;
    Outcome marllib, pugixml, marllibFree, marllibPrint, pugixmlPrint;
};

// How a shape's tree is printed: the Marl text that marllib's printer must write (the shape's
// own, or an indented form of the same tree where the shape's text is not indented) and the
// indentation that pugixml's save writes per level. Where pugixml's indentation would not stop
// growing (the deep tree), marlLines adds a row in which pugixml writes marllib's lines, held
// as whitespace text in its tree: the same text, and the row that marllib is set against.
struct PrintForm {
    const std::string* marl;
    const char* pugixmlIndent;
    bool marlLines = false;
};

void RunShape(const std::string& title, const Forms& forms, const PrintForm& printed,
              const Options& options, std::vector<ShapeResult>& summary) {
    const Expected& e = forms.expected;
    std::printf("\n%s\n  %s tags (%s containers, %s leaves), %s value bytes; Marl %.2f MB, XML "
                "%.2f MB, JSON %.2f MB\n\n",
                title.c_str(), Grouped(e.tags).c_str(), Grouped(e.containers).c_str(),
                Grouped(e.tags - e.containers).c_str(), Grouped(e.valueBytes).c_str(),
                Mb(forms.marl.size()), Mb(forms.xml.size()), Mb(forms.json.size()));

    const Settings& s = options.settings;
    const std::string path = WriteTempFile(forms.marl);
    // marllib from memory and pugixml, whose figures are set against each other, are
    // measured in turns.
    const std::vector<Outcome> compared = bench::MeasureReadersInTurns(
        {[&] { return bench::NewMarllibMemory(forms.marl, e); },
         [&] { return bench::NewPugixml(forms.xml, e); }},
        s);
    std::vector<Row> rows;
    rows.push_back({"marllib_Load (memory)", "Marl", forms.marl.size(), compared[0], true});
    if (path.empty()) {
        Row failed{"marllib_Load (file)", "Marl", forms.marl.size(), Outcome(), true};
        std::snprintf(failed.outcome.note, sizeof failed.outcome.note,
                      "cannot write a temporary file");
        rows.push_back(failed);
    } else {
        rows.push_back(Read("marllib_Load (file)", "Marl", forms.marl.size(), true,
                            [&] { return bench::NewMarllibFile(path, e); }, s));
        unlink(path.c_str());
    }
    rows.push_back({"pugixml load_buffer", "XML", forms.xml.size(), compared[1], false});
    rows.push_back(Read("tinyxml2 Parse", "XML", forms.xml.size(), false,
                        [&] { return bench::NewTinyxml2(forms.xml, e); }, s));
    rows.push_back(Read("libxml2 xmlReadMemory", "XML", forms.xml.size(), false,
                        [&] { return bench::NewLibxml2(forms.xml, e); }, s));
    rows.push_back(Read("expat (SAX, counts only)", "XML", forms.xml.size(), false,
                        [&] { return bench::NewExpat(forms.xml, e); }, s));
    rows.push_back(Read("RapidJSON Document::Parse", "JSON", forms.json.size(), false,
                        [&] { return bench::NewRapidjson(forms.json, e); }, s));
    rows.push_back(Read("simdjson dom::parser parse", "JSON", forms.json.size(), false,
                        [&] { return bench::NewSimdjson(forms.json, e); }, s));
    // The floor under every loader of the Marl text: finding each '<', and copying the text.
    rows.push_back(Read("floor: memchr every '<'", "Marl", forms.marl.size(), false,
                        [&] { return bench::NewMemchrFloor(forms.marl, e); }, s));
    rows.push_back(Read("floor: memcpy of the text", "Marl", forms.marl.size(), false,
                        [&] { return bench::NewMemcpyFloor(forms.marl); }, s));
    PrintRows(rows, e.tags);

    ShapeResult result;
    result.name = title.substr(0, title.find(':'));
    result.marllib = rows[0].outcome;
    result.pugixml = rows[2].outcome;

    if (options.printing) {
        std::vector<Row> prints;
        // Room for the printed text with slack: pugixml indents one level more than the input.
        const std::string& marl = *printed.marl;
        const size_t marlRoom = marl.size() + (1u << 20);
        const size_t xmlRoom = forms.xml.size() + 3 * e.tags + (1u << 20);
        prints.push_back({"marllib Document::Print", "Marl", marl.size(),
                          bench::MeasurePrinter([&] { return bench::NewMarllibPrinter(marl); },
                                                marlRoom, s),
                          true});
        prints.push_back({"pugixml save (FILE*)", "XML", forms.xml.size(),
                          bench::MeasurePrinter(
                              [&] {
                                  return bench::NewPugixmlPrinter(forms.xml, e,
                                                                  printed.pugixmlIndent);
                              },
                              xmlRoom, s),
                          false});
        if (printed.marlLines) {
            prints.push_back({"pugixml save, same lines", "XML", forms.xml.size(),
                              bench::MeasurePrinter(
                                  [&] { return bench::NewPugixmlPrinter(forms.xml, e, nullptr); },
                                  marlRoom + 8 * e.tags, s),
                              false});
        }
        // Each printer's row counts the bytes it wrote.
        for (Row& row : prints) {
            if (row.outcome.ok) row.inputBytes = static_cast<size_t>(row.outcome.printedBytes);
        }
        std::printf("\n");
        PrintPrintRows(prints, e.tags);
        result.marllibPrint = prints[0].outcome;
        result.pugixmlPrint = prints.back().outcome;
    }
    summary.push_back(result);
}

// marl::Source::load against marl::Document::load of the same file: what keeping the text
// adds to a load's time, and what the first position asked for adds (the reader's pass that
// keeps every tag's offset, what an edit needs and the text's problems), with the peak that a
// Source reaches then against the text, the document and 8 bytes a tag. Below them, the pieces,
// each alone: the file read into a std::string, marllib_Load from memory (treeAlone, the config
// table's row) and the reader's pass over the text in memory. Two bounds for the peak: the
// document as Document::load's own peak, which holds the file's bytes while it reads them, and
// as the tree alone, the peak of marllib_Load from memory over text that is already resident.
void RunSource(const Forms& forms, const Outcome& treeAlone, const Options& options) {
    const Expected& e = forms.expected;
    const size_t textBytes = forms.marl.size();
    std::printf("\nconfig: marl::Source::load against marl::Document::load of the same file "
                "(Marl %.2f MB, %s tags)\n\n",
                Mb(textBytes), Grouped(e.tags).c_str());
    const Settings& s = options.settings;
    const std::string path = WriteTempFile(forms.marl);
    std::vector<Row> rows;
    if (path.empty()) {
        for (const char* reader :
             {"marl::Document::load", "marl::Source::load", "  Source::load + where"}) {
            Row failed{reader, "Marl", textBytes, Outcome(), true};
            std::snprintf(failed.outcome.note, sizeof failed.outcome.note,
                          "cannot write a temporary file");
            rows.push_back(failed);
        }
    } else {
        // Set against each other, the two are measured in turns. The config text starts with
        // its first tag, at line 1, column 1.
        const std::vector<Outcome> both = bench::MeasureReadersInTurns(
            {[&] { return bench::NewDocumentLoad(path, e); },
             [&] { return bench::NewSourceLoad(path, e, true, false); },
             [&] { return bench::NewSourceLoad(path, e, true, true); }},
            s);
        rows.push_back({"marl::Document::load", "Marl", textBytes, both[0], true});
        rows.push_back({"marl::Source::load", "Marl", textBytes, both[1], true});
        rows.push_back({"  Source::load + where", "Marl", textBytes, both[2], true});
        rows.push_back(Read("  file into std::string", "Marl", textBytes, true,
                            [&] { return bench::NewTextRead(path, forms.marl); }, s));
        unlink(path.c_str());
    }
    if (treeAlone.ok) {
        rows.push_back({"  marllib_Load (memory)", "Marl", textBytes, treeAlone, true});
    }
    rows.push_back(Read("  reader pass (memory)", "Marl", textBytes, true,
                        [&] { return bench::NewSurvey(forms.marl, e); }, s));

    const Outcome& document = rows[0].outcome;
    const Outcome& source = rows[2].outcome;  // with all that a Source keeps
    const double count = static_cast<double>(e.tags);
    std::printf("  %-26s %-4s %8s %5s %8s %7s %8s %8s | %6s %6s %6s\n", "reader", "form",
                "input MB", "runs", "load ms", "ns/tag", "first ms", "peak MB", "load", "first",
                "peak");
    for (const Row& row : rows) {
        if (PrintedFailure(row)) continue;
        const Outcome& o = row.outcome;
        const bool versus = &row != &rows[0] && document.ok;
        char peak[32] = "?";
        if (o.peakBytes >= 0) std::snprintf(peak, sizeof peak, "%.2f", o.peakBytes / 1e6);
        std::printf("  %-26s %-4s %8.2f %5s %8.2f %7.1f %8.2f %8s | %6s %6s %6s\n",
                    row.reader.c_str(), row.form, Mb(row.inputBytes), Runs(o).c_str(),
                    o.loadNs / 1e6, o.loadNs / count, o.firstNs / 1e6, peak,
                    versus ? Ratio(o.loadNs, document.loadNs).c_str() : "-",
                    versus ? Ratio(o.firstNs, document.firstNs).c_str() : "-",
                    versus ? Ratio(o.peakBytes, document.peakBytes).c_str() : "-");
    }
    if (!document.ok || !source.ok) return;

    std::printf("\n  Source::load's peak above text + document + 8 B/tag (text: the file's size; "
                "below 0: within)\n");
    std::printf("  %-36s %7s %7s %8s %8s %8s %8s %7s\n", "document", "text MB", "doc MB",
                "8B/t MB", "bound MB", "peak MB", "above MB", "B/tag");
    const auto bound = [&](const char* what, const Outcome& doc) {
        if (!doc.ok || doc.peakBytes < 0 || source.peakBytes < 0) {
            std::printf("  %-36s %7.2f %7s %8s %8s %8s %8s %7s\n", what, Mb(textBytes), "?", "-",
                        "-", "-", "-", "-");
            return;
        }
        const double limit = static_cast<double>(textBytes) + doc.peakBytes + 8 * count;
        const double above = source.peakBytes - limit;
        std::printf("  %-36s %7.2f %7.2f %8.2f %8.2f %8.2f %8.2f %7.1f\n", what, Mb(textBytes),
                    doc.peakBytes / 1e6, 8 * count / 1e6, limit / 1e6, source.peakBytes / 1e6,
                    above / 1e6, above / count);
    };
    bound("Document::load's peak", document);
    bound("marllib_Load (memory)'s peak: tree", treeAlone);
}

// The marl tool on the config file, run as a user runs it, each run a process of its own:
// marl get of one leaf against marl print of the whole file (both to /dev/null), and
// marl set -i of that leaf (a new value each run, so that every run writes), with peak memory
// against the file's size; marl json of the file, and marl from-json of that JSON. The
// medians of alternating runs.
void RunTool(const Forms& forms, const Options& options) {
    const std::string path = WriteTempFile(forms.marl);
    // The JSON comes from the tool, in a process of its own: a peak is a process's whole
    // life, and a child's starts with what its parent held when it was forked.
    std::string json = WriteTempFile("");
    if (!bench::RunCommand({options.marl, "json", path}, json).ok) {
        unlink(json.c_str());
        json.clear();
    }
    const std::string leaf = bench::FirstLeafPath(forms.marl);
    std::printf("\nconfig: the marl tool on the file (Marl %.2f MB), each run in a process of its "
                "own\n\n", Mb(forms.marl.size()));
    if (path.empty() || json.empty() || leaf.empty()) {
        unlink(path.c_str());
        unlink(json.c_str());
        std::printf("  FAILED: %s\n", path.empty() ? "cannot write a temporary file"
                                     : json.empty() ? "marl json cannot write the file's JSON"
                                                    : "the text holds no leaf");
        failures = true;
        return;
    }
    struct Command {
        const char* what;
        std::vector<std::string> argv;
        std::vector<double> cpu, peak;
        bool ok = true;
    };
    std::vector<Command> commands = {
        {"marl print FILE", {options.marl, "print", path}, {}, {}},
        {"marl get FILE LEAF", {options.marl, "get", path, leaf}, {}, {}},
        {"marl set -i FILE LEAF V", {options.marl, "set", "-i", path, leaf, ""}, {}, {}},
        {"marl json FILE", {options.marl, "json", path}, {}, {}},
        {"marl from-json JSON", {options.marl, "from-json", json}, {}, {}},
    };
    const int runs = options.smoke ? 1 : 11;
    for (int run = 0; run < runs; ++run) {
        for (Command& c : commands) {
            if (c.argv[1] == "set") c.argv.back() = std::to_string(run);
            const bench::CommandRun done = bench::RunCommand(c.argv);
            c.ok = c.ok && done.ok;
            c.cpu.push_back(done.cpuNs);
            c.peak.push_back(done.peakBytes);
        }
    }
    unlink(path.c_str());
    unlink(json.c_str());
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double print = median(commands[0].cpu);
    std::printf("  %-26s %5s %8s %8s %8s | %8s\n", "command", "runs", "ms", "peak MB", "peak/in",
                "vs print");
    for (const Command& c : commands) {
        if (!c.ok) {
            std::printf("  %-26s FAILED: it did not exit with status 0\n", c.what);
            failures = true;
            continue;
        }
        const double cpu = median(c.cpu), peak = median(c.peak);
        std::printf("  %-26s %5d %8.1f %8.2f %8.2f | %8s\n", c.what, runs, cpu / 1e6, peak / 1e6,
                    peak / static_cast<double>(forms.marl.size()), Ratio(cpu, print).c_str());
    }
}

void RunScaling(const std::vector<uint64_t>& sizes, const Options& options) {
    std::printf("\nscaling: the config shape at growing sizes, marllib_Load from memory against "
                "pugixml load_buffer\n\n");
    std::printf("  %12s %8s | %23s | %23s | %24s\n", "", "", "load ns/tag",
                "first load ns/tag", "peak/in");
    std::printf("  %12s %8s | %7s %7s %7s | %7s %7s %7s | %7s %7s %8s\n", "tags", "Marl MB",
                "marllib", "pugixml", "ratio", "marllib", "pugixml", "ratio", "marllib",
                "pugixml", "bytes");
    for (const uint64_t size : sizes) {
        const Forms forms = bench::MakeConfig(size, 1);
        const Expected& e = forms.expected;
        const std::vector<Outcome> both = bench::MeasureReadersInTurns(
            {[&] { return bench::NewMarllibMemory(forms.marl, e); },
             [&] { return bench::NewPugixml(forms.xml, e); }},
            options.settings);
        const Outcome& mine = both[0];
        const Outcome& theirs = both[1];
        std::printf("  %12s %8.2f |", Grouped(e.tags).c_str(), Mb(forms.marl.size()));
        if (!mine.ok || !theirs.ok) {
            std::printf(" FAILED: marllib: %s; pugixml: %s\n", mine.ok ? "ok" : mine.note,
                        theirs.ok ? "ok" : theirs.note);
            if (!mine.ok) failures = true;
            continue;
        }
        const double tags = static_cast<double>(e.tags);
        std::printf(" %7.1f %7.1f %7s | %7.1f %7.1f %7s | %7s %7s %8s\n", mine.loadNs / tags,
                    theirs.loadNs / tags, Ratio(mine.loadNs, theirs.loadNs).c_str(),
                    mine.firstNs / tags, theirs.firstNs / tags,
                    Ratio(mine.firstNs, theirs.firstNs).c_str(),
                    PeakMultiple(mine, forms.marl.size()).c_str(),
                    PeakMultiple(theirs, forms.xml.size()).c_str(),
                    Ratio(mine.peakBytes, theirs.peakBytes).c_str());
    }
}

// Siblings opened and closed at a depth that is a power of two, and one level less: a table
// that grew by its count rather than its capacity would copy its whole stack for each sibling
// at the power of two. The two depths must cost the same per tag.
void RunDepthScaling(int exponent, uint64_t siblings, const Options& options) {
    const uint64_t depth = uint64_t{1} << exponent;
    std::printf("\nscaling: %s siblings at depth 2^%d and 2^%d - 1, marllib_Load from memory and "
                "Document::Print\n\n",
                Grouped(siblings).c_str(), exponent, exponent);
    std::printf("  %12s %12s %8s | %11s %12s\n", "depth", "tags", "Marl MB", "load ns/tag",
                "print ns/tag");
    double perTag[2][2] = {};
    for (const uint64_t at : {depth - 1, depth}) {
        const Forms forms = bench::MakeSiblingsAtDepth(at, siblings);
        const Expected& e = forms.expected;
        const Outcome load = bench::MeasureReader(
            [&] { return bench::NewMarllibMemory(forms.marl, e); }, options.settings);
        const Outcome print = bench::MeasurePrinter(
            [&] { return bench::NewMarllibPrinter(forms.marl); }, forms.marl.size() + (1u << 20),
            options.settings);
        std::printf("  %12s %12s %8.2f |", Grouped(at).c_str(), Grouped(e.tags).c_str(),
                    Mb(forms.marl.size()));
        if (!load.ok || !print.ok) {
            std::printf(" FAILED: load: %s; print: %s\n", load.ok ? "ok" : load.note,
                        print.ok ? "ok" : print.note);
            failures = true;
            continue;
        }
        const double tags = static_cast<double>(e.tags);
        perTag[at == depth][0] = load.loadNs / tags;
        perTag[at == depth][1] = print.loadNs / tags;
        std::printf(" %11.1f %12.1f\n", load.loadNs / tags, print.loadNs / tags);
    }
    std::printf("  %12s %12s %8s | %11s %12s\n", "ratio", "", "",
                Ratio(perTag[1][0], perTag[0][0]).c_str(), Ratio(perTag[1][1], perTag[0][1]).c_str());
}

// pugixml's child(name) walks the children, so a pass over N keys takes N^2 / 2 steps: about
// 20 s at 100,000 keys, half an hour at 1,000,000. Its rows stop here.
constexpr uint64_t kPugixmlMostKeys = 100000;

// Every key of an N-key root collection looked up once by name, in the collection's order:
// marllib_GetTagByName, whose first search makes the collection's name index, against
// pugixml's child(name) on the same keys as the children of one element.
void RunLookups(const std::vector<uint64_t>& sizes, const Options& options) {
    std::printf("\nlookups: every key of an N-key collection looked up once by name, in the "
                "collection's order;\n  marllib_GetTagByName in the root collection (its first "
                "search makes the index) against\n  pugixml xml_node::child(name) of one "
                "element (up to %s keys: it walks the children)\n\n",
                Grouped(kPugixmlMostKeys).c_str());
    std::printf("  %10s | %4s %9s %9s %9s %9s | %4s %10s %9s | %7s\n", "keys", "runs",
                "total ms", "ns/lookup", "first ms", "index B/k", "runs", "total ms",
                "ns/lookup", "ratio");
    std::vector<double> perLookup;  // marllib's, at each size that it passed
    for (const uint64_t size : sizes) {
        const bench::Keys keys = bench::MakeKeys(size);
        const Outcome mine = bench::MeasureMarllibLookups(keys, options.settings);
        const double count = static_cast<double>(size);
        std::printf("  %10s |", Grouped(size).c_str());
        if (!mine.ok) {
            std::printf(" FAILED: %s\n", mine.note);
            failures = true;
            continue;
        }
        std::printf(" %4d %9.2f %9.1f %9.3f %9.2f |", mine.runs, mine.loadNs / 1e6,
                    mine.loadNs / count, mine.firstNs / 1e6, mine.peakBytes / count);
        perLookup.push_back(mine.loadNs / count);
        if (size > kPugixmlMostKeys) {
            std::printf(" %4s %10s %9s | %7s\n", "-", "-", "-", "-");
            continue;
        }
        const Outcome theirs = bench::MeasurePugixmlLookups(keys, options.settings);
        if (!theirs.ok) {
            std::printf(" FAILED: %s\n", theirs.note);
            continue;
        }
        // Two significant digits: marllib takes a small fraction of pugixml's time.
        std::printf(" %4d %10.2f %9.1f | %7.2g\n", theirs.runs, theirs.loadNs / 1e6,
                    theirs.loadNs / count, mine.loadNs / theirs.loadNs);
    }
    if (perLookup.size() == sizes.size() && sizes.size() > 1) {
        std::printf("  marllib's ns/lookup at %s keys over that at %s: %s\n",
                    Grouped(sizes.back()).c_str(), Grouped(sizes.front()).c_str(),
                    Ratio(perLookup.back(), perLookup.front()).c_str());
    }
}

void PrintSummary(const std::vector<ShapeResult>& summary) {
    std::printf("\nmarllib_Load (memory) against pugixml load_buffer in this run: marllib's time or "
                "peak bytes divided\nby pugixml's (above 1: marllib takes more)\n\n");
    std::printf("  %-13s %7s %7s %7s %7s %7s\n", "shape", "load", "first", "free", "peak",
                "print");
    for (const ShapeResult& r : summary) {
        const bool both = r.marllib.ok && r.pugixml.ok;
        const bool printed = r.marllibPrint.ok && r.pugixmlPrint.ok;
        std::printf("  %-13s %7s %7s %7s %7s %7s\n", r.name.c_str(),
                    both ? Ratio(r.marllib.loadNs, r.pugixml.loadNs).c_str() : "-",
                    both ? Ratio(r.marllib.firstNs, r.pugixml.firstNs).c_str() : "-",
                    both ? Ratio(r.marllib.freeNs, r.pugixml.freeNs).c_str() : "-",
                    both ? Ratio(r.marllib.peakBytes, r.pugixml.peakBytes).c_str() : "-",
                    printed ? Ratio(r.marllibPrint.loadNs, r.pugixmlPrint.loadNs).c_str() : "-");
    }
}

std::string CpuModel() {
    FILE* info = std::fopen("/proc/cpuinfo", "r");
    if (info == nullptr) return "unknown";
    char line[512];
    std::string model = "unknown";
    while (std::fgets(line, sizeof line, info) != nullptr) {
        if (std::strncmp(line, "model name", 10) == 0) {
            const char* colon = std::strchr(line, ':');
            if (colon != nullptr) model = colon + 2;
            while (!model.empty() && model.back() == '\n') model.pop_back();
            break;
        }
    }
    std::fclose(info);
    return model;
}

bool PeakCanBeReset() {
    FILE* refs = std::fopen("/proc/self/clear_refs", "w");
    if (refs == nullptr) return false;
    const bool ok = std::fputs("5", refs) >= 0;
    return std::fclose(refs) == 0 && ok;
}

void Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--smoke] [--budget SECONDS]\n"
                 "          [--shapes config,flat,big,deep,deep-indented]\n"
                 "          [--scaling config,depth,lookups] [--no-scaling] [--no-print]"
                 " [--marl TOOL]\n",
                 program);
}

// The comma-separated names of list.
std::vector<std::string> Names(const std::string& list) {
    std::vector<std::string> names;
    for (size_t at = 0; at <= list.size();) {
        const size_t comma = std::min(list.find(',', at), list.size());
        names.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    return names;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--smoke") {
            options.smoke = true;
        } else if (arg == "--no-scaling") {
            options.scaling.clear();
        } else if (arg == "--no-print") {
            options.printing = false;
        } else if (arg == "--budget" && i + 1 < argc) {
            options.settings.budgetSeconds = std::atof(argv[++i]);
        } else if (arg == "--shapes" && i + 1 < argc) {
            options.shapes = Names(argv[++i]);
        } else if (arg == "--scaling" && i + 1 < argc) {
            options.scaling = Names(argv[++i]);
        } else if (arg == "--marl" && i + 1 < argc) {
            options.marl = argv[++i];
        } else {
            return false;
        }
    }
    if (options.smoke) {
        options.settings.budgetSeconds = 0;
        options.settings.minRuns = 1;
        options.settings.maxRuns = 1;
        options.settings.maxFirstRuns = 1;
        options.settings.timeoutSeconds = 120;
    }
    return true;
}

bool Listed(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& s : names) {
        if (s == name) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Usage(argv[0]);
        return 2;
    }
    // Recursive readers (RapidJSON, for one) need deep stacks for the deep shape.
    rlimit stack{};
    if (getrlimit(RLIMIT_STACK, &stack) == 0) {
        const rlim_t want = rlim_t{100} << 20;
        if (stack.rlim_cur != RLIM_INFINITY && stack.rlim_cur < want) {
            stack.rlim_cur = stack.rlim_max == RLIM_INFINITY ? want : std::min(want, stack.rlim_max);
            setrlimit(RLIMIT_STACK, &stack);
        }
    }
    bench::InitReaders();

    const uint64_t scale = options.smoke ? 100 : 1;
    const Settings& s = options.settings;
    const std::time_t now = std::time(nullptr);
    char date[64];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    std::printf("marl_bench%s, %s\n", options.smoke ? " (smoke: inputs 1/100, one run)" : "",
                date);
#ifdef __clang__
    const char* compiler = "";
#else
    const char* compiler = "GCC ";
#endif
    std::printf("  cpu: %s, %ld online; compiler: %s%s\n", CpuModel().c_str(),
                sysconf(_SC_NPROCESSORS_ONLN), compiler, __VERSION__);
    std::printf("  peers: %s\n", bench::PeerVersions().c_str());
    std::printf(
        "  times are processor time (user and system) of the process, the median of its runs:\n"
        "    load ms   a load repeated in one process whose allocator keeps freed memory, so it\n"
        "              reuses the pages of the load before: the reader's own work (runs: the left"
        " number)\n"
        "    first ms  a load into a fresh process, where every page of the tree faults in new\n"
        "              (runs: the right number, each in its own process)\n"
        "    free ms   destroying the tree of a repeated load; print ms likewise, into a memory"
        " stream\n"
        "    MB/s and ns/tag are from load ms; runs stop after about %.1f s (at most %d and %d)\n"
        "    marllib from memory and pugixml take their repeated loads in %d alternating turns\n",
        s.budgetSeconds, s.maxRuns, s.maxFirstRuns, s.turns);
    std::printf("  peak/in: peak resident growth during a first load over the input's size (%s)\n",
                PeakCanBeReset() ? "VmHWM reset through clear_refs"
                                 : "VmHWM since fork: clear_refs refused");
    std::printf("  right of '|': marllib's figure divided by pugixml's in the same run (peak B: "
                "peak bytes, the same\n  tree in both); time ratios above 1 and MB/s ratios "
                "below 1 mean marllib is slower\n");

    std::vector<ShapeResult> summary;
    const auto run = [&](const std::string& shape, const std::string& title, const Forms& forms) {
        RunShape(shape + ": " + title, forms, {&forms.marl, "  "}, options, summary);
    };
    if (Listed(options.shapes, "config")) {
        const Forms config = bench::MakeConfig(1000000 / scale, 1);
        run("config", "containers of 10-50 entries, leaves 3-4 levels deep, short values",
            config);
        RunSource(config, summary.back().marllib, options);
        if (!options.marl.empty()) RunTool(config, options);
    }
    if (Listed(options.shapes, "flat")) {
        run("flat", "leaves without value, all in the root collection",
            bench::MakeFlat(1000000 / scale, 2));
    }
    if (Listed(options.shapes, "big")) {
        run("big", "leaves with 10 KB values, in the root collection",
            bench::MakeBigValues(10000 / scale, 10240, 3));
    }
    if (Listed(options.shapes, "deep")) {
        // Printed, the tree is indented up to 64 levels by marllib (its printer's layout) and
        // not at all by pugixml, whose indentation has no cap: at two blanks a level it would
        // write 10 GB. Its save then writes one element per line, as the input has it.
        const Forms deep = bench::MakeDeep(100000 / scale);
        const std::string printedDeep = bench::MakeDeep(100000 / scale, true).marl;
        RunShape("deep: containers nested in one another, one tag per line, no indentation",
                 deep, {&printedDeep, "", true}, options, summary);
    }
    if (Listed(options.shapes, "deep-indented")) {
        // The deep tree as marllib prints it, two blanks a level up to 64 levels, in all three
        // forms: the reader skips up to 128 blanks before each tag. Printed as the deep shape is.
        const Forms deep = bench::MakeDeep(100000 / scale, true);
        RunShape("deep-indented: the deep tree indented two spaces a level up to 64 levels",
                 deep, {&deep.marl, "", true}, options, summary);
    }
    if (Listed(options.scaling, "config")) {
        RunScaling({100000 / scale, 1000000 / scale, 4000000 / scale}, options);
    }
    if (Listed(options.scaling, "depth")) {
        RunDepthScaling(options.smoke ? 10 : 17, options.smoke ? 1 << 10 : 1 << 17, options);
    }
    if (Listed(options.scaling, "lookups")) {
        RunLookups({10000 / scale, 100000 / scale, 1000000 / scale}, options);
    }
    if (!summary.empty()) PrintSummary(summary);
    return failures ? 1 : 0;
}
