// Edits a configuration through marl::Source, which writes the file's own text back with only
// the edits made: the notes between tags, the alignment and the line ends stay.
//
//     keep_notes server.marl            the edited text on standard output
//     keep_notes server.marl in-place   the file itself
#include <cstring>
#include <iostream>

#include "marllib_source.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: keep_notes FILE [in-place]\n";
        return 2;
    }
    try {
        marl::Source src = marl::Source::load(argv[1]);
        marl::Document doc = src.document();
        doc.set_value(*doc.at("server/port"), 9090);
        doc.add_leaf(*doc.at("server/users"), "user", "grace");
        if (argc > 2 && std::strcmp(argv[2], "in-place") == 0) {
            src.save(argv[1]);
        } else {
            src.write(std::cout);
        }
        return 0;
    } catch (const marl::error& failure) {
        std::cerr << failure.what() << '\n';
        return 1;
    }
}
