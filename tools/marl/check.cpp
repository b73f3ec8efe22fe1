#include "check.h"

#include <cctype>
#include <vector>

#include "marlparser.h"

namespace MarlTool {

namespace {

using MarlParser::Problem;

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
    std::pair<int32_t, int32_t> At(int32_t offset) {
        for (; scanned < offset; ++scanned) {
            if (text[scanned] == '\n') {
                ++line;
                lineStart = scanned + 1;
            }
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

// The number of bytes a raw name decodes to, before any cut.
int32_t DecodedLength(const char* raw, int32_t length) {
    int32_t decoded = 0;
    for (int32_t i = 0; i < length; ++i, ++decoded) {
        if (raw[i] == MarlParser::EntityHandler::kEscape && i + 1 < length) ++i;
    }
    return decoded;
}

class Checker : public MarlParser::Handler {
public:
    Checker(const std::string& name, const char* text, FILE* out)
        : name(name), text(text), out(out), where(text) {}

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
        Report(parser->ConstructStart(), "warning", "'</>' closes no open container");
    }
    void Invalid() override { Error(parser->LastProblem()); }

    // Called when reading has ended: what stopped it, and what stays open.
    void Finish(int32_t length) {
        const int32_t unread = length - parser->Position();
        if (parser->LastProblem() == Problem::UnclosedName) Error(Problem::UnclosedName);
        if (unread > 0) {
            Report(parser->Position(), "note",
                   "reading stops here; " + std::to_string(unread) + " byte" +
                       (unread == 1 ? " is" : "s are") + " never read");
        }
        for (auto it = open.rbegin(); it != open.rend(); ++it) {
            std::fprintf(out, "%s:%d:%d: warning: container '%s' is never closed\n", name.c_str(),
                         it->line, it->column, it->name.c_str());
            ++result.warnings;
        }
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
        Report(at, "error", Describe(problem));
    }

    void CheckNameLength() {
        const char* const raw = text + parser->RawNameStart();
        const int32_t decoded = DecodedLength(raw, parser->RawNameLength());
        if (decoded <= MarlParser::EntityHandler::kNameMax) return;
        Report(parser->ConstructStart(), "warning",
               "name of " + std::to_string(decoded) + " bytes is cut to its first 64 bytes");
    }

    void Report(int32_t offset, const char* kind, const std::string& message) {
        const auto place = where.At(offset);
        std::fprintf(out, "%s:%d:%d: %s: %s\n", name.c_str(), place.first, place.second, kind,
                     message.c_str());
        if (kind[0] == 'e') ++result.errors;
        if (kind[0] == 'w') ++result.warnings;
    }

    const std::string& name;
    const char* text;
    FILE* out;
    Locator where;
    const MarlParser::Parser* parser = nullptr;
    std::vector<Open> open;
};

}  // namespace

CheckResult Check(const std::string& name, const char* text, int32_t length, FILE* out) {
    Checker checker(name, text, out);
    MarlParser::Parser parser(&checker, text, length);
    checker.Attach(&parser);
    if (length >= 4) {
        while (parser.Parse()) {
        }
    }
    checker.Finish(length >= 4 ? length : 0);
    return checker.result;
}

}  // namespace MarlTool
