#include "forms.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <vector>

namespace bench {

void Digest::Mix(const void* bytes, size_t length) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    uint64_t h = hash_;
    for (size_t i = 0; i < length; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    hash_ = h;
}

void Digest::Add(uint32_t depth, const char* name, size_t nameLength, const char* value,
                 size_t valueLength) {
    const uint64_t lengths[2] = {nameLength, valueLength};
    Mix(&depth, sizeof depth);
    Mix(lengths, sizeof lengths);
    Mix(name, nameLength);
    Mix(value, valueLength);
    ++tags_;
}

namespace {

// splitmix64: small, fast and the same on every platform, so a seed always gives one tree.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    uint64_t Below(uint64_t n) { return Next() % n; }
    // Uniform in [low, high].
    int Between(int low, int high) {
        return low + static_cast<int>(Below(static_cast<uint64_t>(high - low + 1)));
    }
    template <size_t N>
    std::string_view Pick(const std::string_view (&words)[N]) {
        return words[Below(N)];
    }

private:
    uint64_t state_;
};

constexpr std::string_view kSections[] = {"server", "client", "storage", "network", "logging",
                                          "cache", "cluster", "service"};
constexpr std::string_view kGroups[] = {"node", "pool", "zone", "route", "queue", "volume",
                                        "backend", "rule"};
constexpr std::string_view kBlocks[] = {"item", "entry", "limits", "opts", "auth", "tls",
                                        "retry", "peer"};
constexpr std::string_view kLeafNames[] = {
    "id",    "host",  "port",  "name",  "user",  "mode",   "path",  "size",
    "level", "retry", "limit", "delay", "on",    "timeout", "color", "type",
    "key",   "rate",  "max",   "owner", "group", "alias",  "prefix", "format"};
constexpr std::string_view kWords[] = {"auto", "fast", "none", "debug", "info", "warn", "east",
                                       "west", "primary", "spare", "gzip", "plain", "utf8",
                                       "round", "strict", "lax"};

// Writes every tag to the three forms at once and records what a reader must find.
class Writer {
public:
    Writer(Forms& forms, bool indent) : forms_(forms), indent_(indent) {
        forms_.xml += "<doc>\n";
        forms_.json += '{';
        jsonEmpty_.push_back(true);
    }

    void Open(std::string_view name) {
        Record(name, {}, true);
        Indent(forms_.marl);
        Append(forms_.marl, "<", name, ">\n");
        Indent(forms_.xml);
        Append(forms_.xml, "<", name, ">\n");
        JsonMember(name);
        forms_.json += '{';
        open_.push_back(name);
        jsonEmpty_.push_back(true);
        ++depth_;
    }

    void Close() {
        --depth_;
        const std::string_view name = open_.back();
        open_.pop_back();
        const bool empty = jsonEmpty_.back();
        jsonEmpty_.pop_back();
        Indent(forms_.marl);
        forms_.marl += "</>\n";
        Indent(forms_.xml);
        Append(forms_.xml, "</", name, ">\n");
        if (!empty) {
            forms_.json += '\n';
            Indent(forms_.json);
        }
        forms_.json += '}';
    }

    // A leaf; an empty value makes a leaf without value.
    void Leaf(std::string_view name, std::string_view value) {
        Record(name, value, false);
        Indent(forms_.marl);
        Indent(forms_.xml);
        JsonMember(name);
        if (value.empty()) {
            Append(forms_.marl, "<", name, "/>\n");
            Append(forms_.xml, "<", name, "/>\n");
            forms_.json += "null";
        } else {
            Append(forms_.marl, "<", name, "=\"");
            Append(forms_.marl, value, "\">\n", {});
            Append(forms_.xml, "<", name, ">");
            Append(forms_.xml, value, "</", name);
            forms_.xml += ">\n";
            Append(forms_.json, "\"", value, "\"");
        }
    }

    uint64_t Tags() const { return digest_.Tags(); }

    void Finish() {
        while (!open_.empty()) Close();
        forms_.xml += "</doc>\n";
        forms_.json += jsonEmpty_.back() ? "}\n" : "\n}\n";
        Expected& e = forms_.expected;
        e.tags = digest_.Tags();
        e.digest = digest_.Value();
        for (std::string* text : {&forms_.marl, &forms_.xml, &forms_.json}) text->shrink_to_fit();
    }

private:
    static void Append(std::string& out, std::string_view a, std::string_view b,
                       std::string_view c) {
        out.append(a).append(b).append(c);
    }

    void Indent(std::string& out) const {
        if (indent_) out.append(2 * std::min(open_.size(), size_t{64}), ' ');
    }

