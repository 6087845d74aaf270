// Screening: single pairs against hand-worked results, the coefficient bound
// against an exact matching and against computed scores, ordered parallel
// runs, selection and output, and both programs run on the same pairs.
#include "search/screen.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cpdio.h"
#include "exe1.h"
#include "test_records.h"

namespace {

using screen::PairResult;

// ---------------------------------------------------------------------------
// Records

// A typed record with its environments and bond matrix built.
CPDMOL *record(const std::vector<std::string> &types,
               const std::vector<std::pair<int, int>> &bonds = {}) {
  CPDMOL *mol = test_records::record(types, bonds);
  screen::prepare_records({&mol, 1});
  return mol;
}

// The records of examples/nci.qtr, prepared; they live for the whole run.
const std::vector<CPDMOL *> &nci() {
  static const std::vector<CPDMOL *> mols = [] {
    std::vector<CPDMOL *> out;
    FILE *fp = std::fopen(TAVIRON_EXAMPLES_DIR "/nci.qtr", "r");
    if (fp == nullptr) return out;
    CompList *list = read_CPDMOL_list_QTR(fp);
    std::fclose(fp);
    for (int k = 1; k <= complist_numberof(list); k++) {
      out.push_back(static_cast<CPDMOL *>(complist_getdata(list, k)));
    }
    screen::prepare_records(out);
    return out;
  }();
  return mols;
}

// A spread of nci records: every `step`-th one, and the 20 with "R" atoms at
// the end; only compounds of up to `atoms` atoms, so that the tests stay quick.
std::vector<CPDMOL *> sample(int step, int atoms = 20) {
  const std::vector<CPDMOL *> &all = nci();
  std::vector<CPDMOL *> out;
  auto take = [&](std::size_t k) {
    if (k < all.size() && all[k]->nodenum <= atoms) out.push_back(all[k]);
  };
  for (std::size_t k = 0; k < 1000; k += step) take(k);
  for (std::size_t k = 1000; k < all.size(); k++) take(k);
  return out;
}

screen::EngineConfig config(int atom_mode, int exec_mode, int limit = CPD_MAX) {
  screen::EngineConfig c;
  c.atom_mode = atom_mode;
  c.exec_mode = exec_mode;
  c.limit = limit;
  return c;
}

PairResult compare_with(const screen::EngineConfig &c, CPDMOL *a, CPDMOL *b) {
  screen::init_engine(c);
  return screen::compare_pair(a, b);
}

bool same(const PairResult &x, const PairResult &y) {
  return x.query == y.query && x.target == y.target && x.query_atoms == y.query_atoms &&
         x.target_atoms == y.target_atoms && x.score == y.score && x.coefficient == y.coefficient &&
         x.status == y.status && x.status_count == y.status_count;
}

// ---------------------------------------------------------------------------
// One pair

TEST(ComparePair, HandWorkedPairs) {
  CPDMOL *ethanol = record({"C.sp3.1", "C.sp3.2", "O.sp3.1"}, {{1, 2}, {2, 3}});
  CPDMOL *propanol = record({"C.sp3.1", "C.sp3.2", "C.sp3.2", "O.sp3.1"}, {{1, 2}, {2, 3}, {3, 4}});

  PairResult r = compare_with(config(1, 1), ethanol, ethanol);
  EXPECT_EQ(r.score, 3);
  EXPECT_EQ(r.coefficient, 1.0);
  EXPECT_EQ(screen::status_text(r), "ok");

  // The O sits on the CH2 in ethanol but on the second CH2 in propanol, so
  // CH3-CH2 or CH2-O aligns, never all three: 2 / (3 + 4 - 2).
  r = compare_with(config(1, 1), ethanol, propanol);
  EXPECT_EQ(r.query_atoms, 3);
  EXPECT_EQ(r.target_atoms, 4);
  EXPECT_EQ(r.score, 2);
  EXPECT_DOUBLE_EQ(r.coefficient, 0.4);
}

TEST(ComparePair, StatusesOfPairsThatCannotBeComputed) {
  CPDMOL *amine = record({"N.sp3.1"});
  CPDMOL *methane = record({"C.sp3.0"});
  CPDMOL *hydrogens = record({"H", "H"}, {{1, 2}});
  CPDMOL *chain = record({"C.sp3.2", "C.sp3.2", "C.sp3.2"}, {{1, 2}, {2, 3}});

  PairResult r = compare_with(config(1, 1), amine, methane);
  EXPECT_EQ(screen::status_text(r), "no-match");
  EXPECT_EQ(r.score, 0);
  EXPECT_EQ(r.coefficient, 0.0);

  r = compare_with(config(1, 1), hydrogens, methane);
  EXPECT_EQ(screen::status_text(r), "no-atoms");
  EXPECT_EQ(r.query_atoms, 0);

  // Three atoms of one type on each side: 9 docking nodes, over a limit of 8.
  r = compare_with(config(1, 1, 8), chain, chain);
  EXPECT_EQ(screen::status_text(r), "too-large:9");
  EXPECT_EQ(r.coefficient, 0.0);
  EXPECT_EQ(compare_with(config(1, 1, 9), chain, chain).score, 3);
}

// A fresh engine per pair (a new thread gets one) gives what one engine
// reused for pair after pair gives.
TEST(ComparePair, ReusedEngineMatchesFreshEngine) {
  const std::vector<CPDMOL *> mols = sample(97, 16);
  for (const screen::EngineConfig &c :
       {config(1, 1), config(2, 1), config(1, 8), config(1, 1, 50)}) {
    screen::init_engine(c);
    for (std::size_t i = 0; i < mols.size(); i++) {
      for (std::size_t j = i; j < mols.size(); j += 3) {
        const PairResult reused = screen::compare_pair(mols[i], mols[j]);
        PairResult fresh;
        std::thread([&] { fresh = compare_with(c, mols[i], mols[j]); }).join();
        EXPECT_TRUE(same(reused, fresh)) << mols[i]->name << " " << mols[j]->name;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The bound

// Largest matching over atoms, straight from the docking rule (Kuhn's
// augmenting paths).
int atom_matching(const CPDMOL &a, const CPDMOL &b, bool by_element) {
  auto compatible = [&](int i, int j) {
    const CNODE &p = a.cnode[i];
    const CNODE &q = b.cnode[j];
    if (p.HAflag || q.HAflag) return false;
    const bool element_key = by_element || p.RAneighbor || q.RAneighbor;
    return std::strcmp(element_key ? p.aid : p.nid, element_key ? q.aid : q.nid) == 0;
  };
  std::vector<int> owner(b.nodenum, -1);
  std::vector<char> seen;
  auto augment = [&](auto &&self, int i) -> bool {
    for (int j = 0; j < b.nodenum; j++) {
      if (seen[j] || !compatible(i, j)) continue;
      seen[j] = 1;
      if (owner[j] < 0 || self(self, owner[j])) {
        owner[j] = i;
        return true;
      }
    }
    return false;
  };
  int pairs = 0;
  for (int i = 0; i < a.nodenum; i++) {
    seen.assign(b.nodenum, 0);
    if (augment(augment, i)) pairs++;
  }
  return pairs;
}

TEST(Bound, HandWorkedProfiles) {
  screen::KeyIndex index;
  // Two CH3 and an OH against one CH3 and two carbonyl O: by type only the
  // CH3 pairs once; by element C pairs once and O once.
  CPDMOL *a = record({"C.sp3.1", "C.sp3.1", "O.sp3.1"});
  CPDMOL *b = record({"C.sp3.1", "O.sp2.1", "O.sp2.1"});
  EXPECT_EQ(screen::max_atom_pairs(screen::make_profile(*a, false, index),
                                   screen::make_profile(*b, false, index)),
            1);
  EXPECT_EQ(screen::max_atom_pairs(screen::make_profile(*a, true, index),
                                   screen::make_profile(*b, true, index)),
            2);

  // R-CH2-OH against CH3-OH: the CH2 next to R is keyed by its element and
  // pairs with the CH3; OH pairs with OH; R (matchable) pairs with nothing.
  CPDMOL *r = record({"R", "C.sp3.2", "O.sp3.1"}, {{1, 2}, {2, 3}});
  CPDMOL *m = record({"C.sp3.1", "O.sp3.1"}, {{1, 2}});
  const screen::AtomProfile pr = screen::make_profile(*r, false, index);
  const screen::AtomProfile pm = screen::make_profile(*m, false, index);
  EXPECT_TRUE(pr.has_marked);
  EXPECT_EQ(pr.atoms, 3);
  EXPECT_EQ(screen::max_atom_pairs(pr, pm), 2);
  EXPECT_EQ(screen::max_atom_pairs(pm, pr), 2);
  // 2 / (3 + 2 - 2) = 0.667 at best.
  EXPECT_FALSE(screen::below_bound(pr, pm, 0.66));
  EXPECT_TRUE(screen::below_bound(pr, pm, 0.67));

  // An element-keyed C and a CH3 both want the one CH3 opposite: one pair.
  CPDMOL *two = record({"R", "C.sp3.2", "C.sp3.1"}, {{1, 2}});
  CPDMOL *one = record({"C.sp3.1"});
  EXPECT_EQ(screen::max_atom_pairs(screen::make_profile(*two, false, index),
                                   screen::make_profile(*one, false, index)),
            1);
}

// The class matching is exactly the largest atom matching, on every pair of
// a spread of real records (the "R" records included), in both key modes.
TEST(Bound, EqualsAtomMatchingOnRealPairs) {
  const std::vector<CPDMOL *> mols = sample(23);
  for (const bool by_element : {false, true}) {
    screen::KeyIndex index;
    std::vector<screen::AtomProfile> profiles;
    for (CPDMOL *m : mols) profiles.push_back(screen::make_profile(*m, by_element, index));
    for (std::size_t i = 0; i < mols.size(); i++) {
      for (std::size_t j = 0; j < mols.size(); j++) {
        ASSERT_EQ(screen::max_atom_pairs(profiles[i], profiles[j]),
                  atom_matching(*mols[i], *mols[j], by_element))
            << mols[i]->name << " " << mols[j]->name << " by element " << by_element;
      }
    }
  }
}

// The bound is never below the computed coefficient, with or without the
// extension, docking by type or by element.
TEST(Bound, NeverBelowComputedCoefficient) {
  const std::vector<CPDMOL *> mols = sample(53, 16);
  for (const screen::EngineConfig &c : {config(1, 1), config(2, 1), config(1, 8), config(2, 8)}) {
    screen::KeyIndex index;
    std::vector<screen::AtomProfile> profiles;
    for (CPDMOL *m : mols) profiles.push_back(screen::make_profile(*m, c.atom_mode == 2, index));
    screen::init_engine(c);
    int computed = 0;
    for (std::size_t i = 0; i < mols.size(); i++) {
      for (std::size_t j = i; j < mols.size(); j++) {
        const PairResult r = screen::compare_pair(mols[i], mols[j]);
        if (r.status != kStatusComputed) continue;
        computed++;
        EXPECT_GE(screen::max_atom_pairs(profiles[i], profiles[j]), r.score)
            << mols[i]->name << " " << mols[j]->name;
        EXPECT_FALSE(screen::below_bound(profiles[i], profiles[j], r.coefficient))
            << mols[i]->name << " " << mols[j]->name;
      }
    }
    EXPECT_GT(computed, 300);
  }
}

// The clique bound on real pairs, docking by type and by element: the graph's
// colouring never has fewer colours than the computed score, the pruned search
// finds a clique of that size, and a pair is never ruled out at its own
// coefficient. The two-step computation gives what compare_pair() gives, in
// every mode.
TEST(CliqueBound, NeverBelowComputedCoefficient) {
  const std::vector<CPDMOL *> mols = sample(53, 16);
  for (const screen::EngineConfig &c : {config(1, 1), config(2, 1), config(1, 8)}) {
    screen::init_engine(c);
    int searched = 0;
    for (std::size_t i = 0; i < mols.size(); i++) {
      for (std::size_t j = i; j < mols.size(); j++) {
        const PairResult r = screen::compare_pair(mols[i], mols[j]);
        if (dock_pair(mols[i], mols[j]) && c.exec_mode == 1) {
          searched++;
          EXPECT_GE(docked_clique_bound(), r.score) << mols[i]->name << " " << mols[j]->name;
          EXPECT_TRUE(docked_clique_above(r.score - 1, 1'000'000));
        }
        compute_docked();
        const Exe1State &st = exe1_state();
        EXPECT_EQ(st.status, r.status);
        EXPECT_EQ(st.mcs_max, r.score);
        const double min = c.exec_mode == 1 ? r.coefficient : 0.0;
        const std::optional<PairResult> above = screen::compare_pair_above(mols[i], mols[j], min);
        ASSERT_TRUE(above.has_value()) << mols[i]->name << " " << mols[j]->name;
        EXPECT_TRUE(same(*above, r));
      }
    }
    if (c.exec_mode == 1) {
      EXPECT_GT(searched, 300);
    }
  }
}

// Pairs whose graph is not searched keep their status row whatever the minimum.
TEST(CliqueBound, StatusPairsAreNotRuledOut) {
  CPDMOL *a = record({"C1a", "C1a", "C1a", "C1a"}, {{1, 2}, {2, 3}, {3, 4}});
  CPDMOL *h = record({"H", "H"}, {{1, 2}});
  CPDMOL *o = record({"O1a"});
  screen::init_engine(config(1, 1, 10));  // 16 nodes: over the limit
  const struct {
    CPDMOL *x, *y;
    int status;
  } cases[] = {{a, a, kStatusGraphTooLarge}, {a, h, kStatusNoAtoms}, {a, o, kStatusEmptyGraph}};
  for (const auto &k : cases) {
    const std::optional<PairResult> r = screen::compare_pair_above(k.x, k.y, 1.0);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->status, k.status);
  }
}

// Atom lines with a type but no element (two fields) take part by their type;
// in atom mode, and next to an "R" atom, their empty element pairs only with
// another empty element. The bound follows the same reading.
TEST(Bound, TwoFieldAtomLines) {
  const auto parsed = [](const std::string &atoms, const std::string &bonds) {
    CPDMOL *mol =
        test_records::parse("ENTRY       X00001\nATOM\n" + atoms + "BOND\n" + bonds + "///\n");
    screen::prepare_records({&mol, 1});
    return mol;
  };
  // A: C1a (no element) - O1a, and a two-field H; B: C1b (no element) - O1a,
  // and a lone C1a.
  CPDMOL *a = parsed(" 1 C1a\n 2 O1a O\n 3 H\n", " 1 1 2\n 2 2 3\n");
  CPDMOL *b = parsed(" 1 C1b\n 2 O1a O\n 3 C1a C\n", " 1 1 2\n");
  // By type: C1a-C1a and O1a-O1a, not bonded alike, so one pair: 1 / (2 + 3 - 1).
  PairResult r = compare_with(config(1, 1), a, b);
  EXPECT_EQ(r.query_atoms, 2);
  EXPECT_EQ(r.target_atoms, 3);
  EXPECT_EQ(r.score, 1);
  EXPECT_DOUBLE_EQ(r.coefficient, 0.25);
  // By element: the two empty elements pair, and O with O: 2 / (2 + 3 - 2).
  r = compare_with(config(2, 1), a, b);
  EXPECT_EQ(r.score, 2);
  EXPECT_DOUBLE_EQ(r.coefficient, 2.0 / 3.0);

  // The record pair of the two-field end-to-end cases: atom 2 of each, next
  // to a two-field "R", is keyed by its empty element.
  CPDMOL *c = parsed(" 1 C1a C\n 2 C1b\n 3 O1a\n 4 H\n 5 R\n 6\n",
                     " 1 1 2\n 2 2 3\n 3 3 4\n 4 2 5\n 5 1 6\n");
  CPDMOL *d =
      parsed(" 1 C1a C\n 2 C1b\n 3 O1a O\n 4 N1a N\n 5 R R\n", " 1 1 2\n 2 2 3\n 3 2 4\n 4 2 5\n");
  r = compare_with(config(1, 1), c, d);
  EXPECT_EQ(r.query_atoms, 4);
  EXPECT_EQ(r.target_atoms, 5);
  EXPECT_EQ(r.score, 4);
  EXPECT_DOUBLE_EQ(r.coefficient, 0.8);

  const std::vector<CPDMOL *> mols = {a, b, c, d};
  for (const screen::EngineConfig &cfg : {config(1, 1), config(2, 1), config(1, 8)}) {
    const bool by_element = cfg.atom_mode == 2;
    screen::KeyIndex index;
    for (CPDMOL *x : mols) {
      for (CPDMOL *y : mols) {
        const screen::AtomProfile px = screen::make_profile(*x, by_element, index);
        const screen::AtomProfile py = screen::make_profile(*y, by_element, index);
        const int bound = screen::max_atom_pairs(px, py);
        EXPECT_EQ(bound, atom_matching(*x, *y, by_element));
        r = compare_with(cfg, x, y);
        if (r.status != kStatusComputed) continue;
        EXPECT_GE(bound, r.score);
        EXPECT_FALSE(screen::below_bound(px, py, r.coefficient));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Selection and output

PairResult result(int query, int target, double coefficient) {
  PairResult r;
  r.query = query;
  r.target = target;
  r.coefficient = coefficient;
  return r;
}

std::vector<std::pair<int, int>> top_of(int k, const std::vector<PairResult> &in) {
  std::vector<std::pair<int, int>> out;
  screen::TopSelector sel(k, [&](const PairResult &r) { out.emplace_back(r.query, r.target); });
  for (const PairResult &r : in) sel.add(r);
  sel.finish();
  return out;
}

TEST(TopSelector, KeepsBestPerQueryBestFirst) {
  // Query 0: the best two are targets 3 (0.9) and 1 (0.7), handed on so.
  // Query 1: three ties at 0.5; the earlier two targets win, in target order.
  // Query 2: a tie below the best keeps target order after it.
  const std::vector<PairResult> in = {result(0, 0, 0.5), result(0, 1, 0.7), result(0, 2, 0.5),
                                      result(0, 3, 0.9), result(1, 0, 0.5), result(1, 1, 0.5),
                                      result(1, 2, 0.5), result(2, 0, 0.4), result(2, 1, 0.3),
                                      result(2, 2, 0.4), result(2, 3, 0.8)};
  EXPECT_EQ(top_of(2, in),
            (std::vector<std::pair<int, int>>{{0, 3}, {0, 1}, {1, 0}, {1, 1}, {2, 3}, {2, 0}}));
  EXPECT_EQ(top_of(3, in),
            (std::vector<std::pair<int, int>>{
                {0, 3}, {0, 1}, {0, 0}, {1, 0}, {1, 1}, {1, 2}, {2, 3}, {2, 0}, {2, 2}}));
  EXPECT_EQ(top_of(1, in), (std::vector<std::pair<int, int>>{{0, 3}, {1, 0}, {2, 3}}));
  EXPECT_EQ(top_of(0, in).size(), in.size());  // 0 keeps everything
  EXPECT_EQ(top_of(10, in).size(), in.size());
}

TEST(Output, RowsInBothFormats) {
  PairResult r;
  r.query_atoms = 12;
  r.target_atoms = 14;
  r.score = 10;
  r.coefficient = 10.0 / 16.0;
  std::string out = screen::header(screen::Format::kTsv);
  r.proven = false;  // the budget ended the search
  EXPECT_EQ(out, "query\ttarget\tquery_atoms\ttarget_atoms\tscore\tcoefficient\tstatus\tproven\n");
  screen::append_row(out, screen::Format::kTsv, r, "C00001", "C00002");
  EXPECT_EQ(out,
            "query\ttarget\tquery_atoms\ttarget_atoms\tscore\tcoefficient\tstatus\tproven\n"
            "C00001\tC00002\t12\t14\t10\t0.625000\tok\tno\n");
  r.proven = true;

  out = screen::header(screen::Format::kJsonl);
  r.status = kStatusGraphTooLarge;
  r.score = 0;
  r.coefficient = 0.0;
  r.status_count = 12000;
  screen::append_row(out, screen::Format::kJsonl, r, "C00001", "C00002");
  EXPECT_EQ(out,
            "{\"query\":\"C00001\",\"target\":\"C00002\",\"query_atoms\":12,\"target_atoms\":14,"
            "\"score\":0,\"coefficient\":0.000000,\"status\":\"too-large:12000\","
            "\"proven\":true}\n");

  r.status = kStatusCliquesCut;
  r.status_count = 10400;
  EXPECT_EQ(screen::status_text(r), "cut:10400");
}

TEST(Output, NamesNeverBreakTheLine) {
  PairResult r;
  const screen::RowNames names{"a\tb\rc\nd", "x\x01\xff\""};
  std::string out = screen::header(screen::Format::kTsv, true);
  screen::append_row(out, screen::Format::kTsv, r, "Q", "T", &names);
  EXPECT_EQ(out,
            "query\ttarget\tquery_atoms\ttarget_atoms\tscore\tcoefficient\tstatus\tproven\t"
            "query_name\ttarget_name\nQ\tT\t0\t0\t0\t0.000000\tok\tyes\ta b c d\tx\x01\xff\"\n");
  out.clear();
  screen::append_row(out, screen::Format::kJsonl, r, "Q", "T", &names);
  EXPECT_TRUE(
      out.ends_with("\"status\":\"ok\",\"proven\":true,\"query_name\":"
                    "\"a\\u0009b\\u000dc\\u000ad\",\"target_name\":"
                    "\"x\\u0001\\ufffd\\\"\"}\n"));
}

TEST(Output, JsonStringsAreEscaped) {
  auto json = [](std::string_view s) {
    std::string out;
    screen::append_json_string(out, s);
    return out;
  };
  EXPECT_EQ(json("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(json("x\ty\x01"), "\"x\\u0009y\\u0001\"");
  EXPECT_EQ(json("\xc3\xa9"), "\"\xc3\xa9\"");  // well-formed UTF-8 stays
  EXPECT_EQ(json("a\xff"
                 "b"),
            "\"a\\ufffdb\"");                                    // a stray byte is replaced
  EXPECT_EQ(json("\xe2\x82"), "\"\\ufffd\\ufffd\"");             // a cut sequence too
  EXPECT_EQ(json("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");  // no surrogates
}

TEST(CommandLine, Values) {
  EXPECT_EQ(screen::parse_integer("8", 1, 1024), 8);
  EXPECT_EQ(screen::parse_integer("+8", 1, 1024), 8);
  EXPECT_EQ(screen::parse_integer("-1", -5, 5), -1);
  for (const char *bad : {"", "0", "1025", "8x", " 8", "++8", "1e3", "-"}) {
    EXPECT_FALSE(screen::parse_integer(bad, 1, 1024)) << bad;
  }
  EXPECT_EQ(screen::parse_fraction("0.7"), 0.7);
  EXPECT_EQ(screen::parse_fraction("1"), 1.0);
  EXPECT_EQ(screen::parse_fraction(".5"), 0.5);
  for (const char *bad : {"", ".", "1.5", "-0.1", "0.7.1", "nan", "inf", "1e-1", "0,7"}) {
    EXPECT_FALSE(screen::parse_fraction(bad)) << bad;
  }
  EXPECT_GE(screen::default_threads(), 1);
}

TEST(CommandLine, ProgressText) {
  // 5000 pairs in 2 s: 2500 pairs/s, 15000 left take 6 s.
  EXPECT_EQ(screen::progress_text(5000, 20000, 2.0), "5000/20000 pairs, 2500 pairs/s, 0:06 left");
  EXPECT_EQ(screen::progress_text(1, 9001, 1.0), "1/9001 pairs, 1 pairs/s, 2:30:00 left");
  EXPECT_EQ(screen::progress_text(0, 10, 0.0), "0/10 pairs, 0 pairs/s, time left unknown");
}

// ---------------------------------------------------------------------------
// Running a screen

std::vector<PairResult> run(std::span<CPDMOL *const> q, std::span<CPDMOL *const> t, bool triangle,
                            screen::RunOptions o, screen::RunStats *stats = nullptr) {
  std::vector<PairResult> out;
  const screen::RunStats s =
      screen::run_screen(q, t, triangle, o, [&](const PairResult &r) { out.push_back(r); });
  if (stats != nullptr) *stats = s;
  return out;
}

bool same_results(const std::vector<PairResult> &a, const std::vector<PairResult> &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same);
}

TEST(RunScreen, SameResultsInPairOrderForAnyThreadCount) {
  const std::vector<CPDMOL *> mols = sample(31);
  const std::span<CPDMOL *const> queries(mols.data(), 12);
  screen::RunOptions o;
  o.chunk = 3;  // many small chunks, finishing out of order
  o.threads = 1;
  const std::vector<PairResult> one = run(queries, mols, false, o);
  ASSERT_EQ(one.size(), queries.size() * mols.size());
  for (std::size_t k = 0; k < one.size(); k++) {
    EXPECT_EQ(one[k].query, static_cast<int>(k / mols.size()));
    EXPECT_EQ(one[k].target, static_cast<int>(k % mols.size()));
  }
  for (const int threads : {2, 8}) {
    o.threads = threads;
    EXPECT_TRUE(same_results(run(queries, mols, false, o), one)) << threads << " threads";
  }
}

TEST(RunScreen, AllPairsWithinOneList) {
  const std::vector<CPDMOL *> mols = sample(61);
  screen::RunOptions o;
  o.threads = 3;
  o.chunk = 4;
  screen::RunStats stats;
  const std::vector<PairResult> out = run(mols, mols, true, o, &stats);
  const std::size_t n = mols.size();
  EXPECT_EQ(stats.pairs, static_cast<std::int64_t>(n * (n - 1) / 2));
  ASSERT_EQ(out.size(), n * (n - 1) / 2);
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; i++) {
    for (std::size_t j = i + 1; j < n; j++, k++) {
      EXPECT_EQ(out[k].query, static_cast<int>(i));
      EXPECT_EQ(out[k].target, static_cast<int>(j));
    }
  }
}

// --min and --top give what filtering the full result gives; the bound skips
// pairs, and only pairs below the minimum.
TEST(RunScreen, MinimumAndTopFilterTheFullResult) {
  const std::vector<CPDMOL *> mols = sample(41);
  screen::RunOptions o;
  o.threads = 2;
  o.chunk = 5;
  const std::vector<PairResult> all = run(mols, mols, true, o);

  o.min = 0.4;
  screen::RunStats stats;
  const std::vector<PairResult> kept = run(mols, mols, true, o, &stats);
  std::vector<PairResult> expected;
  std::copy_if(all.begin(), all.end(), std::back_inserter(expected),
               [](const PairResult &r) { return r.coefficient >= 0.4; });
  EXPECT_TRUE(same_results(kept, expected));
  EXPECT_EQ(stats.kept, static_cast<std::int64_t>(kept.size()));
  EXPECT_GT(stats.skipped, stats.pairs / 2);
  EXPECT_LE(stats.skipped, static_cast<std::int64_t>(all.size() - expected.size()));

  // The clique bound skips some of the rest, and changes no result.
  EXPECT_GT(stats.skipped_clique, 0);
  o.clique_bound = false;
  screen::RunStats plain;
  EXPECT_TRUE(same_results(run(mols, mols, true, o, &plain), expected));
  EXPECT_EQ(plain.skipped_clique, 0);
  EXPECT_EQ(plain.skipped, stats.skipped - stats.skipped_clique);
  o.clique_bound = true;
  o.engine.exec_mode = 8;  // the growth can pass the clique: no clique bound
  run(mols, mols, true, o, &plain);
  EXPECT_EQ(plain.skipped_clique, 0);
  o.engine.exec_mode = 1;

  o.top = 2;
  const std::vector<PairResult> top = run(mols, mols, true, o);
  std::vector<PairResult> best;
  screen::TopSelector sel(2, [&](const PairResult &r) { best.push_back(r); });
  for (const PairResult &r : expected) sel.add(r);
  sel.finish();
  EXPECT_TRUE(same_results(top, best));
}

TEST(RunScreen, ReportsProgressUpToTheTotal) {
  const std::vector<CPDMOL *> mols = sample(200);
  std::int64_t last_done = -1, last_total = -1;
  screen::RunOptions o;
  screen::run_screen(
      mols, mols, false, o, [](const PairResult &) {},
      [&](std::int64_t done, std::int64_t total) {
        EXPECT_GE(done, last_done);
        last_done = done;
        last_total = total;
      });
  EXPECT_EQ(last_total, static_cast<std::int64_t>(mols.size() * mols.size()));
  EXPECT_EQ(last_done, last_total);
}

// ---------------------------------------------------------------------------
// Both programs

struct Output {
  std::string out;
  std::string err;
  int status = -1;
};

// Runs a shell command, capturing both streams.
Output shell(const std::string &command) {
  char err_name[] = "/tmp/screen_test_err_XXXXXX";
  const int fd = mkstemp(err_name);
  if (fd < 0) return {};
  close(fd);
  Output o;
  FILE *p = popen((command + " 2>" + err_name).c_str(), "r");
  if (p == nullptr) return o;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) o.out.append(buf, n);
  const int rc = pclose(p);
  o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  std::ifstream in(err_name);
  std::stringstream ss;
  ss << in.rdbuf();
  o.err = ss.str();
  std::remove(err_name);
  return o;
}

std::vector<std::string> split(const std::string &text, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, sep)) out.push_back(item);
  return out;
}

// A folder with a file of the named nci records, in file order.
class Subset {
 public:
  explicit Subset(const std::vector<std::string> &names) {
    char dir[] = "/tmp/screen_test_XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    dir_ = dir;
    std::ifstream in(TAVIRON_EXAMPLES_DIR "/nci.qtr");
    std::ofstream out(path());
    std::string line;
    bool keep = false;
    while (std::getline(in, line)) {
      if (line.rfind("ENTRY", 0) == 0) {
        keep = std::find(names.begin(), names.end(), line.substr(12, 6)) != names.end();
      }
      if (keep) out << line << '\n';
    }
  }
  ~Subset() {
    if (dir_.empty()) return;
    std::remove(path().c_str());
    rmdir(dir_.c_str());
  }
  Subset(const Subset &) = delete;
  Subset &operator=(const Subset &) = delete;

  std::string path() const { return dir_ + "/subset.qtr"; }
  bool ok() const { return !dir_.empty(); }

 private:
  std::string dir_;
};

// taviron's score line as a row: "(no:N)" and "(co:N)" become the status;
// scoreless statuses print like an empty result there, so they count as ok.
std::string taviron_row(const std::string &line) {
  const std::vector<std::string> f = split(line, '\t');
  if (f.size() != 6) return "bad line: " + line;
  std::string coefficient = f[5], status = "ok";
  const std::size_t blank = coefficient.find(' ');
  if (blank != std::string::npos) {
    const std::string suffix = coefficient.substr(blank + 1);
    const std::string count = suffix.substr(4, suffix.size() - 5);
    status = (suffix.rfind("(no:", 0) == 0 ? "too-large:" : "cut:") + count;
    coefficient = coefficient.substr(0, blank);
  }
  return f[0] + "\t" + f[2] + "\t" + f[1] + "\t" + f[3] + "\t" + f[4] + "\t" + coefficient + "\t" +
         status;
}

// taviron-search gives, pair by pair, what one taviron run per pair gives, in
// every option combination that changes the computation.
TEST(Programs, SearchMatchesTavironPairByPair) {
  const std::vector<std::string> targets = {"C00002", "C00005", "C00045", "C00058", "C00115",
                                            "C00310", "C01001", "C01010", "C01020"};
  const std::vector<std::string> queries = {"C00001", "C00250", "C00116", "C01005"};
  // Small files keep the taviron runs quick: the queries with the targets
  // (for taviron), and the targets alone.
  std::vector<std::string> both = targets;
  both.insert(both.end(), {"C00001", "C00250", "C00116", "C01005", "C01015"});
  const Subset all(both);
  const Subset target_file(targets);
  ASSERT_TRUE(all.ok() && target_file.ok());
  struct Case {
    std::string options;
    std::vector<std::string> queries;
  };
  // Without a step budget only pairs that finish quickly are taken.
  const std::vector<Case> cases = {{"", queries},
                                   {"--atom", queries},
                                   {"--trick 1", queries},
                                   {"--atom --trick 0", queries},
                                   {"--limit 50", queries},
                                   {"--repeat 100", queries},
                                   {"--repeat 0", {"C00001", "C01015"}}};
  int non_ok = 0;
  for (const Case &c : cases) {
    std::string cmd = std::string(TAVIRON_SEARCH_BIN) + " -q -j 2 " + c.options;
    for (const std::string &q : c.queries) cmd += " -e " + q;
    const Output search = shell(cmd + " " + all.path() + " " + target_file.path());
    ASSERT_EQ(search.status, 0) << search.err;
    const std::vector<std::string> rows = split(search.out, '\n');
    ASSERT_EQ(rows.size(), 1 + c.queries.size() * targets.size()) << c.options;
    std::size_t k = 1;
    for (const std::string &q : c.queries) {
      for (const std::string &t : targets) {
        const Output one = shell(std::string(TAVIRON_BIN) + " " + all.path() + " -e " + q + " -f " +
                                 t + " " + c.options);
        ASSERT_EQ(one.status, 0);
        std::string row = rows[k++];
        // taviron's score line has no column of its own for this; a search
        // without a budget always finishes.
        const std::string proven = row.substr(row.rfind('\t') + 1);
        if (c.options == "--repeat 0") {
          EXPECT_EQ(proven, "yes") << q << " " << t;
        }
        row.erase(row.rfind('\t'));
        // taviron prints a pair without a result like an empty one.
        for (const char *s : {"\tno-match", "\tno-atoms"}) {
          if (row.size() > std::strlen(s) && row.ends_with(s)) {
            row = row.substr(0, row.size() - std::strlen(s)) + "\tok";
            non_ok++;
          }
        }
        if (!row.ends_with("\tok")) non_ok++;
        EXPECT_EQ(row, taviron_row(one.out.substr(0, one.out.find('\n')))) << c.options;
      }
    }
  }
  EXPECT_GT(non_ok, 20);  // the no-match and too-large outcomes are covered
}

TEST(Programs, SummaryLine) {
  const Output o = shell(std::string(TAVIRON_SEARCH_BIN) + " --pairs " TAVIRON_EXAMPLES_DIR
                                                           "/compounds.qtr --min 0.5 -o /dev/null");
  EXPECT_EQ(o.status, 0);
  // 19 records: 171 pairs.
  long long skipped = -1, by_cliques = -1, rows = -1, rate = -1;
  double seconds = -1;
  char end = 0;
  EXPECT_EQ(std::sscanf(o.err.c_str(),
                        "taviron-search: 171 pairs, %lld skipped by the atom-count bound, %lld by "
                        "the clique bound, %lld rows, %lf s, %lld pairs/s%c",
                        &skipped, &by_cliques, &rows, &seconds, &rate, &end),
            6)
      << o.err;
  EXPECT_EQ(end, '\n');
  EXPECT_GT(skipped, 100);
  EXPECT_GT(rows, 0);
}

}  // namespace
