// Self-checks of the coding-region locator: what real transcripts hold, as one table of
// fixtures, then a randomized comparison with a quadratic reference that reads every
// strand, frame and offset literally.
//
// Given a protein FASTA file and a FASTA file of the mRNAs in the same record order (see
// benchmarks/generate.py --mrna), it times the locator over them instead:
//     check_locate PROTEIN.fasta MRNA.fasta [TABLE]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <numeric>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "iupac/iupac.hpp"
#include "locate/coding_region_locator.hpp"
#include "locate/frameshift_aligner.hpp"
#include "locate/reverse_complement.hpp"
#include "locate/stretch_matcher.hpp"
#include "tables/genetic_codes.hpp"
#include "translator/codon_lookup.hpp"

namespace {

using namespace ntpepmap;
using locate::CodingRegionLocator;
using locate::LocateResult;
using locate::Placement;
using locate::Strand;

int failures = 0;

void fail(const std::string& what) {
    ++failures;
    std::fprintf(stderr, "%s\n", what.c_str());
}

constexpr std::string_view AMINO_ACIDS = "ACDEFGHIKLMNPQRSTVWY";
constexpr std::string_view BASES = "TCAG";
constexpr std::string_view AMBIGUITY_LETTERS = "RYSWKMBDHVN";

const CodonTable& table(TableNumber number) { return *find_codon_table(number); }

unsigned number_of(std::string_view codon) {
    return codon_number(static_cast<unsigned char>(codon[0]), static_cast<unsigned char>(codon[1]),
                        static_cast<unsigned char>(codon[2]));
}

std::uint64_t codon_mask(std::initializer_list<std::string_view> codons) {
    std::uint64_t mask = 0;
    for (const std::string_view codon : codons) mask |= std::uint64_t{1} << number_of(codon);
    return mask;
}

// NCBI's start codons of tables 1 and 11.
const std::uint64_t STANDARD_STARTS = codon_mask({"TTG", "CTG", "ATG"});
const std::uint64_t BACTERIAL_STARTS = codon_mask({"TTG", "CTG", "ATT", "ATC", "ATA", "ATG", "GTG"});

std::string codon_text(std::size_t number) {
    return {BASES[number / 16], BASES[number / 4 % 4], BASES[number % 4]};
}

// Upper-case complement, letter by letter from a list of pairs.
std::string reverse_complement(std::string_view text) {
    constexpr std::string_view LETTERS = "ATCGRYKMBVDH";
    constexpr std::string_view PARTNERS = "TAGCYRMKVBHD";
    std::string result;
    for (auto letter = text.rbegin(); letter != text.rend(); ++letter) {
        const std::size_t pair = LETTERS.find(*letter);
        result += pair == std::string_view::npos ? *letter : PARTNERS[pair];
    }
    return result;
}

// Every plain codon the triplet can be read as, each ambiguity letter resolved in turn.
std::vector<std::string> plain_readings(std::string_view triplet) {
    std::vector<std::string> readings{""};
    for (const char letter : triplet) {
        const std::string_view bases = BASES.find(letter) != std::string_view::npos
                                           ? std::string_view(&letter, 1)
                                           : IUPAC_CODES[static_cast<unsigned char>(letter)];
        std::vector<std::string> longer;
        for (const std::string& reading : readings) {
            for (const char base : bases) longer.push_back(reading + base);
        }
        readings = std::move(longer);
    }
    return readings;
}

bool listed(const CodonList& codons, const std::string& codon) {
    return std::find(codons.begin(), codons.end(), codon) != codons.end();
}

bool readable_as_one_of(std::string_view triplet, const CodonList& codons) {
    const std::vector<std::string> readings = plain_readings(triplet);
    return std::any_of(readings.begin(), readings.end(),
                       [&](const std::string& reading) { return listed(codons, reading); });
}

std::string random_codon(std::mt19937& random) { return codon_text(random() % 64); }

std::string random_protein(std::mt19937& random, std::size_t length) {
    std::string protein = "M";
    while (protein.size() < length) protein += AMINO_ACIDS[random() % AMINO_ACIDS.size()];
    return protein;
}

// One codon of each residue's list, drawn at random; any codon for a residue without one.
std::string encode(std::string_view residues, const CodonTable& codon_table, std::mt19937& random) {
    std::string cds;
    for (const char residue : residues) {
        const auto entry = codon_table.find(static_cast<char32_t>(residue));
        const bool has_codons = entry != codon_table.end() && !entry->second.empty();
        cds += has_codons ? entry->second[random() % entry->second.size()] : random_codon(random);
    }
    return cds;
}

std::string codon_of_another_residue(const CodonTable& codon_table, char residue, std::mt19937& random) {
    const CodonList& own = codon_table.at(static_cast<char32_t>(residue));
    const CodonList& stops = codon_table.at(U'*');
    for (;;) {
        std::string codon = random_codon(random);
        if (std::find(own.begin(), own.end(), codon) == own.end() &&
            std::find(stops.begin(), stops.end(), codon) == stops.end())
            return codon;
    }
}

// The CDS with the codons at these sites replaced by codons of other residues.
std::string mismatched(std::string cds, std::string_view protein, std::initializer_list<std::size_t> sites,
                       const CodonTable& codon_table, std::mt19937& random) {
    for (const std::size_t site : sites) {
        cds.replace(3 * site, 3, codon_of_another_residue(codon_table, protein[site], random));
    }
    return cds;
}

// The CDS with one base of every fifth codon given an ambiguity letter that covers it, and
// every 23rd codon NNN: each triplet can still be read as its residue.
std::string softened(std::string cds, std::mt19937& random) {
    for (std::size_t site = 0; 3 * site < cds.size(); site += 5) {
        char& base = cds[3 * site + site % 3];
        for (;;) {
            const char letter = AMBIGUITY_LETTERS[random() % AMBIGUITY_LETTERS.size()];
            if (IUPAC_CODES[static_cast<unsigned char>(letter)].find(base) == std::string_view::npos) continue;
            base = letter;
            break;
        }
    }
    for (std::size_t site = 11; 3 * site < cds.size(); site += 23) cds.replace(3 * site, 3, "NNN");
    return cds;
}

// The CDS with the codons at these sites replaced by ambiguous triplets no reading of which
// is a codon of the residue.
std::string unreadable(std::string cds, std::string_view protein, std::initializer_list<std::size_t> sites,
                       const CodonTable& codon_table, std::mt19937& random) {
    for (const std::size_t site : sites) {
        const CodonList& own = codon_table.at(static_cast<char32_t>(protein[site]));
        for (;;) {
            std::string triplet = codon_of_another_residue(codon_table, protein[site], random);
            triplet[2] = AMBIGUITY_LETTERS[random() % (AMBIGUITY_LETTERS.size() - 1)];
            if (!readable_as_one_of(triplet, own)) {
                cds.replace(3 * site, 3, triplet);
                break;
            }
        }
    }
    return cds;
}

std::string describe(const LocateResult& result) {
    std::string text = std::to_string(result.placements) + " placement(s)";
    if (const auto& placement = result.placement) {
        text += placement->strand == Strand::forward ? ", forward" : ", reverse";
        text += " at " + std::to_string(placement->offset) + " for " + std::to_string(placement->length);
        text += placement->stop_follows ? ", stop after" : ", no stop after";
    }
    return text;
}

bool same(const LocateResult& got, const LocateResult& expected) {
    if (got.placements != expected.placements || got.placement.has_value() != expected.placement.has_value())
        return false;
    if (!got.placement) return true;
    const Placement& a = *got.placement;
    const Placement& b = *expected.placement;
    return a.strand == b.strand && a.offset == b.offset && a.length == b.length && a.stop_follows == b.stop_follows;
}

void check_result(const LocateResult& got, const LocateResult& expected, const std::string& name) {
    if (!same(got, expected)) fail(name + ":\n  got      " + describe(got) + "\n  expected " + describe(expected));
}

struct Fixture {
    std::string name;
    TableNumber table;
    std::uint64_t start_codons;
    std::string residues;
    std::string sequence;
    bool both_strands;
    LocateResult expected;
};

LocateResult found(Strand strand, std::size_t offset, std::size_t length, bool stop_follows) {
    return {1, Placement{strand, offset, length, stop_follows}};
}

LocateResult placements(std::size_t count) { return {count, std::nullopt}; }

std::vector<Fixture> fixtures() {
    std::mt19937 random(7);
    const CodonTable& standard = table(1);
    const std::string protein = random_protein(random, 120);  // a tolerance of 2 mismatches
    const std::string cds = encode(protein, standard, random);
    const std::size_t stretch = cds.size();
    // 35 nt, so the CDS after it is in frame 2, where ATG at 2 and 29 run into TAA at 8 and TAG at 32;
    // frame 0 has ATGs at 12 and 18 and stops at 15 and 24.
    const std::string utr5 = "GC" "ATGGCCTAA" "CATGTGA" "ATGAAATAG" "GGATGTAG";
    const std::string utr3 = "GCATTTCACTGGCTACAATCCG";
    const std::string mrna = utr5 + cds + "TAA" + utr3;

    const std::string ending_in_lysines = protein + "KKKKKK";
    const std::string lysine_cds = encode(ending_in_lysines, standard, random);
    const std::string poly_a(60, 'A');

    const std::string domain = random_protein(random, 40);
    const std::string repeated =
        utr5 + encode(domain, standard, random) + encode(domain, standard, random) + encode(domain, standard, random);

    const std::string gtg_start = "GTG" + mismatched(cds, protein, {40, 80}, standard, random).substr(3);
    const std::string long_protein = random_protein(random, 250);  // a tolerance of 5
    const std::string long_cds = encode(long_protein, standard, random);

    const auto forward = [&](std::size_t offset, bool stop) { return found(Strand::forward, offset, stretch, stop); };
    return {
        {"upstream ATGs and in-frame stops in the 5' UTR", 1, STANDARD_STARTS, protein, mrna, false, forward(35, true)},
        {"a partial leading codon", 1, STANDARD_STARTS, protein, "GA" + cds + "TGA", false, forward(2, true)},
        {"poly-A after the stop codon", 1, STANDARD_STARTS, ending_in_lysines, lysine_cds + "TAG" + poly_a, false,
         found(Strand::forward, 0, lysine_cds.size(), true)},
        {"poly-A right after the last codon", 1, STANDARD_STARTS, ending_in_lysines, "C" + lysine_cds + poly_a, true,
         found(Strand::forward, 1, lysine_cds.size(), false)},
        {"a 3' UTR holding the start in another frame", 1, STANDARD_STARTS, protein,
         utr5 + cds + "TAA" + "G" + cds.substr(0, 90) + utr3, true, forward(35, true)},
        {"a repeated domain: two placements", 1, STANDARD_STARTS, domain + domain, repeated + "TAA", false,
         placements(2)},
        {"the reverse strand", 1, STANDARD_STARTS, protein, reverse_complement(mrna), true,
         found(Strand::reverse, 35, stretch, true)},
        {"the reverse strand, not searched", 1, STANDARD_STARTS, protein, reverse_complement(mrna), false,
         placements(0)},
        {"the start codon GTG and two mismatches", 11, BACTERIAL_STARTS, protein, utr5 + gtg_start, false,
         forward(35, false)},
        {"GTG, not a start codon, and two mismatches", 11, 0, protein, utr5 + gtg_start, false, placements(0)},
        {"2 mismatches in 120 residues", 1, STANDARD_STARTS, protein,
         utr5 + mismatched(cds, protein, {0, 119}, standard, random) + utr3, false, forward(35, false)},
        {"3 mismatches in 120 residues", 1, STANDARD_STARTS, protein,
         utr5 + mismatched(cds, protein, {0, 60, 119}, standard, random) + utr3, false, placements(0)},
        {"5 mismatches in 250 residues", 1, STANDARD_STARTS, long_protein,
         utr5 + mismatched(long_cds, long_protein, {3, 50, 100, 150, 200}, standard, random) + "TGA", false,
         found(Strand::forward, 35, long_cds.size(), true)},
        {"6 mismatches in 250 residues", 1, STANDARD_STARTS, long_protein,
         utr5 + mismatched(long_cds, long_protein, {3, 50, 100, 150, 200, 249}, standard, random) + "TGA", false,
         placements(0)},
        {"ambiguous bases that can be read as the residue", 1, STANDARD_STARTS, protein,
         utr5 + softened(cds, random) + "TAR" + utr3, true, forward(35, true)},
        {"ambiguous bases that cannot, 2 of them", 1, STANDARD_STARTS, protein,
         utr5 + unreadable(cds, protein, {5, 70}, standard, random) + "TNA" + utr3, false, forward(35, false)},
        {"ambiguous bases that cannot, 3 of them", 1, STANDARD_STARTS, protein,
         utr5 + unreadable(cds, protein, {5, 70, 100}, standard, random) + utr3, false, placements(0)},
        {"the CDS alone, no stop after it", 1, STANDARD_STARTS, protein, cds, true, forward(0, false)},
        {"a protein longer than the sequence", 1, STANDARD_STARTS, protein, cds.substr(3), true, placements(0)},
        {"a protein of gaps alone", 1, STANDARD_STARTS, "---", cds, true, placements(0)},
    };
}

void check_fixtures() {
    for (const Fixture& fixture : fixtures()) {
        const CodonLookup lookup(table(fixture.table));
        CodingRegionLocator locator(lookup, fixture.start_codons);
        check_result(locator.locate(fixture.residues, fixture.sequence, fixture.both_strands), fixture.expected,
                     fixture.name);
    }
}

void check_tolerance_and_spans() {
    const std::pair<std::size_t, std::size_t> tolerances[] = {{0, 2}, {1, 2}, {149, 2}, {150, 3}, {1000, 20}};
    for (const auto& [residues, tolerance] : tolerances) {
        if (locate::mismatch_tolerance(residues) != tolerance) fail("tolerance of " + std::to_string(residues));
    }
    const locate::NucleotideSpan forward = locate::forward_span({Strand::forward, 4, 9, false}, 20);
    const locate::NucleotideSpan reverse = locate::forward_span({Strand::reverse, 4, 9, false}, 20);
    if (forward.begin != 4 || forward.end != 13) fail("a forward span is the placement");
    if (reverse.begin != 7 || reverse.end != 16) fail("a reverse span is mirrored");
}

// Every diagonal of a run of `anchors_per_run` anchors must meet both strides: the strides
// coprime, the text's coprime with 3 too (it runs over all frames at once), their product no
// more than the anchors.
void check_probe_strides() {
    for (const std::size_t residues : {1UL, 40UL, 1000UL, 100000UL}) {
        for (const std::size_t codons : {3UL, 3500UL, 1000000UL}) {
            for (std::size_t anchors = 1; anchors <= 200; ++anchors) {
                const locate::ProbeStrides strides = locate::probe_strides(residues, codons, anchors);
                if (strides.protein == 0 || strides.text == 0 || strides.protein * strides.text > anchors ||
                    std::gcd(strides.protein, strides.text) != 1 || strides.text % 3 == 0)
                    fail("probe strides for " + std::to_string(anchors) + " anchors: " +
                         std::to_string(strides.protein) + " and " + std::to_string(strides.text));
            }
        }
    }
}

void check_reverse_complement_as_written() {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"ATGCatgc", "gcatGCAT"},
        {"RYKMSWBDHVN", "NBDHVWSKMRY"},
        {"ryk-msw.bdhvn", "nbdhv.wsk-mry"},
        {"AUGCaugc", "gcauGCAU"},  // RNA stays RNA
        {"ATGCU", "AGCAT"},        // U in DNA pairs with A, A with T
        {"AC*G\xc3\xa9", "\xa9\xc3" "C*GT"},
        {"", ""},
    };
    for (const auto& [written, expected] : cases) {
        std::string out = "kept:";
        locate::append_reverse_complement(written, out);
        if (out != "kept:" + std::string(expected)) fail("reverse complement of " + std::string(written) + ": " + out);
    }
}

