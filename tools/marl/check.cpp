#include "check.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "marllib_format.hpp"
#include "marllib_reader.hpp"

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

// Reports what the reader saw as it sees it: a message as soon as its place is known (open
// containers when reading ends), each at a line and a column. The lines are found only once
// there is something to report.
class Checker {
public:
    Checker(const std::string& name, std::string_view text, FILE* out, int32_t maxMessages)
        : name(name), text(text), out(out), maxMessages(maxMessages) {}

    void operator()(const marl::event& event) {
        switch (event.kind) {
            case marl::event_kind::Leaf:
                CheckNameLength(event);
                return;
            case marl::event_kind::Tree:
                CheckNameLength(event);
                open.push_back({Printable(event.name.data(), static_cast<int32_t>(event.name.size())),
                                event.text.begin});
                return;
            case marl::event_kind::End:
                if (!open.empty()) {
                    open.pop_back();
                    return;
                }
                Report(event.text.begin, Severity::Warning, "'</>' closes no open container");
                return;
            case marl::event_kind::Invalid:
                // A stray quote is reported where it stands; everything else at its tag's '<'.
                Report(event.why == Problem::BadQuote ? event.text.end - 1 : event.text.begin,
                       Severity::Error, Describe(event.why));
                return;
        }
    }

    // Input too short for the reader to look at: a '<' in it starts a tag that is cut off,
    // reported as it is where the reader does look.
    void ShortInput() {
        const size_t tagStart = text.find('<');
        if (tagStart == std::string_view::npos) return;
        Report(static_cast<int32_t>(tagStart), Severity::Error, Describe(Problem::TagCutOff));
    }

    // Called when reading has ended: what stopped it, and what stays open.
    void Finish(const marl::read_end& end) {
        const int32_t unread = static_cast<int32_t>(text.size()) - end.position;
        if (end.why == Problem::UnclosedName) {
            Report(end.last, Severity::Error, Describe(Problem::UnclosedName));
        }
        if (unread > 0) {
            Report(end.position, Severity::Note,
                   "reading stops here; " + std::to_string(unread) + " byte" +
                       (unread == 1 ? " is" : "s are") + " never read");
        }
        for (auto it = open.rbegin(); it != open.rend(); ++it) {
            Report(it->at, Severity::Warning, "container '" + it->name + "' is never closed");
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
        int32_t at;  // its '<'
    };

    void CheckNameLength(const marl::event& event) {
        const int32_t decoded = MarlFormat::DecodedNameLength(
            text.data() + event.raw_name.begin, event.raw_name.end - event.raw_name.begin);
        if (decoded <= MarlFormat::kNameMax) return;
        Report(event.text.begin, Severity::Warning,
               "name of " + std::to_string(decoded) + " bytes is cut to its first " +
                   std::to_string(MarlFormat::kNameMax) + " bytes");
    }

    void Report(int32_t offset, Severity severity, const std::string& message) {
        if (severity == Severity::Error) ++result.errors;
        if (severity == Severity::Warning) ++result.warnings;
        if (maxMessages != 0 && shown == maxMessages) {
            ++unshown;
            return;
        }
        ++shown;
        if (!lines) lines.emplace(text);
        const marl::position place = lines->at(offset);
        std::fprintf(out, "%s:%d:%d: %s: %s\n", name.c_str(), place.line, place.column,
                     Label(severity), message.c_str());
    }

    const std::string& name;
    std::string_view text;
    FILE* out;
    const int32_t maxMessages;
    int32_t shown = 0;
    int32_t unshown = 0;
    std::optional<marl::line_index> lines;
    std::vector<Open> open;
};

}  // namespace

CheckResult Check(const std::string& name, const char* text, int32_t length, FILE* out,
                  int32_t maxMessages) {
    const std::string_view bytes(text, static_cast<size_t>(length));
    Checker checker(name, bytes, out, maxMessages);
    if (length >= MarlFormat::kShortestTagText) {
        checker.Finish(marl::read(bytes, checker));
    } else {
        checker.ShortInput();
    }
    checker.Close();
    return checker.result;
}

}  // namespace MarlTool
