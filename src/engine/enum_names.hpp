#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ntpepmap::engine {

// The words the tool's options and reports use for an enum's values, in the enum's order: the one
// place those words live, beside each enum, so that a name is parsed and told alike everywhere.
template <class Enum, std::size_t Count>
struct EnumNames {
    std::array<std::string_view, Count> names;

    [[nodiscard]] constexpr std::string_view operator[](Enum value) const noexcept {
        return names[static_cast<std::size_t>(value)];
    }

    [[nodiscard]] constexpr std::optional<Enum> value_named(std::string_view name) const noexcept {
        for (std::size_t index = 0; index < Count; ++index) {
            if (names[index] == name) return static_cast<Enum>(index);
        }
        return std::nullopt;
    }

    // The names quoted, as a refusal lists them: 'a', 'b'.
    [[nodiscard]] std::string quoted() const {
        std::string listed;
        for (const std::string_view name : names) listed += (listed.empty() ? "'" : ", '") + std::string(name) + "'";
        return listed;
    }
};

template <class Enum, class... Names>
[[nodiscard]] constexpr EnumNames<Enum, sizeof...(Names)> enum_names(Names... names) noexcept {
    return {{std::string_view(names)...}};
}

}  // namespace ntpepmap::engine
