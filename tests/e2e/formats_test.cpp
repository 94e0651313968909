// The formats and the per-site file end to end: the VCF path gives the text
// path's results on the same data; region chunks of a contig concatenate to
// the whole run's outputs; the per-site file accounts for every SNP of the
// inputs and meets every fate.
#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kData = fs::path(TESSELLAR_SOURCE_DIR) / "tests" / "e2e" / "data";

std::string read_file(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// A bgzipped file's text.
std::string unzipped(const fs::path& path) {
  BGZF* f = bgzf_open(path.c_str(), "r");
  if (f == nullptr) return "";
  std::string text;
  char block[65536];
  for (ssize_t n; (n = bgzf_read(f, block, sizeof block)) > 0;) text.append(block, std::size_t(n));
  bgzf_close(f);
  return text;
}

// The lines of text that start (header) or do not start with '#'; header
// lines without ##source.
std::string lines_of(const std::string& text, bool header) {
  std::istringstream in(text);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if ((line.rfind('#', 0) == 0) != header || line.rfind("##source=", 0) == 0) continue;
    out += line + "\n";
  }
  return out;
}

// Runs tessellar in dir with args (outputs named by absolute paths);
// returns the exit status and fills *log with standard output.
int run(const fs::path& dir, const std::string& args, std::string* log = nullptr) {
  const fs::path out = fs::path(testing::TempDir()) / "tessellar_formats_log.txt";
  const std::string command = "cd '" + dir.string() + "' && '" + TESSELLAR_BINARY + "' " + args +
                              " > '" + out.string() + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  if (log != nullptr) *log = read_file(out);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

fs::path work(const std::string& name) {
  const fs::path w = fs::path(testing::TempDir()) / ("tessellar_formats_" + name);
  fs::remove_all(w);
  fs::create_directories(w);
  return w;
}

struct Paths {
  const char* label;
  const char* dir;               // under the source tree
  const char* text_args;         // the text inputs
  const char* vcf_args;          // the same data as VCF
  const char* contig = nullptr;  // the VCF study's contig, when not the text run's "1"
};

// text with contig named "1" at the start of its lines and in its header.
std::string as_contig_1(std::string text, const char* contig) {
  if (contig == nullptr) return text;
  const std::string from = contig;
  std::string out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(from + "\t", 0) == 0) line = "1" + line.substr(from.size());
    if (line == "##contig=<ID=" + from + ">") line = "##contig=<ID=1>";
    out += line + "\n";
  }
  return out;
}

class TextAndVcf : public testing::TestWithParam<Paths> {};

// The same probabilities, records and per-site lines from either input
// format, to either output format.
TEST_P(TextAndVcf, GiveTheSameResults) {
  const Paths& p = GetParam();
  const fs::path dir = fs::path(TESSELLAR_SOURCE_DIR) / p.dir;
  const fs::path w = work(p.label);
  std::map<std::string, std::string> out;
  for (const auto& [name, args] :
       {std::pair<std::string, std::string>{"text", p.text_args}, {"vcf", p.vcf_args}}) {
    const std::string base = (w / name).string();
    ASSERT_EQ(run(dir, args + " -ofile " + base + ".out -sites " + base + ".sites"), 0) << args;
    ASSERT_EQ(run(dir, args + " -ofile " + base + ".vcf.gz"), 0) << args;
    const char* contig = name == "vcf" ? p.contig : nullptr;
    out[name + ".out"] = read_file(base + ".out");
    out[name + ".sites"] = as_contig_1(read_file(base + ".sites"), contig);
    out[name + ".records"] = as_contig_1(lines_of(unzipped(base + ".vcf.gz"), false), contig);
    out[name + ".header"] = as_contig_1(lines_of(unzipped(base + ".vcf.gz"), true), contig);
  }
  EXPECT_FALSE(out["text.out"].empty());
  EXPECT_EQ(out["vcf.out"], out["text.out"]);
  EXPECT_EQ(out["vcf.sites"], out["text.sites"]);
  EXPECT_EQ(out["vcf.records"], out["text.records"]);
  EXPECT_EQ(out["vcf.header"], out["text.header"]);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TextAndVcf,
    testing::Values(
        Paths{"example", "examples", "",
              "-gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -hfile haplotypes.vcf.gz"},
        Paths{"families", "tests/e2e/data/families", "-panel 6 4 10",
              "-gfile study.vcf -efile panel.vcf -ped panel.ped"},
        Paths{"chr_prefix", "tests/e2e/data/families", "-panel 6 4 10 -loo",
              "-gfile study_chr.vcf -efile panel.vcf -ped panel.ped -loo", "chr1"}),
    [](const testing::TestParamInfo<Paths>& param) { return std::string(param.param.label); });