// The rules read literally from the codon table, for one residue over one triplet.
bool reference_matches(const CodonTable& codon_table, const std::set<std::string>& starts, std::size_t site,
                       char residue, const std::string& triplet) {
    const auto entry = codon_table.find(static_cast<char32_t>(residue));
    if (entry == codon_table.end()) return false;
    if (residue == 'X' || triplet.find('N') != std::string::npos) return true;
    if (site == 0 && residue == 'M' && starts.contains(triplet)) return true;
    return listed(entry->second, triplet) || readable_as_one_of(triplet, entry->second);
}

// Every plain reading of the triplet is one of the table's stop codons.
bool reference_is_stop(const CodonTable& codon_table, const std::string& triplet) {
    const auto stops = codon_table.find(U'*');
    if (stops == codon_table.end()) return false;
    const std::vector<std::string> readings = plain_readings(triplet);
    return !readings.empty() && std::all_of(readings.begin(), readings.end(), [&](const std::string& reading) {
        return listed(stops->second, reading);
    });
}

LocateResult reference_locate(const CodonTable& codon_table, const std::set<std::string>& starts,
                              const std::string& residues, const std::string& sequence, bool both_strands) {
    LocateResult result;
    if (residues.empty()) return result;
    const std::size_t tolerance = std::max<std::size_t>(2, residues.size() * 2 / 100);
    const std::size_t stretch = 3 * residues.size();
    for (const Strand strand : {Strand::forward, Strand::reverse}) {
        if (strand == Strand::reverse && !both_strands) break;
        const std::string text = strand == Strand::forward ? sequence : reverse_complement(sequence);
        for (std::size_t offset = 0; offset + stretch <= text.size(); ++offset) {
            std::size_t mismatches = 0;
            for (std::size_t site = 0; site < residues.size() && mismatches <= tolerance; ++site) {
                const std::string triplet = text.substr(offset + 3 * site, 3);
                mismatches += !reference_matches(codon_table, starts, site, residues[site], triplet);
            }
            if (mismatches > tolerance) continue;
            const bool stop = offset + stretch + 3 <= text.size() &&
                              reference_is_stop(codon_table, text.substr(offset + stretch, 3));
            result.placement = ++result.placements == 1 ? std::optional(Placement{strand, offset, stretch, stop})
                                                        : std::nullopt;
        }
    }
    return result;
}

