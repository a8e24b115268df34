#include "engine/engine.hpp"

#include <algorithm>
#include <cstring>

#include "translator/streamline.hpp"

namespace ntpepmap::engine {
namespace {

constexpr std::size_t TRIPLET = 3;
// A 3'-partial codon is taken as such when this many residues before it read their codons.
constexpr std::size_t PARTIAL_CLEAR_RESIDUES = 8;

// Keeps the translator's framed report, or lets it go.
class ReportKeeper final : public ReportSink {
public:
    explicit ReportKeeper(std::string* kept) : kept_(kept) {}
    void write(std::string_view report) override {
        if (kept_ != nullptr) kept_->append(report);
    }

private:
    std::string* kept_;
};

std::size_t residue_count(std::string_view peptide) noexcept {
    return peptide.size() - static_cast<std::size_t>(std::count(peptide.begin(), peptide.end(), '-'));
}

// The first codon of `codons` spelt with three plain bases, or nothing.
std::string_view first_plain_codon(const CodonList& codons) noexcept {
    for (const std::string& codon : codons) {
        if (codon.size() == TRIPLET &&
            codon_number(static_cast<unsigned char>(codon[0]), static_cast<unsigned char>(codon[1]),
                         static_cast<unsigned char>(codon[2])) < 64)
            return codon;
    }
    return {};
}

}  // namespace

void RecordOutcome::clear() noexcept {
    row.clear();
    fate = RecordFate::written;
    problems.clear();
    residues = nucleotides = failed = without_nucleotides = 0;
    located = false;
    stop_trimmed = false;
    cds_gaps = 0;
    placements.reset();
    stops.clear();
    report.clear();
    frameshifts.clear();
    resolved.clear();
    partial_codon = 0;
}

// Notes each failing residue and gives the translator the codon to write in its place.
class Engine::FailureRecorder final : public SiteFailureObserver {
public:
    FailureRecorder(const Engine& engine, std::string_view peptide, RecordOutcome& outcome)
        : engine_(engine), peptide_(peptide), outcome_(outcome) {}

    std::string_view failed(std::size_t site, std::size_t cursor, SiteFailure reason) override {
        if (reason == SiteFailure::too_few_nucleotides) {
            if (outcome_.without_nucleotides++ == 0) note(site, cursor, reason);
            return {};
        }
        ++outcome_.failed;
        if (!engine_.spares_notes(outcome_)) note(site, cursor, reason);
        const std::string_view written = engine_.letters_.written().substr(cursor, TRIPLET);
        if (engine_.options_.mismatch == MismatchPolicy::keep) return written;
        copy_case(written, "NNN", mask_);
        return {mask_, TRIPLET};
    }

private:
    void note(std::size_t site, std::size_t cursor, SiteFailure reason) {
        const std::string_view checked = engine_.letters_.checked().substr(cursor, TRIPLET);
        outcome_.problems.push_back(SiteProblem{
            reason, site + 1, cursor / TRIPLET + 1, peptide_[site],
            std::string(engine_.letters_.given().substr(cursor, TRIPLET)),
            reason == SiteFailure::too_few_nucleotides ? std::u32string() : engine_.code_.letters_encoded_by(checked)});
    }

