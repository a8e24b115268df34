#include "module/python_text.hpp"

#include "module/errors.hpp"

#include <cstdint>
#include <cstring>

namespace ntpepmap::module {
bool is_ascii(std::string_view text) noexcept {
    constexpr std::uint64_t HIGH_BITS = 0x8080808080808080ULL;
    const char* data = text.data();
    std::size_t remaining = text.size();
    std::uint64_t seen = 0;
    for (; remaining >= sizeof seen; remaining -= sizeof seen, data += sizeof seen) {
        std::uint64_t word = 0;
        std::memcpy(&word, data, sizeof word);
        seen |= word;
    }
    for (; remaining > 0; --remaining, ++data) {
        seen |= static_cast<unsigned char>(*data);
    }
    return (seen & HIGH_BITS) == 0;
}

PyRef to_python_str(std::string_view utf8) {
    const auto length = static_cast<Py_ssize_t>(utf8.size());
    if (!is_ascii(utf8)) {
        return checked(PyUnicode_DecodeUTF8(utf8.data(), length, nullptr));
    }
    PyRef text = checked(PyUnicode_New(length, 127));
    if (length > 0) {
        std::memcpy(ascii_data(text.get()), utf8.data(), utf8.size());
    }
    return text;
}

PyRef to_python_str_or_none(const std::optional<std::string>& utf8) {
    if (!utf8) {
        return PyRef::new_reference(Py_None);
    }
    return to_python_str(*utf8);
}

}  // namespace ntpepmap::module