// Breaks spread evenly over a protein and its codons: `mismatches` random codons, then
// `soft_bases` bases made N, then `unknown` residues made X, so that the exact runs are as
// short as a placement holding them allows.
void spread_breaks(std::string& residues, std::string& body, std::size_t mismatches, std::size_t soft_bases,
                   std::size_t unknown, std::mt19937& random) {
    const std::size_t breaks = mismatches + soft_bases + unknown;
    for (std::size_t k = 1; k <= breaks; ++k) {
        const std::size_t site = k * residues.size() / (breaks + 1);
        if (k <= mismatches) {
            body.replace(3 * site, 3, random_codon(random));
        } else if (k <= mismatches + soft_bases) {
            body[3 * site + random() % 3] = 'N';
        } else {
            residues[site] = 'X';
        }
    }
}

struct RandomCase {
    std::string residues;
    std::string sequence;
};

// Proteins of every kind of residue, mutated up to beyond the tolerance, in flanks of plain
// bases or of bases mixed with ambiguity letters and stray bytes; sometimes repeated or reversed.
RandomCase random_case(const CodonTable& codon_table, const std::set<std::string>& starts, int round,
                       std::mt19937& random) {
    constexpr std::string_view ODD_RESIDUES = "XBJZ*O";
    const bool tight = round % 4 == 1;
    const std::string_view flank_letters = !tight && random() % 2 == 0 ? "ACGTACGTACGTRYN*" : "ACGT";
    const auto flank = [&](std::size_t longest) {
        std::string bases(random() % (longest + 1), 'A');
        for (char& base : bases) base = flank_letters[random() % flank_letters.size()];
        return bases;
    };
    const std::size_t length = round % 4 == 0 ? 1 + random() % 6 : 1 + random() % 150;
    std::string residues = random_protein(random, length);
    if (random() % 2 != 0) residues[0] = AMINO_ACIDS[random() % AMINO_ACIDS.size()];
    for (char& residue : residues) {
        if (!tight && random() % 40 == 0) residue = ODD_RESIDUES[random() % ODD_RESIDUES.size()];
    }
    std::string body = encode(residues, codon_table, random);
    const std::size_t tolerance = locate::mismatch_tolerance(length);
    if (tight) {
        spread_breaks(residues, body, tolerance, random() % 6, random() % 6, random);
        // An initiator over a start codon that is not one of M's own.
        const auto start = std::next(starts.begin(), static_cast<std::ptrdiff_t>(random() % starts.size()));
        if (residues[0] == 'M') body.replace(0, 3, *start);
        // A residue without a code among the last, where anchors that tile the protein end.
        if (random() % 2 == 0) residues[length - 1 - random() % std::min<std::size_t>(length, 3)] = 'X';
    } else {
        const std::size_t mutations = random() % (tolerance + 3);
        for (std::size_t k = 0; k < mutations; ++k) body.replace(3 * (random() % length), 3, random_codon(random));
        for (char& base : body) {
            if (random() % 90 == 0) base = AMBIGUITY_LETTERS[random() % AMBIGUITY_LETTERS.size()];
        }
    }
    std::string sequence = flank(60) + body + flank(10) + (random() % 5 == 0 ? body : "") + flank(60);
    if (random() % 3 == 0) sequence = reverse_complement(sequence);
    return {residues, sequence};
}

