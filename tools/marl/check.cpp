#include "check.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "marllib_format.hpp"
#include "marlparser.h"

namespace MarlTool {

namespace {

using MarlParser::Problem;

enum class Severity { Error, Warning, Note };

const char* Label(Severity severity) {
    switch (severity) {
        case Severity::Error: return "error";
        case Severity::Warning: return "warning";
        case Severity::Note: break;
    }
    return "note";
}

const char* Describe(Problem problem) {
    switch (problem) {
        case Problem::TagCutOff: return "tag cut off by the end of the input";
        case Problem::BadClose: return "'</' is not followed by '>'";
        case Problem::BadLeafEnd: return "'/' after a name is not followed by '>'";
        case Problem::ShortValue: return "value too short: fewer than 3 bytes follow '='";
        case Problem::BadQuote: return "quote in a value is followed by neither a quote nor '>'";
        case Problem::UnclosedValue: return "the input ends inside a value";
        case Problem::UnclosedName: return "the input ends inside a name";
        case Problem::None: break;
    }
    return "malformed tag";
}

// Turns byte offsets into lines and columns. Offsets are asked for in ascending order
// except for open containers, whose places are computed when their tags are read.
class Locator {
public:
    explicit Locator(const char* text) : text(text) {}
    // LF, CR LF and a lone CR each end one line; the LF of a CR LF starts no new one.
    std::pair<int32_t, int32_t> At(int32_t offset) {
        for (; scanned < offset; ++scanned) {
            const char c = text[scanned];
            if (c == '\r' || (c == '\n' && (scanned == 0 || text[scanned - 1] != '\r'))) {
                ++line;
            }
            if (c == '\r' || c == '\n') lineStart = scanned + 1;
        }
        return {line, offset - lineStart + 1};
    }

private:
    const char* text;
    int32_t scanned = 0;
    int32_t line = 1;
    int32_t lineStart = 0;
};

// Names in messages: printable ASCII as it is, other bytes as \xHH.
std::string Printable(const char* bytes, int32_t length) {
    std::string shown;
    for (int32_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            shown += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        }
    }
    return shown;
}

class Checker : public MarlParser::Handler {
public:
    Checker(const std::string& name, const char* text, FILE* out, int32_t maxMessages)
        : name(name), text(text), out(out), maxMessages(maxMessages), where(text) {}

    void Attach(const MarlParser::Parser* reader) { parser = reader; }

    void Leaf(const char*, int32_t, const char*, int32_t) override { CheckNameLength(); }
    void Tree(const char* decoded, int32_t length) override {
        CheckNameLength();
        const auto place = where.At(parser->ConstructStart());
        open.push_back({Printable(decoded, length), place.first, place.second});
    }
    void End() override {
        if (!open.empty()) {
            open.pop_back();
            return;
        }
        Report(parser->ConstructStart(), Severity::Warning, "'</>' closes no open container");
    }
    void Invalid() override { Error(parser->LastProblem()); }

    // Input too short for the reader to look at: a '<' in it starts a tag that is cut off,
    // reported as it is where the reader does look.
    void ShortInput(int32_t length) {
        if (length <= 0) return;
        const void* const tagStart = std::memchr(text, '<', static_cast<size_t>(length));
        if (tagStart == nullptr) return;
        Report(static_cast<int32_t>(static_cast<const char*>(tagStart) - text), Severity::Error,
               Describe(Problem::TagCutOff));
    }

    // Called when reading has ended: what stopped it, and what stays open.
    void Finish(int32_t length) {
        const int32_t unread = length - parser->Position();
        if (parser->LastProblem() == Problem::UnclosedName) Error(Problem::UnclosedName);
        if (unread > 0) {
            Report(parser->Position(), Severity::Note,
                   "reading stops here; " + std::to_string(unread) + " byte" +
                       (unread == 1 ? " is" : "s are") + " never read");
        }
        for (auto it = open.rbegin(); it != open.rend(); ++it) {
            Write(it->line, it->column, Severity::Warning,
                  "container '" + it->name + "' is never closed");
        }
    }

    // The line that ends a report cut short by the message limit.
    void Close() {
        if (unshown > 0) std::fprintf(out, "... and %d more\n", unshown);
    }

    CheckResult result;

private:
    struct Open {
        std::string name;
        int32_t line;
        int32_t column;
    };

    void Error(Problem problem) {
        // A stray quote is reported where it stands; everything else at its tag's '<'.
        const int32_t at = problem == Problem::BadQuote ? parser->Position() - 1
                                                        : parser->ConstructStart();
        Report(at, Severity::Error, Describe(problem));
    }

    void CheckNameLength() {
        const char* const raw = text + parser->RawNameStart();
        const int32_t decoded = MarlFormat::DecodedNameLength(raw, parser->RawNameLength());
        if (decoded <= MarlFormat::kNameMax) return;
        Report(parser->ConstructStart(), Severity::Warning,
               "name of " + std::to_string(decoded) + " bytes is cut to its first " +
                   std::to_string(MarlFormat::kNameMax) + " bytes");
    }

    void Report(int32_t offset, Severity severity, const std::string& message) {
        const auto place = where.At(offset);
        Write(place.first, place.second, severity, message);
    }

    void Write(int32_t line, int32_t column, Severity severity, const std::string& message) {
        if (severity == Severity::Error) ++result.errors;
        if (severity == Severity::Warning) ++result.warnings;
        if (maxMessages != 0 && shown == maxMessages) {
            ++unshown;
            return;
        }
        ++shown;
        std::fprintf(out, "%s:%d:%d: %s: %s\n", name.c_str(), line, column, Label(severity),
                     message.c_str());
    }

    const std::string& name;
    const char* text;
    FILE* out;
    const int32_t maxMessages;
    int32_t shown = 0;
    int32_t unshown = 0;
    Locator where;
    const MarlParser::Parser* parser = nullptr;
    std::vector<Open> open;
};

}  // namespace

CheckResult Check(const std::string& name, const char* text, int32_t length, FILE* out,
                  int32_t maxMessages) {
    Checker checker(name, text, out, maxMessages);
    MarlParser::Parser parser(&checker, text, length);
    checker.Attach(&parser);
    if (length >= MarlFormat::kShortestTagText) {
        while (parser.Parse()) {
        }
        checker.Finish(length);
    } else {
        checker.ShortInput(length);
    }
    checker.Close();
    return checker.result;
}

}  // namespace MarlTool
