// The hmm engine's pass, differentially: windows imputed in slices of a few
// targets (each slice running the kernel again) and on several threads give
// the records of one slice on one thread, byte for byte; also where the
// engine phases the study (once per window, whatever the slices).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "input/inputs.h"
#include "output/text_format.h"
#include "output/vcf_format.h"
#include "run/contig_run.h"
#include "run/engine.h"
#include "work_folder.h"

namespace tessellar {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(TESSELLAR_SOURCE_DIR) / "tests" / "e2e" / "data" / "hmm";

// The text records and the per-site lines of the hmm data imputed with the
// given slices (the most doses held at once) and threads; rephase: the
// study phased again.
std::string impute(std::size_t max_doses, int threads, bool rephase = false) {
  Settings s;
  s.engine = EngineKind::hmm;
  s.rephase = rephase;
  s.gfile = (kData / "study.vcf.gz").string();
  s.efile = (kData / "panel.vcf.gz").string();
  s.threads = threads;
  s.loo = 1;
  const testing_support::WorkFolder work("hmm_pass");
  const fs::path out = work / "out.txt";
  const fs::path sites = work / "out.sites";
  testing::internal::CaptureStdout();
  {
    StudyInput study = read_study_input(s, VcfReader::open_if_vcf(s.gfile, "study"));
    PanelInput panel = read_panel_input(s, VcfReader::open_if_vcf(s.efile, "panel"), true);
    const std::unique_ptr<Engine> engine = make_hmm_engine(s, max_doses);
    ContigInputs c;
    c.name = "1";
    c.study = &study.contigs.at(0).table;
    c.panel = &panel.contigs.at(0).table;
    c.own = &panel.contigs.at(0);
    c.by_alleles = true;
    PreparedContig prepared(s, c, true, *engine);
    OutputFile file(out.string(), OutputKind::text);
    SitesFile sites_file(sites.string(), true);
    LooSummary loo(true);
    TextFormat format;
    ContigSinks sinks{format, file, &sites_file, &loo, true};
    prepared.write(sinks, 1, Region{}.end);
    file.commit();
    sites_file.commit();
    loo.print();
  }
  const std::string log = testing::internal::GetCapturedStdout();
  std::ostringstream text;
  text << std::ifstream(out).rdbuf() << std::ifstream(sites).rdbuf() << log;
  return text.str();
}

// 12 study haplotypes, 6 individuals: 36 doses or 54 probabilities are three
// targets per slice.
TEST(HmmPass, SlicesAndThreadsGiveTheSameRecords) {
  const std::string given = impute(kMaxWindowDoses, 1);
  const std::string phased = impute(kMaxWindowDoses, 1, true);
  ASSERT_GT(given.size(), 10000u);
  ASSERT_GT(phased.size(), 10000u);
  EXPECT_NE(phased, given);
  EXPECT_EQ(impute(36, 1), given);
  EXPECT_EQ(impute(12, 3), given);
  EXPECT_EQ(impute(kMaxWindowDoses, 4), given);
  EXPECT_EQ(impute(54, 1, true), phased);
  EXPECT_EQ(impute(18, 3, true), phased);
}

}  // namespace
}  // namespace tessellar