// The protein as an alignment row: gaps before about one residue in eight.
std::string with_gaps(std::string_view residues, std::mt19937& random) {
    std::string row;
    for (const char residue : residues) {
        if (random() % 8 == 0) row.append(1 + random() % 3, '-');
        row += residue;
    }
    return row;
}

// A placement left unread, read as a caller does: with the locator's own check.
LocateResult settled(const CodingRegionLocator& locator, LocateResult result, const std::string& sequence) {
    if (result.verified || !result.placement) return result;
    const Placement& placement = *result.placement;
    std::string text = sequence;
    if (placement.strand == Strand::reverse) {
        text.clear();
        locate::append_reverse_complement_dna(sequence, text);
    }
    return locator.within_tolerance(std::string_view(text).substr(placement.offset, placement.length)) ? result
                                                                                                     : LocateResult{};
}

bool only_plain_bases(std::string_view sequence) {
    return sequence.find_first_not_of("ACGT") == std::string_view::npos;
}

// Every built-in code, and one that lacks half of the amino acids, so that most capitals
// have no anchor code.
std::vector<std::pair<std::string, CodonTable>> codes_to_compare() {
    std::vector<std::pair<std::string, CodonTable>> codes;
    for (const GeneticCodeDefinition& code : GENETIC_CODES) {
        codes.emplace_back("table " + std::to_string(code.number), table(code.number));
    }
    CodonTable reduced = table(1);
    for (const char residue : AMINO_ACIDS.substr(0, AMINO_ACIDS.size() / 2)) reduced.erase(static_cast<char32_t>(residue));
    codes.emplace_back("table 1 without " + std::string(AMINO_ACIDS.substr(0, AMINO_ACIDS.size() / 2)), reduced);
    return codes;
}