// A partition of the inputs into chunks that cut through dense and sparse
// stretches, with a chunk without SNPs and one of a single position; tags
// reach far beyond the window (-min 12, -window 4000).
struct Partition {
  const char* label;
  const char* dir;     // under the test data
  const char* inputs;  // the options besides -region, -ofile and -sites
  std::vector<const char*> chunks;
  bool widens;  // some chunk's VCF inputs must be read over a wider flank
};

class Regions : public testing::TestWithParam<Partition> {};

TEST_P(Regions, ConcatenateToTheWholeRun) {
  const Partition& p = GetParam();
  const fs::path dir = kData / p.dir;
  const fs::path w = work(std::string("regions_") + p.label);
  const std::string inputs = std::string(p.inputs) + " -min 12 -window 4000 -loo";
  ASSERT_EQ(run(dir, inputs + " -ofile " + (w / "whole.vcf.gz").string() + " -sites " +
                         (w / "whole.sites").string()),
            0);
  ASSERT_EQ(run(dir, inputs + " -ofile " + (w / "whole.txt").string()), 0);
  std::string text, records, sites;
  int widened = 0;
  for (const char* region : p.chunks) {
    const std::string c = (w / "chunk").string();
    std::string log;
    ASSERT_EQ(
        run(dir, inputs + " -region " + region + " -ofile " + c + ".vcf.gz -sites " + c + ".sites",
            &log),
        0)
        << region;
    widened += log.find("tag candidates reach beyond") != std::string::npos;
    ASSERT_EQ(run(dir, inputs + " -region " + region + " -ofile " + c + ".txt"), 0);
    const std::string vcf = unzipped(c + ".vcf.gz");
    EXPECT_EQ(lines_of(vcf, true), lines_of(unzipped(w / "whole.vcf.gz"), true)) << region;
    records += lines_of(vcf, false);
    text += read_file(c + ".txt");
    const std::string chunk_sites = read_file(c + ".sites");
    sites += sites.empty() ? chunk_sites : chunk_sites.substr(chunk_sites.find('\n') + 1);
  }
  if (p.widens) {
    EXPECT_GT(widened, 0) << "no chunk needed a wider flank: the data test nothing";
  }
  EXPECT_EQ(text, read_file(w / "whole.txt"));
  EXPECT_EQ(records, lines_of(unzipped(w / "whole.vcf.gz"), false));
  EXPECT_EQ(sites, read_file(w / "whole.sites"));
}

