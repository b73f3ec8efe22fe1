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

// The decoding path of BasicEntityHandler, for names with escapes and values with quote bytes
// (rare, so through the Handler interface): decodes and raises the event on target.
void LeafDecoded(Handler& target, const char* name, int32_t nameLength, const char* value,
                 int32_t valueLength, bool nameEscapes, bool valueQuotes);
void TreeDecoded(Handler& target, const char* name, int32_t nameLength);
// True when length bytes at bytes (which may be null) hold byte.
bool Holds(const char* bytes, int32_t length, char byte);

// Decodes what the parser slices out of the text and forwards every event to its target:
// names lose their escapes and are cut to 64 bytes, values lose their doubled quote bytes
// (the rules are MarlFormat's). The target always sees a non-null value pointer, also for a
// leaf without value. The target is not owned.
//
// Target is a Handler; the events reach it through the Handler interface unless Target is a
// final class, when the calls are direct (the library's own builder is one). EntityHandler
// forwards to any Handler.
template <typename Target>
class BasicEntityHandler final : public Handler {
public:
    // What a reader of the raw bytes already knows about them, so that they need no second
    // look: whether the name holds an escape byte, whether the value holds a quote byte.
    struct Scanned {
        bool nameEscapes;
        bool valueQuotes;
    };

    explicit BasicEntityHandler(Target* target) : target(target) {}

    // Kept so that an EntityHandler is a Handler: they scan the bytes, then go the scanned way.
    void Leaf(const char* name, int32_t nameLength, const char* value,
              int32_t valueLength) override {
        Leaf(name, nameLength, value, valueLength,
             Scanned{Holds(name, nameLength, MarlFormat::kEscape),
                     Holds(value, valueLength, MarlFormat::kQuote)});
    }
    void Tree(const char* name, int32_t nameLength) override {
        Tree(name, nameLength, Holds(name, nameLength, MarlFormat::kEscape));
    }
    // The same events from a reader that has scanned the raw bytes itself. Names without
    // escapes and values without quotes, the usual case, pass straight through.
    void Leaf(const char* name, int32_t nameLength, const char* value, int32_t valueLength,
              Scanned scanned) {
        if (scanned.nameEscapes || scanned.valueQuotes) {
            LeafDecoded(*target, name, nameLength, value, valueLength, scanned.nameEscapes,
                        scanned.valueQuotes);
            return;
        }
        const int32_t cut = MarlFormat::CutNameLength(nameLength);
        if (value == nullptr || valueLength <= 0) {
            target->Leaf(name, cut, kNoValue, 0);
        } else {
            target->Leaf(name, cut, value, valueLength);
        }
    }
    void Tree(const char* name, int32_t nameLength, bool nameEscapes) {
        if (nameEscapes) {
            TreeDecoded(*target, name, nameLength);
            return;
        }
        target->Tree(name, MarlFormat::CutNameLength(nameLength));
    }
    void End() override { target->End(); }
    void Invalid() override { target->Invalid(); }

    // What a leaf without value gets: a valid pointer to no bytes.
    static constexpr char kNoValue[1] = {0};

private:
    Target* target;
};

using EntityHandler = BasicEntityHandler<Handler>;

}  // namespace MarlParser

#endif  // MARLLIB_MARLPARSER_ENTITY_H