void check_against_reference() {
    std::mt19937 random(2024);
    for (const auto& [code_name, codon_table] : codes_to_compare()) {
        const CodonLookup lookup(codon_table);
        std::set<std::string> starts{"ATG"};
        while (starts.size() < 4) starts.insert(random_codon(random));
        std::uint64_t start_mask = 0;
        for (const std::string& start : starts) start_mask |= std::uint64_t{1} << number_of(start);
        CodingRegionLocator locator(lookup, start_mask);
        for (int round = 0; round < 120; ++round) {
            const auto [residues, sequence] = random_case(codon_table, starts, round, random);
            const std::string row = with_gaps(residues, random);
            for (const bool both_strands : {false, true}) {
                const LocateResult expected = reference_locate(codon_table, starts, residues, sequence, both_strands);
                const std::string name = code_name + ", " + residues + " in " + sequence;
                check_result(locator.locate(both_strands ? row : residues, sequence, both_strands), expected, name);
                const LocateResult unread =
                    locator.locate(row, sequence, both_strands, true, only_plain_bases(sequence));
                check_result(settled(locator, unread, sequence), expected, name + ", read by the caller");
            }
        }
    }
}

// ---- Threading with frameshifts ----

using locate::Frameshift;
using locate::ShiftedPlacement;

