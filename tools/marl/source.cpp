#include "source.h"

#include <utility>

#include "input.h"

namespace MarlTool {

std::optional<marl::Source> Load(const std::string& name, std::size_t mostProblems) {
    std::string bytes;
    if (!Read(name, bytes)) return std::nullopt;
    return marl::Source::load_text(std::move(bytes), name == "-" ? "<stdin>" : name,
                                   mostProblems);
}

std::optional<marl::position> Where(const marl::Source& source, marl::tag tag) {
    return source.where(tag);
}
const std::vector<marl::diagnostic>& Problems(const marl::Source& source) {
    return source.problems();
}
const marl::problem_counts& Counted(const marl::Source& source) { return source.counted(); }
std::string Edited(const marl::Source& source) { return source.to_string(); }

}  // namespace MarlTool
