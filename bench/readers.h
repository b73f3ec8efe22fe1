// The readers and printers that the benchmark compares: marllib itself and its peers.
#ifndef MARLLIB_BENCH_READERS_H
#define MARLLIB_BENCH_READERS_H

#include <string>

#include "forms.h"
#include "measure.h"

namespace bench {

// Each reader reads its input in place from the caller's buffer (or, for the file load, from
// a path) and checks what it built against `expected`.
Reader* NewMarllibMemory(const std::string& marl, const Expected& expected);
Reader* NewMarllibFile(const std::string& path, const Expected& expected);
// The file at path through marllib.hpp: marl::Document::load, and marl::Source::load, which
// also keeps the text; with `placed`, Source::load and the first position asked for, which
// reads the text again for every tag's offset and the text's problems. A Source must find no
// problem in the generated text and, with firstTagAtStart, tag 0 at line 1, column 1.
Reader* NewDocumentLoad(const std::string& path, const Expected& expected);
Reader* NewSourceLoad(const std::string& path, const Expected& expected, bool firstTagAtStart,
                      bool placed);
// Pieces of Source::load alone: the file at path read whole into a std::string (which must
// equal marl), and the reader's pass over marl in memory for every tag's offset and the text's
// problems (it must find expected.tags tags and no problem).
Reader* NewTextRead(const std::string& path, const std::string& marl);
Reader* NewSurvey(const std::string& marl, const Expected& expected);
// The floor that no loader of marl can beat: a memchr pass that counts every '<' (it must
// count expected.tags + expected.containers), and a memcpy of marl into a buffer allocated
// beforehand (it must give marl back).
Reader* NewMemchrFloor(const std::string& marl, const Expected& expected);
Reader* NewMemcpyFloor(const std::string& marl);
Reader* NewPugixml(const std::string& xml, const Expected& expected);
Reader* NewTinyxml2(const std::string& xml, const Expected& expected);
Reader* NewLibxml2(const std::string& xml, const Expected& expected);
Reader* NewExpat(const std::string& xml, const Expected& expected);
Reader* NewRapidjson(const std::string& json, const Expected& expected);
Reader* NewSimdjson(const std::string& json, const Expected& expected);

// marllib's Document::Print must write exactly the generated Marl text; pugixml's save is
// read back and must give the generated tree.
Printer* NewMarllibPrinter(const std::string& marl);
// pugixml's save with format_indent and `indent` per level ("" for one element per line),
// or with indent null, raw, of the tree given the lines that marllib's printer writes (one
// per element, indentation that stops growing after 64 levels) as whitespace text.
Printer* NewPugixmlPrinter(const std::string& xml, const Expected& expected,
                           const char* indent = "  ");

// One-time set-up and the versions of the peers, for the report's header.
void InitReaders();
std::string PeerVersions();

}  // namespace bench

#endif  // MARLLIB_BENCH_READERS_H
