// The command line's words for an enumeration's values, looked up either way.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace common {

template <typename Value>
struct Named {
    std::string_view name;  // a string literal, so name.data() ends in a NUL
    Value value;
};

template <typename Value, std::size_t N>
std::optional<Value> valueNamed(const std::array<Named<Value>, N>& table, std::string_view name) {
    for (const Named<Value>& entry : table)
        if (entry.name == name) return entry.value;
    return std::nullopt;
}

// "?" for a value the table lacks.
template <typename Value, std::size_t N>
const char* nameOf(const std::array<Named<Value>, N>& table, Value value) {
    for (const Named<Value>& entry : table)
        if (entry.value == value) return entry.name.data();
    return "?";
}

}  // namespace common
