// The formats and the per-site file end to end: the VCF path gives the text
// path's results on the same data; region chunks of a contig concatenate to
// the whole run's outputs; the per-site file meets every fate.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_run.h"
#include "work_folder.h"

namespace fs = std::filesystem;
using namespace tessellar::testing_support;

namespace {

const fs::path kSource = TESSELLAR_SOURCE_DIR;

// The lines of text that start (header) or do not start with '#'; header
// lines without ##source; the contig from (when given) renamed "1".
std::string lines_of(const std::string& text, bool header, const std::string& from = "") {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if ((line.rfind('#', 0) == 0) != header || line.rfind("##source=", 0) == 0) continue;
    if (!from.empty() && line.rfind(from + "\t", 0) == 0) line = "1" + line.substr(from.size());
    if (!from.empty() && line == "##contig=<ID=" + from + ">") line = "##contig=<ID=1>";
    out += line + "\n";
  }
  return out;
}

// Runs tessellar in dir with args (outputs named by absolute paths).
int run(const fs::path& dir, const std::string& args) {
  return shell(dir, kBinary + " " + args + " > /dev/null 2>&1");
}

// A data set as text and as VCF, a line of format_cases.txt: label, folder,
// the text options, the VCF options, the VCF study's contig, "differs".
class TextAndVcf : public testing::TestWithParam<std::vector<std::string>> {};

// The same probabilities, records and per-site lines from either input
// format, to either output format.
TEST_P(TextAndVcf, GiveTheSameResults) {
  const std::vector<std::string>& p = GetParam();
  const WorkFolder w("formats_" + p[0]);
  std::map<std::string, std::string> out;
  for (const std::string name : {"text", "vcf"}) {
    const std::string& args = name == "text" ? p[2] : p[3];
    const std::string base = (w / name).string();
    ASSERT_EQ(run(kSource / p[1], args + " -ofile " + base + ".out -sites " + base + ".sites"), 0);
    ASSERT_EQ(run(kSource / p[1], args + " -ofile " + base + ".vcf.gz"), 0) << args;
    const std::string contig = name == "vcf" ? p[4] : "";
    out[name + ".out"] = read_file(base + ".out");
    out[name + ".sites"] = lines_of(read_file(base + ".sites"), false, contig);
    for (const bool header : {false, true})
      out[name + std::to_string(header)] = lines_of(unzipped(base + ".vcf.gz"), header, contig);
  }
  EXPECT_FALSE(out["text.out"].empty());
  EXPECT_EQ(out["vcf.out"], out[p[5] == "differs" ? "vcf.out" : "text.out"]);
  for (const std::string part : {".sites", "0", "1"})
    EXPECT_EQ(out["vcf" + part], out["text" + part]) << part;
}

INSTANTIATE_TEST_SUITE_P(Formats, TextAndVcf,
                         testing::ValuesIn(table_rows(kSource / "tests/e2e/format_cases.txt", 6)),
                         [](const auto& p) { return p.param[0]; });

