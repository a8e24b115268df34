#include "reader/file_reading.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "parallel/shares.hpp"
#include "reader/fasta_reader.hpp"
#include "reader/gzip_reading.hpp"

namespace ntpepmap::reader {
namespace {

// A large FASTA file is read side by side, a run of whole records per thread: the records are
// laid out, then each run's letters are copied into the set's buffer at the run's own place in
// it (a run's letters are never more than its text), so that the letters are copied once. The
// few bytes left between runs are never looked at. Anything unusual (text that is not plain
// FASTA, a refused identifier, letters beyond ASCII) is left to the plain reading, which reads
// it or says what is wrong.
class FastaSideBySide {
public:
    FastaSideBySide(std::string_view text, const LetterClasses& classes) : text_(text), classes_(classes) {}

    // Adds the records to the set; false, with nothing added, when the plain reading must go on.
    bool read(RecordSet& set) {
        if (!lay_out()) return false;
        const std::size_t base = set.letters_size();
        char* const letters = set.reserve_letters(text_.size());
        if (!copy_letters(letters)) return false;
        hand_over(set, base);
        return true;
    }

private:
    static constexpr std::size_t LEAST_RUN_BYTES = std::size_t{1} << 20;

    bool lay_out() {
        const std::size_t parts = std::min<std::size_t>(parallel::threads_to_run(0), text_.size() / LEAST_RUN_BYTES);
        if (parts < 1) return false;
        // One run too, on one thread: the letters go straight into the set's buffer, not
        // through the plain reading's, which would copy a long record's letters twice.
        const std::optional<std::vector<std::string_view>> runs = fasta_runs(text_, parts);
        if (!runs) return false;
        runs_ = *runs;
        laid_out_.resize(runs_.size());
        std::vector<std::uint8_t> fine(runs_.size());
        parallel::run_shares(runs_.size(), [&](std::size_t run) {
            fine[run] = lay_out_fasta(runs_[run], laid_out_[run]);
        });
        return std::find(fine.begin(), fine.end(), 0) == fine.end();
    }

    // False when a record holds letters beyond ASCII, control bytes or frameshift digits, which are read line
    // by line by the plain reading.
    bool copy_letters(char* letters) {
        std::vector<std::size_t> firsts(runs_.size());
        for (std::size_t run = 1; run < runs_.size(); ++run) firsts[run] = firsts[run - 1] + laid_out_[run - 1].size();
        places_.resize(firsts.empty() ? 0 : firsts.back() + laid_out_.back().size());
        parallel::run_shares(runs_.size(), [&](std::size_t run) {
            std::size_t index = firsts[run];
            std::size_t next = static_cast<std::size_t>(runs_[run].data() - text_.data());
            for (const FastaRecordText& record : laid_out_[run]) {
                Place& place = places_[index++];
                place.start = next;
                place.count = reader::copy_letters(record.body, classes_, letters + next, place.facts);
                next += place.count;
            }
        });
        return std::all_of(places_.begin(), places_.end(), [&](const Place& place) {
            return !place.facts.lines_to_check() && !place.facts.digits_to_read(classes_);
        });
    }

    void hand_over(RecordSet& set, std::size_t base) {
        std::size_t index = 0;
        for (const std::vector<FastaRecordText>& run : laid_out_) {
            for (const FastaRecordText& record : run) {
                const Place& place = places_[index++];
                set.add_placed(record.identifier, record.header, base + place.start, place.count, place.facts);
            }
        }
    }

    struct Place {
        std::size_t start = 0;  // from the first letter the reading may write
        std::size_t count = 0;
        LetterFacts facts;
    };

    std::string_view text_;
    const LetterClasses& classes_;
    std::vector<std::string_view> runs_;
    std::vector<std::vector<FastaRecordText>> laid_out_;
    std::vector<Place> places_;
};

// Reads one text into the set: a whole file, or a run of whole FASTA records of one whose
// first line is `first_line`.
Format read_text(std::string_view text, std::optional<Format> format, const LetterClasses& classes, RecordSet& set,
                 std::size_t first_line = 1) {
    if ((!format || *format == Format::fasta) && FastaSideBySide(text, classes).read(set)) return Format::fasta;
    return read_records(text, format, classes, set, {first_line, set.records_in_file() + 1});
}

}  // namespace

void read_file(std::string_view text, std::optional<Format> format, const LetterClasses& classes,
               RecordSet& set, std::size_t room) {
    set.start_file(std::max(text.size(), room));
    set.set_format(read_text(text, format, classes, set));
}

FileInPieces::FileInPieces(std::optional<Format> format, const LetterClasses& classes, RecordSet& set,
                           std::size_t expected_size)
    : format_(format), classes_(classes), set_(set), by_runs_(format == Format::fasta),
      fasta_(classes, set, [this](std::string_view run, TextStart start) {
          const std::size_t before = set_.size();
          (void)read_text(run, Format::fasta, classes_, set_, start.line);
          return set_.size() - before;
      }) {
    // Room reserved once for about the whole text: a buffer grown as the pieces come faults
    // its pages in one by one; what is reserved and never written costs no memory.
    set.start_file(expected_size);
}

void FileInPieces::take(std::string_view piece) {
    if (by_runs_) {
        fasta_.take(piece);
    } else {
        whole_.append(piece);
    }
}

void FileInPieces::finish() {
    if (!by_runs_) {
        set_.set_format(read_text(whole_, format_, classes_, set_));
        return;
    }
    fasta_.finish();
    set_.set_format(Format::fasta);
}

void read_whole_file(std::string_view bytes, std::optional<Format> format, const LetterClasses& classes,
                     RecordSet& set, std::size_t room) {
    if (gzip_inflated_here() && is_gzip(bytes)) {
        read_gzip_file(bytes, format, classes, set);
    } else {
        read_file(bytes, format, classes, set, room);
    }
}

}  // namespace ntpepmap::reader