    void JsonMember(std::string_view name) {
        forms_.json += jsonEmpty_.back() ? "\n" : ",\n";
        jsonEmpty_.back() = false;
        Indent(forms_.json);
        Append(forms_.json, "\"", name, "\": ");
    }

    void Record(std::string_view name, std::string_view value, bool container) {
        digest_.Add(depth_, name.data(), name.size(), value.data(), value.size());
        Expected& e = forms_.expected;
        if (depth_ == 0) ++e.rootCount;
        e.valueBytes += value.size();
        if (container) ++e.containers;
    }

    Forms& forms_;
    const bool indent_;
    uint32_t depth_ = 0;
    std::vector<std::string_view> open_;  // names of the open containers, outermost first
    std::vector<bool> jsonEmpty_;         // per open JSON object: no member written yet
    Digest digest_;
};

// A short config value: a number, a word, a switch or an address.
std::string_view ConfigValue(Rng& rng, char (&buffer)[32]) {
    int n = 0;
    switch (rng.Below(4)) {
        case 0:
            n = std::snprintf(buffer, sizeof buffer, "%u", static_cast<unsigned>(rng.Below(100000)));
            break;
        case 1:
            return rng.Pick(kWords);
        case 2:
            return rng.Below(2) ? "true" : "false";
        default:
            n = std::snprintf(buffer, sizeof buffer, "10.%u.%u.%u",
                              static_cast<unsigned>(rng.Below(16)),
                              static_cast<unsigned>(rng.Below(256)),
                              static_cast<unsigned>(rng.Below(256)));
            break;
    }
    return {buffer, static_cast<size_t>(n)};
}

}  // namespace

Forms MakeConfig(uint64_t tags, uint64_t seed) {
    Forms forms;
    Writer w(forms, true);
    Rng rng(seed);
    char buffer[32];
    // Every container gets at least one entry; after that, entries stop once the tree is big
    // enough.
    auto more = [&](int i) { return i == 0 || w.Tags() < tags; };
    auto leaf = [&] { w.Leaf(rng.Pick(kLeafNames), ConfigValue(rng, buffer)); };
    while (w.Tags() < tags) {
        w.Open(rng.Pick(kSections));
        for (int a = 0, na = rng.Between(10, 50); a < na && more(a); ++a) {
            w.Open(rng.Pick(kGroups));
            for (int b = 0, nb = rng.Between(10, 50); b < nb && more(b); ++b) {
                w.Open(rng.Pick(kBlocks));
                for (int c = 0, nc = rng.Between(10, 50); c < nc && more(c); ++c) {
                    if (rng.Below(10) != 0) {
                        leaf();  // 3 levels deep
                        continue;
                    }
                    w.Open(rng.Pick(kBlocks));
                    for (int d = 0, nd = rng.Between(10, 50); d < nd && more(d); ++d) leaf();
                    w.Close();
                }
                w.Close();
            }
            w.Close();
        }
        w.Close();
    }
    w.Finish();
    return forms;
}

Forms MakeFlat(uint64_t leaves, uint64_t seed) {
    Forms forms;
    Writer w(forms, true);
    Rng rng(seed);
    for (uint64_t i = 0; i < leaves; ++i) w.Leaf(rng.Pick(kLeafNames), {});
    w.Finish();
    return forms;
}

Forms MakeBigValues(uint64_t leaves, size_t valueBytes, uint64_t seed) {
    // Values are windows into one pool of bytes that need no escaping in any of the forms.
    static constexpr std::string_view kAlphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:-_+*()[]{}!?#%$@=/";
    Rng rng(seed);
    std::string pool(valueBytes + 65536, ' ');
    for (char& c : pool) c = kAlphabet[rng.Below(kAlphabet.size())];

    Forms forms;
    Writer w(forms, true);
    for (uint64_t i = 0; i < leaves; ++i) {
        const size_t at = static_cast<size_t>(rng.Below(pool.size() - valueBytes + 1));
        w.Leaf(rng.Pick(kLeafNames), std::string_view(pool).substr(at, valueBytes));
    }
    w.Finish();
    return forms;
}

Forms MakeDeep(uint64_t depth, bool indented) {
    Forms forms;
    Writer w(forms, indented);
    for (uint64_t i = 0; i < depth; ++i) w.Open(kBlocks[i % std::size(kBlocks)]);
    w.Finish();
    return forms;
}

Forms MakeSiblingsAtDepth(uint64_t depth, uint64_t siblings) {
    Forms forms;
    Writer w(forms, true);
    for (uint64_t i = 0; i < depth; ++i) w.Open(kBlocks[i % std::size(kBlocks)]);
    for (uint64_t i = 0; i < siblings; ++i) {
        w.Open(kBlocks[i % std::size(kBlocks)]);
        w.Close();
    }
    w.Finish();
    return forms;
}

}  // namespace bench
