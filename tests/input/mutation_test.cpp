// Damaged input never crashes a reader or reads silently wrong: random
// mutations of small valid files either read into tables that keep every
// rule of the format, or stop the run with one "Error: ..." line (or the
// panel's mismatch line).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "input/haplotypes.h"
#include "input/panel.h"
#include "input/study.h"
#include "input_test_util.h"
#include "core/fatal.h"
#include "core/settings.h"

namespace tessellar {
namespace {

using testing_input::TempFile;

const char* const kStudy =
    "rs1 100 0 A G 0 1 2 9\n"
    "rs2 200 1 C T 2 2 1 0\n"
    "rs3 200 0 A T 9 9 9 9\n"
    "rs4 350 0 G T 1 0 0 1\n";
const char* const kPanel =
    "rs1 100 A G 0 1 1\n"
    "rs2 200 C T 2 1 1\n"
    "rs5 300 A C 9 0 1\n";
const char* const kHaplotypes =
    "rs1 0 1 1 0\n"
    "rs2 1 1 0 0\n"
    "rs5 0 0 1 1\n";

// One random edit: a changed, deleted or inserted byte, or a cut.
std::string mutate(std::string text, std::mt19937& random) {
  static const std::string kBytes = "0129 -+\t\r\nAaGx#";
  std::uniform_int_distribution<std::size_t> where(0, text.size() - 1);
  std::uniform_int_distribution<std::size_t> byte(0, kBytes.size() - 1);
  const std::size_t at = where(random);
  switch (random() % 4) {
    case 0:
      text[at] = kBytes[byte(random)];
      break;
    case 1:
      text.erase(at, 1);
      break;
    case 2:
      text.insert(at, 1, kBytes[byte(random)]);
      break;
    default:
      text.resize(at);
      break;
  }
  return text;
}

bool valid_code(int code) {
  return code == 0 || code == 1 || code == 2 || code == 9;
}

void expect_rows_sound(const std::vector<int>& pos, const std::vector<std::string>& names) {
  for (std::size_t r = 0; r < pos.size(); ++r) {
    EXPECT_GT(pos[r], -300000000);
    EXPECT_LT(pos[r], 300000000);
    if (r > 0) {
      EXPECT_LE(pos[r - 1], pos[r]);
    }
    EXPECT_FALSE(names[r].empty());
    EXPECT_LE(names[r].size(), 29u);
  }
}

void check_study(const StudyTable& t) {
  ASSERT_GT(t.nsnp, 0);
  ASSERT_GT(t.nind, 0);
  ASSERT_EQ(t.geno.codes.size(), static_cast<std::size_t>(t.nsnp) * t.nind);
  expect_rows_sound(t.pos, t.name);
  for (int s = 0; s < t.nsnp; ++s) {
    int present = 0;
    for (int i = 0; i < t.nind; ++i) {
      EXPECT_TRUE(valid_code(t.geno.at(i, s)));
      present += t.geno.at(i, s) != 9;
    }
    EXPECT_EQ(t.miss[s], static_cast<double>(t.nind - present) / t.nind);
    EXPECT_EQ(std::isnan(t.freq[s]), present == 0);
  }
}

void check_panel(const PanelTable& t) {
  ASSERT_GT(t.nsnp, 0);
  ASSERT_EQ(t.geno.codes.size(), static_cast<std::size_t>(t.nsnp) * t.ncol);
  expect_rows_sound(t.pos, t.name);
  for (int8_t code : t.geno.codes) EXPECT_TRUE(valid_code(code));
}

void check_haplotypes(const HapTable& t) {
  ASSERT_GT(t.nsnp, 0);
  ASSERT_GT(t.ncol, 0);
  ASSERT_EQ(t.bits.size(), static_cast<std::size_t>(t.nsnp) * t.ncol);
  for (uint8_t bit : t.bits) EXPECT_LE(bit, 1);
}

// Reads the mutated text with read; a stop must print exactly one message line.
template <class Read, class Check>
void read_mutations(const char* base, Read read, Check check) {
  std::mt19937 random(2024);
  for (int trial = 0; trial < 400; ++trial) {
    std::string text = base;
    for (int edits = 1 + static_cast<int>(random() % 3); edits > 0 && !text.empty(); --edits)
      text = mutate(text, random);
    TempFile file(text, "mutated");
    testing::internal::CaptureStdout();
    bool stopped = false;
    try {
      check(read(file.path()));
    } catch (const RunStopped&) {
      stopped = true;
    }
    const std::string log = testing::internal::GetCapturedStdout();
    if (stopped) {
      const std::string stop = "\nTessellar was stopped due to error(s) listed above.\n\n";
      ASSERT_GE(log.size(), stop.size()) << text;
      const std::string message = log.substr(0, log.size() - stop.size());
      EXPECT_EQ(message.find('\n'), message.size() - 1) << text << "\n" << log;
      EXPECT_TRUE(message.rfind("Error: ", 0) == 0 || message.rfind("'PANEL'", 0) == 0) << log;
    }
  }
}

TEST(DamagedInput, StudyFile) {
  install_window_size(5);
  read_mutations(kStudy, read_study, check_study);
}

TEST(DamagedInput, PanelFile) {
  Settings s;
  s.nTR = 1;
  install_settings(s);
  read_mutations(kPanel, read_panel, check_panel);
  install_window_size(5);
}

TEST(DamagedInput, HaplotypeFile) {
  install_window_size(5);
  read_mutations(kHaplotypes, read_haplotypes, check_haplotypes);
}

}  // namespace
}  // namespace tessellar
