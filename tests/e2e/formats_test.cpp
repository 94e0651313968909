// The formats and the per-site file end to end: the VCF path gives the text
// path's results on the same data; region chunks of a contig concatenate to
// the whole run's outputs; the per-site file accounts for every SNP of the
// inputs and meets every fate.
#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "work_folder.h"

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

// Runs tessellar in dir with args (outputs named by absolute paths), its
// standard input from the command feed when given; returns the exit status
// and fills *log with standard output, *errors with standard error.
int run(const fs::path& dir, const std::string& args, std::string* log = nullptr,
        const char* feed = nullptr, std::string* errors = nullptr) {
  // Named by the process: ctest runs the cases side by side.
  const std::string id = std::to_string(getpid());
  const fs::path out = fs::path(testing::TempDir()) / ("tessellar_formats_log_" + id + ".txt");
  const fs::path err = fs::path(testing::TempDir()) / ("tessellar_formats_errors_" + id + ".txt");
  const std::string command =
      "cd '" + dir.string() + "' && " + (feed != nullptr ? std::string(feed) + " | " : "") + "'" +
      TESSELLAR_BINARY + "' " + args + " > '" + out.string() + "' 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  if (log != nullptr) *log = read_file(out);
  if (errors != nullptr) *errors = read_file(err);
  fs::remove(out);
  fs::remove(err);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A work folder of these tests.
class Work : public tessellar::testing_support::WorkFolder {
 public:
  explicit Work(const std::string& name) : WorkFolder("formats_" + name) {}
};

struct Paths {
  const char* label;
  const char* dir;               // under the source tree
  const char* text_args;         // the text inputs
  const char* vcf_args;          // the same data as VCF
  const char* contig = nullptr;  // the VCF study's contig, when not the text run's "1"
  // The text output lists the letters of a SNP imputed from the panel as the
  // panel lists them, which the VCF form swaps where a study row has recode
  // flag 1: then only the VCF output and the per-site file must agree.
  bool same_text_output = true;
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
  const Work folder(p.label);
  const fs::path& w = folder.path();
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
  if (p.same_text_output) {
    EXPECT_EQ(out["vcf.out"], out["text.out"]);
  }
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
              "-gfile study_chr.vcf -efile panel.vcf -ped panel.ped -loo", "chr1"},
        Paths{"recode", "tests/e2e/data/recode", "-panel 6 0 4",
              "-gfile study.vcf -efile panel.vcf -ped panel.ped -hfile haplotypes.vcf", nullptr,
              false},
        Paths{"one_sample", "tests/e2e/data/one_sample", "-panel 0 0 1",
              "-gfile study.vcf -efile panel.vcf -ped panel.ped"}),
    [](const testing::TestParamInfo<Paths>& param) { return std::string(param.param.label); });

// A partition of the inputs into chunks that cut through dense and sparse
// stretches, with a chunk without SNPs and one of a single position; tags
// reach far beyond the window (-min 12, -window 4000).
struct Partition {
  const char* label;
  const char* dir;     // under the source tree
  const char* inputs;  // the options besides -region, -ofile and -sites
  std::vector<const char*> chunks;
  bool widens;  // some chunk's VCF inputs must be read over a wider flank
  // When given, the runs use a copy of the files of dir that inputs,
  // prepare and feed name (with their indexes), after the shell command
  // prepare has run in it; feed is piped to the standard input of every run.
  const char* prepare = nullptr;
  const char* feed = nullptr;
};

// A fresh folder with the files of dir whose names (without an index's
// extension) text holds.
fs::path copy_named(const fs::path& dir, const std::string& text, const fs::path& to) {
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename();
    for (const char* ext : {".tbi", ".csi"})
      if (name.ends_with(ext)) name.resize(name.size() - 4);
    if (e.is_regular_file() && text.find(name) != std::string::npos)
      fs::copy_file(e.path(), to / e.path().filename());
  }
  return to;
}

class Regions : public testing::TestWithParam<Partition> {};