    const Engine& engine_;
    std::string_view peptide_;
    RecordOutcome& outcome_;
    char mask_[TRIPLET] = {};
};

void Engine::translate(std::string_view file_stem, std::string_view name, std::string_view row, std::string_view cds,
                       RecordOutcome& outcome, const KnownFacts& known) {
    outcome.clear();
    std::optional<std::size_t> gaps = known.row_gaps;
    const std::string_view streamlined = gaps ? row : streamline_peptide(row, peptide_storage_, gaps);
    // A digit is streamlined away, so only a row that streamlining changed may hold one.
    if (streamlined.data() != row.data() && translate_frameshift_digits(file_stem, name, row, cds, outcome)) return;
    letters_.prepare(cds, options_.letters, known.cds_acgt);
    outcome.cds_gaps = cds.size() - letters_.given().size();
    const std::string_view peptide = with_read_through_residues(row, streamlined, peptide_storage_);
    // A row read as it is had its gaps counted as it was streamlined.
    outcome.residues = peptide.data() == streamlined.data() && gaps ? peptide.size() - *gaps : residue_count(peptide);
    if (options_.trim_stop) outcome.stop_trimmed = trim_terminal_stop(outcome.residues);
    if (letters_.checked().size() < TRIPLET * outcome.residues && !options_.keep_short) {
        if (translate_partial_codon(file_stem, name, peptide, outcome)) return;
        letters_.prepare(cds, options_.letters, known.cds_acgt);
        outcome.nucleotides = letters_.checked().size();
        outcome.fate = RecordFate::too_short;
        // A CDS that lost a nucleotide or two, or whole codons, may hold them all the same.
        retry_with_frameshifts(file_stem, name, peptide, cds, outcome);
        return;
    }
    // Searched first when the length cannot be right: neither the residues nor they and a stop codon.
    const std::size_t nucleotides = letters_.checked().size();
    const bool length_fits = nucleotides == TRIPLET * outcome.residues || nucleotides == TRIPLET * (outcome.residues + 1);
    // The coding region found here is read once, by the translation, which settles whether it
    // is a placement at all.
    if (!length_fits && may_search(outcome) && !locate(peptide, outcome, true)) {
        leave_unplaced(nucleotides, outcome);
        retry_with_frameshifts(file_stem, name, peptide, cds, outcome);
        return;
    }
    accept_start_codon(peptide);
    back_translate(file_stem, name, peptide, outcome);
    if (outcome.located && !placement_holds(outcome)) {
        leave_unplaced(nucleotides, outcome);
        retry_with_frameshifts(file_stem, name, peptide, cds, outcome);
        return;
    }
    if (spares_notes(outcome)) {  // it holds all the same: read again, every failure noted
        placement_verified_ = true;
        back_translate(file_stem, name, peptide, outcome);
    }
    // Then when most residues fail: a shifted frame or the wrong stretch.
    if (2 * outcome.failed > outcome.residues && !outcome.located && may_search(outcome) &&
        locate(peptide, outcome, false)) {
        accept_start_codon(peptide);
        back_translate(file_stem, name, peptide, outcome);
    }
    decide_fate(outcome);
    if (outcome.fate == RecordFate::written) {
        find_stop_codons(peptide, letters_, code_.lookup(), options_.stops, outcome);
        // A run of failures: a codon gained or lost, or a frameshift, that straight reading passes over.
        if (shows_shifted_run(outcome)) retry_with_frameshifts(file_stem, name, peptide, cds, outcome);
    } else if (outcome.fate == RecordFate::dropped && shows_shifted_run(outcome)) {
        retry_with_frameshifts(file_stem, name, peptide, cds, outcome);
    } else if (outcome.fate == RecordFate::wrong_pairing) {
        // Read in a frame of its own, such a record's letters are not those stop codons are found in.
        retry_with_frameshifts(file_stem, name, peptide, cds, outcome);
    }
}

// A CDS one or two nucleotides short of its residues' codons, 3'-partial (GenBank's /partial):
// its last codon completed with N is written when the codons before it read straight, with no
// run of failures and none in the last few (a frameshift inside is threaded as such). False, the outcome cleared of the
// try, otherwise.
bool Engine::translate_partial_codon(std::string_view file_stem, std::string_view name, std::string_view peptide,
                                     RecordOutcome& outcome) {
    const std::size_t missing = TRIPLET * outcome.residues - letters_.checked().size();
    if (missing > 2 || outcome.residues <= PARTIAL_CLEAR_RESIDUES) return false;
    const std::size_t residues = outcome.residues;
    letters_.complete_last_codon(missing);
    accept_start_codon(peptide);
    back_translate(file_stem, name, peptide, outcome);
    decide_fate(outcome);
    // A failure near the end may as well be a frameshift there, which the threading tells.
    const auto near_end = [&](const SiteProblem& problem) {
        return problem.residue_number + PARTIAL_CLEAR_RESIDUES > residues;
    };
    if (outcome.fate != RecordFate::written || shows_shifted_run(outcome) ||
        std::any_of(outcome.problems.begin(), outcome.problems.end(), near_end)) {
        outcome.clear();
        outcome.residues = residues;
        return false;
    }
    find_stop_codons(peptide, letters_, code_.lookup(), options_.stops, outcome);
    outcome.partial_codon = TRIPLET - missing;
    return true;
}

// A stop codon just beyond the residues ends the CDS; it has no residue of its own to be written under.
bool Engine::trim_terminal_stop(std::size_t residues) {
    const std::string_view checked = letters_.checked();
    if (checked.size() != TRIPLET * (residues + 1)) return false;
    const std::string_view last = checked.substr(checked.size() - TRIPLET);
    const unsigned number = codon_number(static_cast<unsigned char>(last[0]), static_cast<unsigned char>(last[1]),
                                         static_cast<unsigned char>(last[2]));
    if (number >= 64 || (options_.terminal_stops >> number & 1u) == 0) return false;
    letters_.drop_last_triplet();
    return true;
}

// A peptide without residues has no coding region to look for, and a CDS shorter than the
// residues' codons cannot hold one.
bool Engine::may_search(const RecordOutcome& outcome) const noexcept {
    return options_.locate && outcome.residues > 0 && letters_.checked().size() >= TRIPLET * outcome.residues;
}

bool Engine::locate(std::string_view peptide, RecordOutcome& outcome, bool leave_verification) {
    if (!locator_) locator_.emplace(code_.lookup(), code_.start_codons());
    const std::string_view checked = letters_.checked();
    const locate::LocateResult found =
        locator_->locate(peptide, checked, options_.both_strands, leave_verification, letters_.acgt_only());
    outcome.placements = found.placements;
    placement_verified_ = found.verified;
    if (!found.placement) return false;
    const locate::NucleotideSpan span = locate::forward_span(*found.placement, checked.size());
    letters_.keep_region(span.begin, span.end, found.placement->strand == locate::Strand::reverse);
    outcome.located = true;
    return true;
}

// Reading a placement the search left unread, the failures past the tolerance are counted but
// not described: such a placement mostly does not hold (a frameshift, the wrong stretch).
// Describing them would cost L as mRNA with 5 % of its records frameshifted 62 % more instructions.
bool Engine::spares_notes(const RecordOutcome& outcome) const noexcept {
    return outcome.located && !placement_verified_ && outcome.failed > locate::mismatch_tolerance(outcome.residues);
}

// A placement the search left unread holds when the translation fails no more residues than
// the tolerance; when it fails more, the search's own reading decides, as it forgives a little
// more (N in a triplet that cuts a character, say).
bool Engine::placement_holds(const RecordOutcome& outcome) const noexcept {
    return placement_verified_ || outcome.failed <= locate::mismatch_tolerance(outcome.residues) ||
           locator_->within_tolerance(letters_.checked());
}

void Engine::leave_unplaced(std::size_t nucleotides, RecordOutcome& outcome) const {
    const std::size_t residues = outcome.residues;
    const std::optional<std::size_t> placements = outcome.located ? std::optional<std::size_t>(0) : outcome.placements;
    outcome.clear();
    outcome.residues = residues;
    outcome.nucleotides = nucleotides;
    outcome.placements = placements;
    outcome.fate = RecordFate::unplaced;
}

// An initiator M over one of the code's start codons is no mismatch: it is checked as the
// code's own M codon and written as the CDS has it.
void Engine::accept_start_codon(std::string_view peptide) {
    const std::size_t first = peptide.find_first_not_of('-');
    const std::string_view checked = letters_.checked();
    if (first == std::string_view::npos || peptide[first] != 'M' || checked.size() < TRIPLET) return;
    const unsigned number = codon_number(static_cast<unsigned char>(checked[0]), static_cast<unsigned char>(checked[1]),
                                         static_cast<unsigned char>(checked[2]));
    const CodonLookupEntry& m = code_.lookup()['M'];
    if (number >= 64 || m.codons == nullptr || (code_.start_codons() >> number & 1u) == 0 ||
        (m.plain_codons >> number & 1u) != 0)
        return;
    const std::string_view codon = first_plain_codon(*m.codons);
    if (!codon.empty()) letters_.replace_checked_triplet(0, codon);
}

void Engine::back_translate(std::string_view file_stem, std::string_view name, std::string_view peptide,
                            RecordOutcome& outcome) {
    outcome.problems.clear();
    outcome.report.clear();
    outcome.failed = outcome.without_nucleotides = 0;
    outcome.nucleotides = letters_.checked().size();
    ReportKeeper sink(options_.keep_reports ? &outcome.report : nullptr);
    AminoAcidTranslator translator(name, peptide, name, letters_.checked(), file_stem, sink);
    FailureRecorder recorder(*this, peptide, outcome);
    translator.observe(&recorder);
    translator.do_checks();
    char* const begin = outcome.row.overwrite(translator.row_capacity());
    outcome.row.shorten(static_cast<std::size_t>(translator.translate_into(code_.lookup(), begin) - begin));
    outcome.resolved.clear();
    if (options_.note_resolved && !letters_.acgt_only()) note_resolved(peptide, outcome);
    if (!letters_.check_row_is_written_row(options_.letters)) write_given_letters(peptide, outcome);
}

// The residues whose codon the translation chose for an ambiguous triplet: the checked piece
// written differs from the triplet checked. Failed residues keep the piece they were given.
void Engine::note_resolved(std::string_view peptide, RecordOutcome& outcome) const {
    const std::string_view checked = letters_.checked();
    auto problem = outcome.problems.begin();
    std::size_t cursor = 0;
    for (std::size_t site = 0; site < peptide.size() && cursor + TRIPLET <= checked.size(); ++site) {
        if (peptide[site] == '-') continue;
        const bool failed = problem != outcome.problems.end() && problem->column == site + 1;
        if (failed) {
            ++problem;
        } else if (TRIPLET * (site + 1) <= outcome.row.size() &&
                   std::memcmp(outcome.row.data() + TRIPLET * site, checked.data() + cursor, TRIPLET) != 0) {
            outcome.resolved.push_back(site + 1);
        }
        cursor += TRIPLET;
    }
}

// The row holds the checked pieces: each residue's codon goes back to the CDS's own letters,
// or, under resolve_ambiguity, a resolved codon takes the case of the letters it replaces.
// Failed residues keep the piece they were given.
void Engine::write_given_letters(std::string_view peptide, RecordOutcome& outcome) const {
    const std::string_view written = letters_.written();
    const std::string_view checked = letters_.checked();
    auto problem = outcome.problems.begin();
    std::size_t cursor = 0;
    for (std::size_t site = 0; site < peptide.size() && cursor + TRIPLET <= written.size(); ++site) {
        if (peptide[site] == '-') continue;
        char* const piece = outcome.row.data() + TRIPLET * site;
        const bool failed = problem != outcome.problems.end() && problem->column == site + 1;
        if (failed) {
            ++problem;
        } else if (options_.letters.resolve_ambiguity && std::memcmp(piece, checked.data() + cursor, TRIPLET) != 0) {
            copy_case(written.substr(cursor, TRIPLET), piece, piece);
        } else {
            std::memcpy(piece, written.data() + cursor, TRIPLET);
        }
        cursor += TRIPLET;
    }
}

void Engine::decide_fate(RecordOutcome& outcome) const {
    if (2 * outcome.failed > outcome.residues) {
        outcome.fate = RecordFate::wrong_pairing;
    } else if (outcome.failed > 0 && options_.mismatch == MismatchPolicy::drop) {
        outcome.fate = RecordFate::dropped;
    } else {
        return;
    }
    outcome.row.clear();
}

}  // namespace ntpepmap::engine