// Literally: every residue at every nucleotide, over a whole table; the cheapest threading, a
// codon read whole before a broken one, shifts in the order +1, -1, +2, -2, then a residue
// without a codon on a tie; before each residue but the first, no gap of codons before a gap,
// the longest gap on a tie; then the stretch that ends first, then the forward strand.
std::optional<ShiftedPlacement> reference_thread(const CodonTable& codon_table, const std::set<std::string>& starts,
                                                 const std::string& residues, const std::string& text, Strand strand,
                                                 bool anywhere) {
    constexpr std::size_t NONE = static_cast<std::size_t>(-1);
    const int shifts[] = {+1, -1, +2, -2, -3};
    const std::size_t n = residues.size();
    const std::size_t m = text.size();
    std::vector<std::vector<std::size_t>> cost(n + 1, std::vector<std::size_t>(m + 1, NONE));
    std::vector<std::vector<int>> shift_taken(n + 1, std::vector<int>(m + 1, 0));
    std::vector<std::vector<std::size_t>> gap_from(n + 1, std::vector<std::size_t>(m + 1, NONE));
    for (std::size_t start = 0; start <= m; ++start) {
        if (anywhere || start == 0) cost[0][start] = 0;
    }
    for (std::size_t r = 0; r < n; ++r) {
        std::vector<std::size_t> entry = cost[r];
        std::size_t cheapest[3] = {NONE, NONE, NONE};  // the cheapest nucleotide before, by position modulo 3
        for (std::size_t at = 0; r > 0 && at <= m; ++at) {
            const std::size_t from = cheapest[at % 3];
            if (at >= 3 && cost[r][at - 3] != NONE && (from == NONE || cost[r][at - 3] < cost[r][from])) {
                cheapest[at % 3] = at - 3;
            }
            if (cheapest[at % 3] != NONE && (entry[at] == NONE || cost[r][cheapest[at % 3]] + 3 < entry[at])) {
                const std::size_t from_here = cheapest[at % 3];
                entry[at] = cost[r][from_here] + 3;
                gap_from[r][at] = from_here;
            }
        }
        for (std::size_t to = 0; to <= m; ++to) {
            std::size_t best = NONE;
            int taken = 0;
            if (to >= 3 && entry[to - 3] != NONE) {
                const bool matched = reference_matches(codon_table, starts, r, residues[r], text.substr(to - 3, 3));
                best = entry[to - 3] + (matched ? 0 : 1);
            }
            for (const int shift : shifts) {
                const auto span = static_cast<std::size_t>(3 + shift);
                if (to < span || entry[to - span] == NONE || entry[to - span] + 3 >= best) continue;
                best = entry[to - span] + 3;
                taken = shift;
            }
            // The banded programme reads a residue only where a whole codon would end inside the text.
            cost[r + 1][to] = to >= 3 ? best : NONE;
            shift_taken[r + 1][to] = taken;
        }
    }
    std::size_t end = NONE;
    for (std::size_t at = 0; at <= m; ++at) {
        if (cost[n][at] != NONE && (end == NONE || cost[n][at] < cost[n][end])) end = at;
    }
    if (end == NONE) return std::nullopt;
    ShiftedPlacement placement;
    placement.strand = strand;
    std::size_t at = end;
    for (std::size_t r = n; r-- > 0;) {
        const int shift = shift_taken[r + 1][at];
        at = static_cast<std::size_t>(static_cast<int>(at) - 3 - shift);
        if (shift == -3) {
            if (!placement.gaps.empty() && placement.gaps.front().codons < 0 && placement.gaps.front().residue == r + 1) {
                placement.gaps.front() = {r, at, placement.gaps.front().codons - 1};
            } else {
                placement.gaps.insert(placement.gaps.begin(), locate::CodonGap{r, at, -1});
            }
        } else if (shift != 0) {
            placement.frameshifts.insert(placement.frameshifts.begin(), Frameshift{r, at, shift});
        }
        if (gap_from[r][at] != NONE) {
            const std::size_t from = gap_from[r][at];
            placement.gaps.insert(placement.gaps.begin(), locate::CodonGap{r, from, static_cast<int>((at - from) / 3)});
            at = from;
        }
    }
    placement.offset = at;
    placement.length = end - at;
    placement.mismatches = 0;
    placement.mismatches = cost[n][end] - placement.cost();
    placement.within_limits = placement.events() <= std::max<std::size_t>(2, (n + 99) / 100) &&
                              placement.mismatches <= std::max<std::size_t>(2, n / 50);
    return placement;
}

std::string describe(const std::optional<ShiftedPlacement>& placement) {
    if (!placement) return "none";
    std::string text = placement->strand == Strand::forward ? "forward" : "reverse";
    text += " at " + std::to_string(placement->offset) + " for " + std::to_string(placement->length) + ", " +
            std::to_string(placement->mismatches) + " mismatch(es)" + (placement->within_limits ? "" : ", beyond");
    for (const Frameshift& shift : placement->frameshifts) {
        text += "; residue " + std::to_string(shift.residue) + " at " + std::to_string(shift.offset) + " " +
                (shift.shift > 0 ? "+" : "") + std::to_string(shift.shift);
    }
    for (const locate::CodonGap& gap : placement->gaps) {
        text += "; before residue " + std::to_string(gap.residue) + " at " + std::to_string(gap.offset) + " " +
                std::to_string(gap.codons) + " codon(s)";
    }
    return text;
}

