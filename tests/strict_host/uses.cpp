// A host of every public header that instantiates their templates, as a program of a strict
// project would, so that their bodies meet the same warnings as the declarations. It is
// compiled, never run.
#include <marllib.h>
#include <marllib.hpp>
#include <marllib_edit.hpp>
#include <marllib_file.hpp>
#include <marllib_format.hpp>
#include <marllib_json.hpp>
#include <marllib_path.hpp>
#include <marllib_reader.hpp>
#include <marllib_scan.hpp>
#include <marllib_source.hpp>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main() {
    marl::Document doc = marl::Document::load_text("<a>\n  <b=\"1\">\n</>\n");
    const marl::tag a = *doc.at("a");
    const marl::tag b = *doc.at("a/b[1]");
    int total = doc.value_as<int>(b) + static_cast<int>(doc.value_as<uint8_t>(b));
    total += static_cast<int>(doc.value_as<double>(b)) + (doc.value_as<bool>(b) ? 1 : 0);
    total += static_cast<int>(doc.value_or(doc.find(a, "c"), int64_t{7}));
    doc.set_value(b, 3.5);
    doc.set_value(b, uint64_t{1});
    doc.add_leaf(a, "c", 42);
    doc.add_leaf(doc.add_container(a, "d"), "e", "f");
    for (const marl::tag t : doc.children(a, "b")) total += static_cast<int>(doc.name(t).size());
    total += static_cast<int>(doc.select("**/b[*]").size() + doc.select("*[b=\"1\"]", a).size());
    doc.write(std::cout);
    doc.write(stdout, a);
    std::string text = doc.to_string();
    doc.save("/dev/null");

    marl::Source source = marl::Source::load_text(text, "t.marl", 10);
    total += source.value_as<long>(b) > 0 ? source.where(b)->line : 0;
    for (const marl::diagnostic& d : source.problems()) std::cerr << source.describe(d) << '\n';
    source.remove(b);
    source.save("/dev/null");
    source.write(std::cout);
    const marl::line_index lines(text);
    total += lines.at(3).column;

    marl::read(text, [&](const marl::event& e) { total += static_cast<int>(e.name.size()); });
    MarlFormat::FileOutput out(stdout);
    marl::print_text(text, out);
    marl::write_json(doc, std::cout, marl::json_layout::pretty);
    total += static_cast<int>(marl::to_json(doc).size());
    total += marl::write_json_text(text, out, marl::json_layout::compact) ? 1 : 0;
    marl::file_bytes bytes;
    total += marl::read_file("/dev/null", bytes) + marl::read_file("/dev/null", text);
    total += marl::write_file("/dev/null", [](std::FILE* f) { return std::fputc('x', f) >= 0; });
    marl::replace_file("/dev/null", [](std::FILE*) { return true; });
    const std::optional<std::vector<marl::path_step>> steps = marl::parse_path("a/b[2]");
    return total + (steps ? 0 : 1);
}