// A partition of the inputs into chunks, a line of region_cases.txt: label,
// folder, inputs, chunks, whether some chunk widens, a command run first, a feed.
class Regions : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(Regions, ConcatenateToTheWholeRun) {
  const std::vector<std::string>& p = GetParam();
  const WorkFolder w("formats_regions_" + p[0]);
  const fs::path dir = w / "inputs";
  fs::create_directory(dir);
  if (p[1] == "examples") {
    copy_example_inputs(dir);
  } else {
    fs::copy(kSource / p[1], dir);
  }
  ASSERT_EQ(shell(dir, p[5].empty() ? "true" : p[5]), 0);
  const std::string feed = p[6].empty() ? "" : p[6] + " | ";
  const std::string inputs = feed + kBinary + " " + p[2] + " -min 12 -window 4000 -loo -ofile ";
  const std::string whole = (w / "whole").string();
  ASSERT_EQ(shell(dir, inputs + whole + ".vcf.gz -sites " + whole + ".sites"), 0);
  ASSERT_EQ(shell(dir, inputs + whole + ".txt"), 0);
  std::string text, records, sites;
  int widened = 0;
  std::istringstream chunks(p[3]);
  for (std::string region; chunks >> region;) {
    const std::string c = (w / "chunk").string();
    std::string log;
    ASSERT_EQ(shell(dir, inputs + c + ".vcf.gz -sites " + c + ".sites -region " + region, &log), 0)
        << region;
    // From twice the window plus 100 kb, growing fourfold, the flanks pass
    // any contig of these inputs within a few attempts; no attempt repeats.
    int attempts = 0;
    for (std::size_t at = 0;
         (at = log.find("tag candidates reach beyond", at)) != std::string::npos; ++at)
      ++attempts;
    EXPECT_LE(attempts, 5) << region;
    widened += attempts;
    ASSERT_EQ(shell(dir, inputs + c + ".txt -region " + region), 0);
    const std::string vcf = unzipped(c + ".vcf.gz");
    EXPECT_EQ(lines_of(vcf, true), lines_of(unzipped(whole + ".vcf.gz"), true)) << region;
    records += lines_of(vcf, false);
    text += read_file(c + ".txt");
    const std::string chunk_sites = read_file(c + ".sites");
    sites += sites.empty() ? chunk_sites : chunk_sites.substr(chunk_sites.find('\n') + 1);
  }
  EXPECT_TRUE(p[4] == "0" || widened > 0) << "no chunk needed a wider flank: the data test nothing";
  EXPECT_EQ(text, read_file(whole + ".txt"));
  EXPECT_EQ(records, lines_of(unzipped(whole + ".vcf.gz"), false));
  EXPECT_EQ(sites, read_file(whole + ".sites"));
}

INSTANTIATE_TEST_SUITE_P(Chunks, Regions,
                         testing::ValuesIn(table_rows(kSource / "tests/e2e/region_cases.txt", 7)),
                         [](const auto& p) { return p.param[0]; });

// A region of a contig that no input holds is announced on standard error
// (the output is empty); an empty chunk of a contig that they hold is not.
TEST(RegionContig, IsAnnouncedWhenNoInputHoldsIt) {
  const WorkFolder w("formats_unknown_contig");
  const std::string command = kBinary +
                              " -gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -ofile '" +
                              (w / "o.vcf.gz").string() + "' 2>&1 >/dev/null -region ";
  for (const auto& [region, warning] :
       {std::pair{"chr7:1-1000000",
                  "Warning: no input holds contig chr7 of -region: the output has no records.\n"},
        {"6:9000000-", ""}}) {
    std::string errors;
    EXPECT_EQ(shell(kSource / "tests/e2e/data/contigs", command + region, &errors), 0);
    EXPECT_EQ(errors, warning);
  }
}

// Inputs made to meet every fate (fates/make.py) meet every one. A SNP
// monomorphic in the study and imputed from a panel that lists its letters
// swapped keeps ALT the allele that its probabilities count, the study's.
TEST(Sites, MeetEveryFate) {
  const WorkFolder w("formats_fates");
  ASSERT_EQ(run(kSource / "tests/e2e/data/fates",
                "-gfile study.vcf -efile panel.vcf -hfile haplotypes.vcf -ped panel.ped -ofile " +
                    (w / "o.vcf.gz").string() + " -sites " + (w / "s.tsv").string()),
            0);
  std::set<std::string> fates;
  std::istringstream lines(read_file(w / "s.tsv"));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    fates.insert(f[8]);
    // A skipped record is on the line of the input that held it: s_ the
    // study, p_ the panel, h_ the haplotype file.
    const std::string flags = f[2][0] == 's' ? "100" : f[2][0] == 'p' ? "010" : "001";
    EXPECT_TRUE(!f[8].starts_with("skipped-") || f[5] + f[6] + f[7] == flags) << f[2];
    EXPECT_TRUE(f[1] != "2100050" || f[3] + f[4] + f[8] == "AGimputed") << line;
  }
  EXPECT_NE(unzipped(w / "o.vcf.gz").find("\t2100050\tp_mono\tA\tG\t"), std::string::npos);
  std::string all;
  for (const std::string& fate : fates) all += fate + " ";
  EXPECT_EQ(all,
            "FATE allele-mismatch haplotype-only imputed monomorphic no-haplotype-row "
            "no-study-contig no-tag-set skipped-filter skipped-indel skipped-multiallelic "
            "skipped-symbolic skipped-unphased strand-ambiguous study-only typed typed+imputed ");
}

}  // namespace
