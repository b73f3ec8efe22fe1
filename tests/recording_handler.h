// A MarlParser::Handler that writes down every event it receives, for the reading tests.
//
// Each event is kept as text: Tree(NAME), Leaf(NAME) for a leaf whose value has length 0,
// Leaf(NAME)[VALUE] otherwise, End and Invalid. Bytes outside printable ASCII, and the
// backslash, are written as \xNN. A null value pointer shows as Leaf(NAME)null, a negative
// value length as Leaf(NAME)len=N.
#ifndef MARLLIB_TESTS_RECORDING_HANDLER_H
#define MARLLIB_TESTS_RECORDING_HANDLER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "marllib_reader.hpp"

namespace marltest {

inline std::string Show(const char* bytes, int32_t length) {
    std::string out;
    for (int32_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

inline std::string Show(const std::string& bytes) {
    return Show(bytes.data(), static_cast<int32_t>(bytes.size()));
}

struct Event {
    std::string text;
    const char* value = nullptr;  // the value pointer a Leaf arrived with
    int32_t valueLength = 0;
};

class RecordingHandler : public MarlParser::Handler {
public:
    RecordingHandler() = default;
    // Sets *destroyed when the handler is destroyed, so owners can be checked.
    explicit RecordingHandler(bool* destroyed) : destroyed(destroyed) {}
    ~RecordingHandler() override {
        if (destroyed != nullptr) *destroyed = true;
    }

    void Leaf(const char* name, int32_t nameLength, const char* value,
              int32_t valueLength) override {
        std::string text = "Leaf(" + Show(name, nameLength) + ")";
        if (value == nullptr) {
            text += "null";
        } else if (valueLength < 0) {
            text += "len=" + std::to_string(valueLength);
        } else if (valueLength > 0) {
            text += "[" + Show(value, valueLength) + "]";
        }
        events.push_back({text, value, valueLength});
    }
    void Tree(const char* name, int32_t nameLength) override {
        events.push_back({"Tree(" + Show(name, nameLength) + ")"});
    }
    void End() override { events.push_back({"End"}); }
    void Invalid() override { events.push_back({"Invalid"}); }

    // The events received since the last call, joined by single spaces, and forgets them.
    std::string Take() {
        std::string joined;
        for (const Event& event : events) {
            if (!joined.empty()) joined += ' ';
            joined += event.text;
        }
        events.clear();
        return joined;
    }

    std::vector<Event> events;

private:
    bool* destroyed = nullptr;
};

}  // namespace marltest

#endif  // MARLLIB_TESTS_RECORDING_HANDLER_H