TEST_P(Regions, ConcatenateToTheWholeRun) {
  const Partition& p = GetParam();
  const Work folder(std::string("regions_") + p.label);
  const fs::path& w = folder.path();
  fs::path dir = fs::path(TESSELLAR_SOURCE_DIR) / p.dir;
  if (p.prepare != nullptr || p.feed != nullptr) {
    dir = copy_named(
        dir,
        std::string(p.inputs) + " " + (p.prepare ? p.prepare : "") + " " + (p.feed ? p.feed : ""),
        w / "inputs");
    if (p.prepare != nullptr) {
      ASSERT_EQ(std::system(("cd '" + dir.string() + "' && { " + p.prepare + " ; }").c_str()), 0);
    }
  }
  const std::string inputs = std::string(p.inputs) + " -min 12 -window 4000 -loo";
  ASSERT_EQ(run(dir,
                inputs + " -ofile " + (w / "whole.vcf.gz").string() + " -sites " +
                    (w / "whole.sites").string(),
                nullptr, p.feed),
            0);
  ASSERT_EQ(run(dir, inputs + " -ofile " + (w / "whole.txt").string(), nullptr, p.feed), 0);
  std::string text, records, sites;
  int widened = 0;
  for (const char* region : p.chunks) {
    const std::string c = (w / "chunk").string();
    std::string log;
    ASSERT_EQ(
        run(dir, inputs + " -region " + region + " -ofile " + c + ".vcf.gz -sites " + c + ".sites",
            &log, p.feed),
        0)
        << region;
    widened += log.find("tag candidates reach beyond") != std::string::npos;
    // From twice the window plus 100 kb, growing fourfold, the flanks pass
    // any contig of these inputs within a few attempts; no attempt repeats.
    int attempts = 0;
    for (std::size_t at = 0;
         (at = log.find("tag candidates reach beyond", at)) != std::string::npos; ++at)
      ++attempts;
    EXPECT_LE(attempts, 5) << region;
    ASSERT_EQ(run(dir, inputs + " -region " + region + " -ofile " + c + ".txt", nullptr, p.feed),
              0);
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

const std::vector<const char*> kContigChunks = {
    "chr5:1-1200000",       "chr5:1200001-1700000", "chr5:1700001-1700001",
    "chr5:1700002-1800000", "chr5:1800001-2400000", "chr5:2400001-",
    "chr6:1-1250000",       "chr6:1250001-1250400", "chr6:1250401-9000000"};
const std::vector<const char*> kExampleChunks = {"1:1-1200000", "1:1200001-1400000",
                                                 "1:1400001-1700000", "1:1700001-"};
constexpr const char* kExample =
    "-gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -hfile haplotypes.vcf.gz";

// contigs: two VCF contigs read through their indexes; the same without
// indexes (plain VCF and BCF, read through); with a stale study index that
// lacks the records appended to the file after it was made. sparse: text
// files (read whole, then only the codes a chunk needs) of a trio, duo and
// singleton panel whose names repeat ('.'), so that the haplotype rows of a
// chunk are found only by matching from the file's start. example: each VCF
// input from a pipe (read once), and all without indexes. hmm: the hmm
// engine's windows (5 Mb): chunks that span two windows, cut one, hold a
// single position and end where the study has none; and the same where the
// engine phases the study (text; a VCF with one unphased call; -rephase).
INSTANTIATE_TEST_SUITE_P(
    Chunks, Regions,
    testing::Values(
        Partition{"contigs", "tests/e2e/data/contigs",
                  "-gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped", kContigChunks, true},
        Partition{"contigs_unindexed", "tests/e2e/data/contigs",
                  "-gfile study.vcf -efile panel.bcf -ped panel.ped", kContigChunks, true,
                  "gzip -dc study.vcf.gz > study.vcf && bcftools view -Ob -o panel.bcf "
                  "panel.vcf.gz"},
        Partition{"contigs_stale_index", "tests/e2e/data/contigs",
                  "-gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped", kContigChunks, true,
                  "gzip -dc study.vcf.gz > all && head -n 150 all | bgzip > old.gz && "
                  "tabix -p vcf old.gz && tail -n +151 all | bgzip > rest.gz && "
                  "{ head -c -28 old.gz; cat rest.gz; } > study.vcf.gz && "
                  "mv old.gz.tbi study.vcf.gz.tbi && touch -d 2001-01-01 study.vcf.gz.tbi"},
        Partition{"sparse",
                  "tests/e2e/data/sparse",
                  "-panel 4 2 10",
                  {"1:1-1300000", "1:1300001-1600000", "1:1600001-1600001", "1:1600002-2000000",
                   "1:2000001-2400000", "1:2400001-"},
                  false},
        Partition{"example_piped_study", "examples",
                  "-gfile /dev/stdin -efile panel.vcf.gz -ped panel.ped -hfile haplotypes.vcf.gz",
                  kExampleChunks, false, nullptr, "cat study.vcf.gz"},
        Partition{"example_piped_panel", "examples",
                  "-gfile study.vcf.gz -efile /dev/stdin -ped panel.ped -hfile haplotypes.vcf.gz",
                  kExampleChunks, false, nullptr, "cat panel.vcf.gz"},
        Partition{"example_piped_haplotypes", "examples",
                  "-gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -hfile /dev/stdin",
                  kExampleChunks, false, nullptr, "gzip -dc haplotypes.vcf.gz"},
        Partition{"example_unindexed", "examples",
                  "-gfile study.vcf -efile panel.vcf -ped panel.ped -hfile haplotypes.vcf",
                  kExampleChunks, false,
                  "gzip -dc study.vcf.gz > study.vcf && gzip -dc panel.vcf.gz > panel.vcf && "
                  "gzip -dc haplotypes.vcf.gz > haplotypes.vcf"},
        Partition{"hmm",
                  "tests/e2e/data/hmm",
                  "-engine hmm -gfile study.vcf.gz -efile panel.vcf.gz",
                  {"1:1-3000000", "1:3000001-5900000", "1:5900001-5900001", "1:5900002-7654321",
                   "1:7654322-10000000", "1:10000001-"},
                  false},
        Partition{"hmm_map",
                  "tests/e2e/data/hmm",
                  "-engine hmm -gfile study.vcf.gz -efile panel.vcf.gz -map genetic.map",
                  {"1:1-4999999", "1:5000000-6000000", "1:6000001-"},
                  false},
        Partition{"hmm_text_phased", "examples", "-engine hmm", kExampleChunks, false},
        Partition{"hmm_mixed_phase",
                  "tests/e2e/data/hmm",
                  "-engine hmm -gfile unphased.vcf -efile panel.vcf.gz -rounds 2",
                  {"1:1-3000000", "1:3000001-5900000", "1:5900001-"},
                  false},
        Partition{"hmm_rephased",
                  "tests/e2e/data/hmm",
                  "-engine hmm -gfile study.vcf.gz -efile panel.vcf.gz -rephase -draws 2",
                  {"1:1-2638895", "1:2638896-5000000", "1:5000001-"},
                  false}),
    [](const testing::TestParamInfo<Partition>& chunks) { return chunks.param.label; });

// A region of a contig that no input holds is announced on standard error
// (the output is empty); an empty chunk of a contig that they hold is not.
TEST(RegionContig, IsAnnouncedWhenNoInputHoldsIt) {
  const fs::path dir = kData / "contigs";
  const Work folder("unknown_contig");
  const fs::path& w = folder.path();
  const std::string inputs = "-gfile study.vcf.gz -efile panel.vcf.gz -ped panel.ped -ofile " +
                             (w / "out.vcf.gz").string() + " -region ";
  std::string errors;
  EXPECT_EQ(run(dir, inputs + "chr7:1-1000000", nullptr, nullptr, &errors), 0);
  EXPECT_EQ(errors, "Warning: no input holds contig chr7 of -region: the output has no records.\n");
  EXPECT_EQ(run(dir, inputs + "6:9000000-", nullptr, nullptr, &errors), 0);
  EXPECT_EQ(errors, "");
}

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
  const Work folder("sites");
  const fs::path& w = folder.path();
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
  const Work folder("fates");
  const fs::path& w = folder.path();
  ASSERT_EQ(run(kData / "fates",
                "-gfile study.vcf -efile panel.vcf -hfile haplotypes.vcf -ped panel.ped -ofile " +
                    (w / "o.vcf.gz").string() + " -sites " + (w / "s.tsv").string()),
            0);
  std::set<std::string> fates;
  for (const auto& f : site_lines(read_file(w / "s.tsv"))) {
    fates.insert(f[8]);
    // A skipped record is on the line of the input that held it: s_ the
    // study, p_ the panel, h_ the haplotype file.
    if (f[8].starts_with("skipped-")) {
      EXPECT_EQ(f[5] + f[6] + f[7], f[2][0] == 's'   ? "100"
                                    : f[2][0] == 'p' ? "010"
                                                     : "001")
          << f[2];
    }
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
