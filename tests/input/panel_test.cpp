// read_panel: the column check against the panel structure, values, the log
// line and malformed rows.
#include "input/panel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "input_test_util.h"
#include "core/settings.h"

namespace tessellar {
namespace {

using testing_input::error_text;
using testing_input::printed_output;
using testing_input::stopped_output;
using testing_input::TempFile;

// A panel row with the given codes, each one character.
std::string panel_line(const std::string& name, int pos, const std::string& alleles,
                       const std::string& codes) {
  std::string line = name + " " + std::to_string(pos) + " " + alleles;
  for (char c : codes) line += std::string(" ") + c;
  return line + "\n";
}

class ReadPanel : public ::testing::Test {
 protected:
  void TearDown() override { install_settings(Settings{}); }
  void use_panel(int trios, int duos, int singletons) {
    Settings s;
    s.nTR = trios;
    s.nDU = duos;
    s.nUN = singletons;
    install_settings(s);
  }
};

TEST_F(ReadPanel, DefaultStructureNinetyColumns) {
  const std::string codes90 = std::string(45, '0') + std::string(44, '2') + "9";
  TempFile file(panel_line("rsA", 10, "A G", codes90) +
                panel_line("rsB", 20, "C T", std::string(90, '9')) + "\n\n  \n");
  PanelTable t;
  const std::string log = printed_output([&] { t = read_panel(file.path()); });
  EXPECT_EQ(log, "2 SNPs, 30 trios, 0 duos and 0 singletons read from '" + file.path() + "'\n");
  ASSERT_EQ(t.ncol, 90);
  ASSERT_EQ(t.nsnp, 2);
  EXPECT_EQ(t.name, (std::vector<std::string>{"rsA", "rsB"}));
  EXPECT_EQ(t.pos, (std::vector<int>{10, 20}));
  EXPECT_EQ(t.allele[1], (std::array<char, 2>{'C', 'T'}));
  EXPECT_EQ(t.geno.at(0, 0), 0);
  EXPECT_EQ(t.geno.at(45, 0), 2);
  EXPECT_EQ(t.geno.at(89, 0), 9);
  EXPECT_EQ(t.freq[0], 88.0 / 178.0);
  EXPECT_TRUE(std::isnan(t.freq[1]));
}

TEST_F(ReadPanel, NinetyOneColumnsStopBeforeAnyRow) {
  // The second row is malformed: the column check must come first.
  TempFile file(panel_line("rsA", 10, "A G", std::string(91, '1')) + "broken\n");
  const std::string out = stopped_output([&] { read_panel(file.path()); });
  EXPECT_EQ(out, "'PANEL' information does not match with '" + file.path() +
                     "'\n\nTessellar was stopped due to error(s) listed above.\n\n");
}

TEST_F(ReadPanel, TriosDuosSingletons) {
  use_panel(20, 5, 2);
  TempFile file(panel_line("rsA", 10, "A G", std::string(72, '1')));
  PanelTable t;
  const std::string log = printed_output([&] { t = read_panel(file.path()); });
  EXPECT_EQ(t.ncol, 72);
  EXPECT_EQ(log, "1 SNPs, 20 trios, 5 duos and 2 singletons read from '" + file.path() + "'\n");
  TempFile wrong(panel_line("rsA", 10, "A G", std::string(71, '1')));
  EXPECT_EQ(stopped_output([&] { read_panel(wrong.path()); }),
            "'PANEL' information does not match with '" + wrong.path() +
                "'\n\nTessellar was stopped due to error(s) listed above.\n\n");
}

struct PanelErrorCase {
  std::string name;
  std::string text;
  std::string message;  // after "'<path>' line "
};

class PanelError : public ReadPanel, public ::testing::WithParamInterface<PanelErrorCase> {};

TEST_P(PanelError, StopsWithMessage) {
  use_panel(1, 0, 0);
  const PanelErrorCase& c = GetParam();
  TempFile file(c.text);
  const std::string out = stopped_output([&] { read_panel(file.path()); });
  EXPECT_EQ(out, error_text("'" + file.path() + "' line " + c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PanelError,
    ::testing::Values(
        PanelErrorCase{"fewer_codes", "a 1 A G 0 1 2\nb 2 A G 0 1\nc 3 A G 0 1 1\n",
                       "2: expected 3 genotype codes after the allele letters, found 2"},
        PanelErrorCase{"ends_mid_row", "a 1 A G 0 1 2\nb 2 A G 0",
                       "2: the file ends in the middle of a row: expected 3 genotype codes after "
                       "the allele letters, found 1"},
        PanelErrorCase{"short_fixed_fields", "a 1 A G 0 1 2\nb 2 A\nc 3 A G 0 1 1\n",
                       "2: expected a SNP name, a position and two allele letters, found 3 fields"},
        PanelErrorCase{"bad_code", "a 1 A G 0 1 2\nb 2 A G 0 5 1\n",
                       "2: expected genotype code 0, 1, 2 or 9 (missing) for panel member 2, "
                       "found '5'"},
        PanelErrorCase{"wide_code_first_line", "a 1 A G 12 1\n",
                       "1: genotype code '12' has more than one character; the number of panel "
                       "members is taken from the first line, whose codes must be one character "
                       "each"},
        PanelErrorCase{"decreasing", "a 5 A G 0 1 2\nb 4 A G 0 1 2\n",
                       "2: positions must not decrease from one row to the next, found 4 after 5"},
        PanelErrorCase{"allele", "a 5 A GG 0 1 2\n",
                       "1: expected allele 2 as a single letter, found 'GG'"},
        PanelErrorCase{"position", "a 5.5 A G 0 1 2\n",
                       "1: expected the position as a whole number of base pairs, found '5.5'"}),
    [](const ::testing::TestParamInfo<PanelErrorCase>& p) { return p.param.name; });

}  // namespace
}  // namespace tessellar