bool same_threading(const std::optional<ShiftedPlacement>& got, const std::optional<ShiftedPlacement>& expected) {
    if (!expected || !expected->within_limits) return !got || !got->within_limits;
    if (!got) return false;
    const bool shifts_alike = std::equal(
        got->frameshifts.begin(), got->frameshifts.end(), expected->frameshifts.begin(), expected->frameshifts.end(),
        [](const Frameshift& a, const Frameshift& b) {
            return a.residue == b.residue && a.offset == b.offset && a.shift == b.shift;
        });
    const bool gaps_alike = std::equal(
        got->gaps.begin(), got->gaps.end(), expected->gaps.begin(), expected->gaps.end(),
        [](const locate::CodonGap& a, const locate::CodonGap& b) {
            return a.residue == b.residue && a.offset == b.offset && a.codons == b.codons;
        });
    return shifts_alike && gaps_alike && got->strand == expected->strand && got->offset == expected->offset &&
           got->length == expected->length && got->mismatches == expected->mismatches && got->within_limits;
}

// A protein's codons with frameshifts at random residues, each one to two nucleotides
// inserted or deleted, at a codon's edge or inside it; now and then whole codons gained or lost
// (up to 40, or an intron's length) away from the ends; some mismatches; flanks when the
// stretch may start anywhere, sometimes reversed.
struct ShiftedCase {
    std::string residues;
    std::string sequence;
};

ShiftedCase random_shifted_case(const CodonTable& codon_table, bool anywhere, std::mt19937& random) {
    const std::size_t length = 20 + random() % 260;
    const std::string residues = random_protein(random, length);
    std::string body = encode(residues, codon_table, random);
    const std::size_t mutations = random() % (locate::mismatch_tolerance(length) + 2);
    for (std::size_t k = 0; k < mutations; ++k) body.replace(3 * (random() % length), 3, random_codon(random));
    const std::size_t shifts = random() % (locate::frameshift_limit(length) + 2);
    std::vector<std::pair<std::size_t, bool>> sites;  // a residue, and whether whole codons go there
    for (std::size_t k = 0; k < shifts; ++k) sites.emplace_back(1 + random() % (length - 2), false);
    if (length >= 40 && random() % 2 == 0) sites.emplace_back(15 + random() % (length - 30), true);
    std::sort(sites.rbegin(), sites.rend());  // from the 3' end, so that earlier offsets hold
    for (const auto& [site, whole_codons] : sites) {
        if (whole_codons) {
            // Drawn apart: the order of two draws in one expression is unspecified.
            const bool many = random() % 4 == 0;
            const std::size_t codons = 1 + random() % (many ? 40 : 3);
            if (random() % 2 == 0) {  // ten residues or more keep their codons after it
                body.erase(3 * site, std::min(3 * codons, 3 * (length - site - 10)));
            } else {
                body.insert(3 * site, encode(random_protein(random, codons), codon_table, random));
            }
            continue;
        }
        const std::size_t at = 3 * site + random() % 3;
        const std::size_t count = 1 + random() % 2;
        if (random() % 2 == 0) {
            for (std::size_t k = 0; k < count; ++k) {
                body.insert(body.begin() + static_cast<std::ptrdiff_t>(at), BASES[random() % 4]);
            }
        } else {
            body.erase(at, count);
        }
    }
    if (!anywhere) return {residues, body + (random() % 2 == 0 ? "TAA" : "")};
    const auto flank = [&](std::size_t longest) {
        std::string bases(random() % (longest + 1), 'A');
        for (char& base : bases) base = BASES[random() % 4];
        return bases;
    };
    std::string sequence = flank(80) + body + flank(80);
    if (random() % 3 == 0) sequence = reverse_complement(sequence);
    return {residues, sequence};
}

void check_threading_against_reference() {
    std::mt19937 random(1859);
    for (const TableNumber number : {TableNumber{1}, TableNumber{2}, TableNumber{11}}) {
        const CodonTable& codon_table = table(number);
        const CodonLookup lookup(codon_table);
        const std::set<std::string> starts{"ATG", "TTG", "CTG"};
        locate::FrameshiftAligner aligner(lookup, codon_mask({"ATG", "TTG", "CTG"}));
        for (int round = 0; round < 90; ++round) {
            const bool anywhere = round % 3 != 0;
            const auto [residues, sequence] = random_shifted_case(codon_table, anywhere, random);
            for (const bool both_strands : {false, true}) {
                if (!anywhere && both_strands) continue;
                std::optional<ShiftedPlacement> expected =
                    reference_thread(codon_table, starts, residues, sequence, Strand::forward, anywhere);
                if (both_strands) {
                    std::optional<ShiftedPlacement> reverse = reference_thread(
                        codon_table, starts, residues, reverse_complement(sequence), Strand::reverse, true);
                    if (reverse && (!expected || reverse->cost() < expected->cost())) expected = std::move(reverse);
                }
                const std::optional<ShiftedPlacement> got = aligner.align(residues, sequence, anywhere, both_strands);
                if (!same_threading(got, expected))
                    fail("threading table " + std::to_string(number) + (anywhere ? ", anywhere" : ", from the start") +
                         (both_strands ? ", both strands: " : ": ") + residues + " in " + sequence +
                         "\n  got      " + describe(got) + "\n  expected " + describe(expected));
            }
        }
    }
}

