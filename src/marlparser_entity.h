// MarlParser::Handler, the interface through which the parser reports what it reads, and
// MarlParser::EntityHandler, which sits between the parser and the caller's handler and
// decodes raw names and values on the way.
#ifndef MARLLIB_MARLPARSER_ENTITY_H
#define MARLLIB_MARLPARSER_ENTITY_H

#include <cstdint>

#include "marllib_format.hpp"

namespace MarlParser {

// Receives one event per tag, in text order. Names and values are counted bytes that are
// valid only during the call; a handler that keeps them copies them.
class Handler {
public:
    Handler() = default;
    virtual ~Handler() = default;
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

    // <NAME/> (value null or empty, length 0) and <NAME="VALUE">.
    virtual void Leaf(const char* name, int32_t nameLength, const char* value,
                      int32_t valueLength) = 0;
    // <NAME>: a container opens.
    virtual void Tree(const char* name, int32_t nameLength) = 0;
    // </>: the innermost open container closes.
    virtual void End() = 0;
    // A malformed construct.
    virtual void Invalid() = 0;
};

// Decodes what the parser slices out of the text and forwards every event to its target:
// names lose their escapes and are cut to 64 bytes, values lose their doubled quote bytes
// (the rules are MarlFormat's). The target always sees a non-null value pointer, also for a
// leaf without value. The target is not owned.
class EntityHandler final : public Handler {
public:
    // What a reader of the raw bytes already knows about them, so that they need no second
    // look: whether the name holds an escape byte, whether the value holds a quote byte.
    struct Scanned {
        bool nameEscapes;
        bool valueQuotes;
    };

    explicit EntityHandler(Handler* target) : target(target) {}

    // Kept so that an EntityHandler is a Handler: they scan the bytes, then go the scanned way.
    void Leaf(const char* name, int32_t nameLength, const char* value,
              int32_t valueLength) override;
    void Tree(const char* name, int32_t nameLength) override;
    // The same events from a reader that has scanned the raw bytes itself. Names without
    // escapes and values without quotes, the usual case, pass straight through.
    void Leaf(const char* name, int32_t nameLength, const char* value, int32_t valueLength,
              Scanned scanned) {
        if (scanned.nameEscapes || scanned.valueQuotes) {
            LeafDecoded(name, nameLength, value, valueLength, scanned);
            return;
        }
        const int32_t cut = nameLength < MarlFormat::kNameMax ? nameLength : MarlFormat::kNameMax;
        if (value == nullptr || valueLength <= 0) {
            target->Leaf(name, cut, kNoValue, 0);
        } else {
            target->Leaf(name, cut, value, valueLength);
        }
    }
    void Tree(const char* name, int32_t nameLength, bool nameEscapes) {
        if (nameEscapes) {
            TreeDecoded(name, nameLength);
            return;
        }
        target->Tree(name, nameLength < MarlFormat::kNameMax ? nameLength : MarlFormat::kNameMax);
    }
    void End() override { target->End(); }
    void Invalid() override { target->Invalid(); }

private:
    // What a leaf without value gets: a valid pointer to no bytes.
    static constexpr char kNoValue[1] = {0};

    void LeafDecoded(const char* name, int32_t nameLength, const char* value,
                     int32_t valueLength, Scanned scanned);
    void TreeDecoded(const char* name, int32_t nameLength);
    // Points name at the decoded form of the raw name: the raw bytes themselves when they
    // hold no escape byte, otherwise buffer (MarlFormat::kNameMax bytes). Returns the decoded length.
    static int32_t DecodeName(const char*& name, int32_t length, bool escapes, char* buffer);

    Handler* target;
};

}  // namespace MarlParser

#endif  // MARLLIB_MARLPARSER_ENTITY_H
