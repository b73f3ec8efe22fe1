#include "marllib_load.h"

#include <cstdio>
#include <limits>
#include <utility>

#include "marlclass_handler.h"
#include "marlparser.h"

namespace MarlLib {

std::unique_ptr<MarlClass::Document> LoadText(const char* text, int32_t length) {
    auto document = std::make_unique<MarlClass::Document>();
    MarlClass::Handler builder(document.get());
    const std::unique_ptr<MarlParser::Parser> parser(
        MarlParser::Parser::Create(&builder, text, length));
    if (parser) {
        while (parser->Parse()) {
        }
    }
    return document;
}

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// The file's size from its end position, or -1 when it cannot be found or is too large.
long SizeOf(FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(file);
    if (size < 0 || size > std::numeric_limits<int32_t>::max()) return -1;
    if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
    return size;
}

}  // namespace

bool ReadFile(const char* path, FileBytes& bytes) {
    if (path == nullptr) return false;
    const std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) return false;
    const long size = SizeOf(file.get());
    if (size < 0) return false;
    std::unique_ptr<char[]> data(new char[static_cast<size_t>(size) + 1]);
    const size_t read = std::fread(data.get(), 1, static_cast<size_t>(size), file.get());
    // A read that fails (as reading a directory does) sets the error flag; the probe for one
    // more byte catches that also where the size was reported as 0.
    if (read == static_cast<size_t>(size)) std::fgetc(file.get());
    if (std::ferror(file.get()) != 0) return false;
    bytes.data = std::move(data);
    bytes.size = static_cast<int32_t>(read);
    return true;
}

}  // namespace MarlLib