void check_frameshift_limits() {
    const std::pair<std::size_t, std::size_t> limits[] = {{1, 2}, {200, 2}, {201, 3}, {1000, 10}};
    for (const auto& [residues, limit] : limits) {
        if (locate::frameshift_limit(residues) != limit) fail("frameshift limit of " + std::to_string(residues));
    }
}

// ---- Throughput on files ----

std::vector<std::string> read_fasta_sequences(const char* path) {
    std::ifstream file(path);
    if (!file) throw std::runtime_error(std::string("cannot read ") + path);
    std::vector<std::string> sequences;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '>') {
            sequences.emplace_back();
        } else if (!sequences.empty()) {
            sequences.back() += line;
        }
    }
    return sequences;
}

// Upper case, U as T, without the bytes given.
std::string prepared(std::string_view text, std::string_view dropped) {
    std::string result;
    for (const char letter : text) {
        if (dropped.find(letter) != std::string_view::npos) continue;
        const char upper = letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
        result += upper == 'U' ? 'T' : upper;
    }
    return result;
}

template <typename Pass>
double median_seconds(Pass&& pass) {
    std::vector<double> seconds;
    for (int run = 0; run < 7; ++run) {
        const auto start = std::chrono::steady_clock::now();
        pass();
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[seconds.size() / 2];
}

// The locator over every record, on one strand and on both, against a floor measured in the
// same run: one reading of each located coding region with the same codon checks.
int measure(const char* protein_path, const char* mrna_path, TableNumber table_number) {
    const CodonTable* codon_table = find_codon_table(table_number);
    if (codon_table == nullptr) {
        std::fprintf(stderr, "no genetic code %d\n", table_number);
        return 2;
    }
    std::vector<std::string> proteins = read_fasta_sequences(protein_path);
    std::vector<std::string> mrnas = read_fasta_sequences(mrna_path);
    if (proteins.size() != mrnas.size()) {
        std::fprintf(stderr, "%zu proteins but %zu mRNAs\n", proteins.size(), mrnas.size());
        return 2;
    }
    std::size_t nucleotides = 0;
    for (std::size_t k = 0; k < proteins.size(); ++k) {
        proteins[k] = prepared(proteins[k], "-");
        mrnas[k] = prepared(mrnas[k], "-.");
        nucleotides += mrnas[k].size();
    }
    const CodonLookup lookup(*codon_table);
    const std::uint64_t start_codons = table_number == 1 ? STANDARD_STARTS : 0;
    CodingRegionLocator locator(lookup, start_codons);
    std::vector<std::size_t> offsets;
    for (std::size_t k = 0; k < proteins.size(); ++k) {
        const LocateResult result = locator.locate(proteins[k], mrnas[k], true);
        if (!result.placement || result.placement->strand != Strand::forward || !result.placement->stop_follows) {
            std::fprintf(stderr, "record %zu: %s\n", k + 1, describe(result).c_str());
            return 1;
        }
        offsets.push_back(result.placement->offset);
    }
    std::printf("%zu records, %.1f MB: each located once on the forward strand, a stop codon after it\n",
                proteins.size(), static_cast<double>(nucleotides) / 1e6);

    const locate::StretchMatcher matcher(lookup, start_codons);
    std::size_t sink = 0;
    const double floor = median_seconds([&] {
        for (std::size_t k = 0; k < proteins.size(); ++k) {
            sink += matcher.mismatches(proteins[k], mrnas[k].data() + offsets[k], proteins.size());
        }
    });
    const auto report = [&](const char* what, double seconds) {
        std::printf("%-33s median of 7 %7.2f ms, %5.2f us per record, %5.0f MB/s of mRNA, %4.1fx the floor\n", what,
                    seconds * 1e3, seconds * 1e6 / static_cast<double>(proteins.size()),
                    static_cast<double>(nucleotides) / seconds / 1e6, seconds / floor);
    };
    report("floor: one reading of each CDS", floor);
    for (const bool both_strands : {false, true}) {
        const double seconds = median_seconds([&] {
            for (std::size_t k = 0; k < proteins.size(); ++k) {
                sink += locator.locate(proteins[k], mrnas[k], both_strands).placements;
            }
        });
        report(both_strands ? "locate, both strands" : "locate, forward strand", seconds);
    }
    return sink == 0 ? 1 : 0;  // the sums are used, so no pass is optimised away
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 || argc == 4) {
        try {
            return measure(argv[1], argv[2], argc == 4 ? static_cast<TableNumber>(std::stoi(argv[3])) : 1);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 2;
        }
    }
    check_tolerance_and_spans();
    check_reverse_complement_as_written();
    check_probe_strides();
    check_fixtures();
    check_against_reference();
    check_frameshift_limits();
    check_threading_against_reference();
    if (failures != 0) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures == 0 ? 0 : 1;
}
