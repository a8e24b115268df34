// Self-checks of the native gzip reading that Python cannot reach: texts inflated in blocks
// of any size, cut anywhere (inside a record, a line end, a character of several bytes), in
// one member or several with zero bytes between them, read as the plain text is (the same
// records, or the same message); damaged data refused in one line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "reader/file_reading.hpp"
#include "reader/gzip_reading.hpp"
#include "reader/read_error.hpp"

#ifdef NTPEPMAP_WITH_ISAL
#include <isa-l/igzip_lib.h>

namespace {

using namespace ntpepmap::reader;

std::vector<std::string> failures;

void check(bool condition, const std::string& what) {
    if (!condition) failures.push_back(what);
}

// One gzip member of the text, by ISA-L's own deflate.
std::string gzipped(std::string_view text) {
    std::string packed(text.size() + 1024, '\0');
    isal_zstream stream;
    isal_deflate_stateless_init(&stream);
    stream.gzip_flag = IGZIP_GZIP;
    stream.end_of_stream = 1;
    stream.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<std::uint32_t>(text.size());
    stream.next_out = reinterpret_cast<std::uint8_t*>(packed.data());
    stream.avail_out = static_cast<std::uint32_t>(packed.size());
    if (isal_deflate_stateless(&stream) != COMP_OK) std::abort();
    packed.resize(stream.total_out);
    return packed;
}

// The records of a reading, or its message.
template <class Read>
std::string outcome(Read read) {
    const LetterClasses classes("ACGT");
    RecordSet set;
    try {
        read(classes, set);
    } catch (const ReadError& error) {
        return error.what();
    }
    std::string kept;
    for (std::size_t index = 0; index < set.size(); ++index) {
        kept.append(set.header(index)).append("|").append(set.sequence(index)).append("|");
        kept += set.facts(index).ascii() ? 'a' : 'u';
        kept += '\n';
    }
    return kept;
}

std::string long_record(std::size_t letters) {
    std::string text = ">long x\n";
    for (std::size_t index = 0; index < letters; ++index) text += index % 61 == 60 ? '\n' : "ACGT"[index % 4];
    return text + "\n";
}

std::string many_records(std::size_t count, const char* line_end) {
    std::string text;
    for (std::size_t index = 0; index < count; ++index) {
        text += ">r" + std::to_string(index) + " gene" + line_end;
        for (std::size_t letter = 0; letter < 100 + index % 37; ++letter) text += "ACGTN"[(letter + index) % 5];
        text += line_end;
    }
    return text;
}

void read_as_plain(const std::string& name, const std::string& text) {
    const std::string plain = outcome([&](const LetterClasses& classes, RecordSet& set) {
        read_file(text, Format::fasta, classes, set);
    });
    const std::string half = text.substr(0, text.size() / 2);
    const std::string forms[] = {gzipped(text),
                                 gzipped(half) + std::string(3, '\0') + gzipped(text.substr(half.size())),
                                 gzipped(text) + std::string(100, '\0')};
    for (const std::string& packed : forms) {
        for (const std::size_t block : {1UL, 7UL, 1000UL, 4096UL, 1UL << 18}) {
            const std::string inflated = outcome([&](const LetterClasses& classes, RecordSet& set) {
                read_gzip_file(packed, Format::fasta, classes, set, block);
            });
            check(inflated == plain, name + ": read otherwise in blocks of " + std::to_string(block));
        }
    }
}

void refuse_damaged() {
    const std::string packed = gzipped(many_records(300, "\n"));
    std::string bad_checksum = packed;
    bad_checksum[bad_checksum.size() - 6] ^= 1;
    std::string bad_block = packed;
    bad_block[12] = '\xff';
    const std::string damaged[] = {packed.substr(0, packed.size() - 9), packed.substr(0, 5), bad_checksum, bad_block,
                                   packed + "\x01\x02\x03", packed + std::string(4, '\0') + "\x1f\x8b\x08"};
    for (const std::string& data : damaged) {
        const std::string message = outcome([&](const LetterClasses& classes, RecordSet& set) {
            read_gzip_file(data, Format::fasta, classes, set, 1000);
        });
        check(message.starts_with("damaged gzip data: ") && message.find('\n') == std::string::npos,
              "damaged data read as '" + message.substr(0, 60) + "'");
    }
}

}  // namespace

int main() {
    read_as_plain("many records", many_records(400, "\n"));
    read_as_plain("crlf", many_records(50, "\r\n"));
    read_as_plain("a long record", many_records(3, "\n") + long_record(1200000) + many_records(3, "\n"));
    read_as_plain("characters of several bytes", ">a \xC3\xA9\xE2\x82\xAC\nAC\xC3\xA9GT\n" + many_records(20, "\n"));
    read_as_plain("a refused identifier late", many_records(200, "\n") + ">\nACGT\n");
    read_as_plain("white space alone", std::string(5000, '\n'));
    refuse_damaged();
    for (const std::string& failure : failures) std::fprintf(stderr, "%s\n", failure.c_str());
    std::printf("gzip readings against plain ones: %zu failures\n", failures.size());
    return failures.empty() ? 0 : 1;
}

#else

int main() {
    std::printf("built without ISA-L: gzip data is inflated in Python\n");
    return ntpepmap::reader::gzip_inflated_here() ? 1 : 0;
}

#endif
