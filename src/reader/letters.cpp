#include "reader/letters.hpp"

namespace ntpepmap::reader {

LetterClasses::LetterClasses(std::string_view plain) noexcept {
    for (const char letter : plain) {
        auto& bits = table_[static_cast<unsigned char>(letter)];
        if ((bits & (KEEP | NON_ASCII)) == KEEP) bits = KEEP;
    }
}

}  // namespace ntpepmap::reader
