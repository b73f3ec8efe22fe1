// A C++ host that checks its configuration and tells its user where each finding is, in the
// form of marl check's reports ("FILE:LINE:COL: error: ..."), which editors and CI pick up.
//
//     marllib_validate examples/config.marl
//
// Exit status: 0 nothing found, 1 a finding, 2 the file cannot be read.
#include <cstdio>
#include <optional>
#include <string>

#include "marllib_source.hpp"

namespace {

int findings = 0;

void Report(const marl::Source& source, const marl::diagnostic& finding) {
    std::printf("%s\n", source.describe(finding).c_str());
    if (finding.level != marl::severity::note) ++findings;
}

// An error at the place of tag t.
void Error(const marl::Source& source, marl::tag t, const std::string& message) {
    Report(source, {marl::severity::error, *source.where(t), message});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: marllib_validate CONFIG.marl\n");
        return 2;
    }
    try {
        const marl::Source source = marl::Source::load(argv[1]);
        const marl::Document doc = source.document();
        // What the reader skipped or cut first: the same reports as marl check's.
        for (const marl::diagnostic& problem : source.problems()) Report(source, problem);

        const std::optional<marl::tag> app = doc.at("application");
        if (!app) {
            std::printf("%s: error: no 'application' at the top\n", source.name().c_str());
            return 1;
        }
        if (const std::optional<marl::tag> port = doc.at("server/port", *app)) {
            // value_as names the place of a value that is no number at all.
            const long value = source.value_as<long>(*port);
            if (value < 1 || value > 65535) {
                Error(source, *port, "port " + std::to_string(value) + " is outside 1..65535");
            }
        }
        if (const std::optional<marl::tag> users = doc.at("users", *app)) {
            for (const marl::tag user : doc.children(*users, "user")) {
                const std::optional<marl::tag> name = doc.find(user, "name");
                if (!name || doc.value(*name).empty()) Error(source, user, "a user without a name");
            }
        }
    } catch (const marl::error& failure) {
        if (failure.code() == marl::errc::unreadable_file) {
            std::fprintf(stderr, "%s\n", failure.what());
            return 2;
        }
        std::printf("%s\n", failure.what());  // a value that is no number, at its place
        return 1;
    }
    return findings > 0 ? 1 : 0;
}