// contigs: two VCF contigs read through their indexes. sparse: text files
// (read whole, then only the codes a chunk needs) of a trio, duo and
// singleton panel whose names repeat ('.'), so that the haplotype rows of a
// chunk are found only by matching from the file's start. hmm: the hmm
// engine's windows (5 Mb): chunks that span two windows, cut one, hold a
// single position and end where the study has none.
INSTANTIATE_TEST_SUITE_P(
    Chunks, Regions,
    testing::Values(Partition{"contigs",
                              "contigs",
                              "-gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped",
                              {"chr5:1-1200000", "chr5:1200001-1700000", "chr5:1700001-1700001",
                               "chr5:1700002-1800000", "chr5:1800001-2400000", "chr5:2400001-",
                               "chr6:1-1250000", "chr6:1250001-1250400", "chr6:1250401-9000000"},
                              true},
                    Partition{"sparse",
                              "sparse",
                              "-panel 4 2 10",
                              {"1:1-1300000", "1:1300001-1600000", "1:1600001-1600001",
                               "1:1600002-2000000", "1:2000001-2400000", "1:2400001-"},
                              false},
                    Partition{"hmm",
                              "hmm",
                              "-engine hmm -gfile study.vcf.gz -efile panel.vcf.gz",
                              {"1:1-3000000", "1:3000001-5900000", "1:5900001-5900001",
                               "1:5900002-7654321", "1:7654322-10000000", "1:10000001-"},
                              false},
                    Partition{
                        "hmm_map",
                        "hmm",
                        "-engine hmm -gfile study.vcf.gz -efile panel.vcf.gz -map genetic.map",
                        {"1:1-4999999", "1:5000000-6000000", "1:6000001-"},
                        false}),
    [](const testing::TestParamInfo<Partition>& chunks) { return chunks.param.label; });

// The columns of a per-site file, line by line (the header left out).
std::vector<std::vector<std::string>> site_lines(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind('#', 0) == 0) continue;
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    lines.push_back(f);
  }
  return lines;
}

// Every SNP of the example's three inputs stands once in the per-site file,
// with as many in each input as the run log's reader lines count.
TEST(Sites, AccountForEverySnpOfTheInputs) {
  const fs::path w = work("sites");
  std::string log;
  ASSERT_EQ(run(fs::path(TESSELLAR_SOURCE_DIR) / "examples",
                "-ofile " + (w / "out.txt").string() + " -sites " + (w / "s.tsv").string(), &log),
            0);
  const auto lines = site_lines(read_file(w / "s.tsv"));
  int in_study = 0, in_panel = 0, haplotypes = 0;
  std::set<std::string> names;
  for (const auto& f : lines) {
    ASSERT_EQ(f.size(), 15u);
    in_study += f[5] == "1";
    in_panel += f[6] == "1";
    haplotypes += f[7] == "1";
    EXPECT_TRUE(names.insert(f[2]).second) << f[2] << " twice";
  }
  EXPECT_NE(log.find(std::to_string(in_study) + " SNPs and 50 individuals read"),
            std::string::npos);
  EXPECT_NE(log.find(std::to_string(in_panel) + " SNPs, 30 trios, 0 duos and"), std::string::npos);
  EXPECT_NE(log.find(std::to_string(haplotypes) + " SNPs, 30 trios, 0 duos, and"),
            std::string::npos);
}

// Inputs made to meet every fate (fates/make.py) meet every one. A SNP
// monomorphic in the study and imputed from a panel that lists its letters
// swapped keeps ALT the allele that its probabilities count, the study's.
TEST(Sites, MeetEveryFate) {
  const fs::path w = work("fates");
  ASSERT_EQ(run(kData / "fates",
                "-gfile study.vcf -efile panel.vcf -hfile haplotypes.vcf -ped panel.ped -ofile " +
                    (w / "o.vcf.gz").string() + " -sites " + (w / "s.tsv").string()),
            0);
  std::set<std::string> fates;
  for (const auto& f : site_lines(read_file(w / "s.tsv"))) {
    fates.insert(f[8]);
    if (f[1] == "2100050") {
      EXPECT_EQ(f[3] + f[4] + f[8], "AGimputed");
    }
  }
  EXPECT_NE(unzipped(w / "o.vcf.gz").find("\t2100050\tp_mono\tA\tG\t"), std::string::npos);
  const std::set<std::string> all = {"typed",
                                     "typed+imputed",
                                     "imputed",
                                     "study-only",
                                     "monomorphic",
                                     "strand-ambiguous",
                                     "no-haplotype-row",
                                     "no-tag-set",
                                     "allele-mismatch",
                                     "haplotype-only",
                                     "no-study-contig",
                                     "skipped-multiallelic",
                                     "skipped-symbolic",
                                     "skipped-indel",
                                     "skipped-filter",
                                     "skipped-unphased"};
  EXPECT_EQ(fates, all);
}

}  // namespace
