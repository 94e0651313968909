// read_panel: the reference panel file, checked against the panel structure.
#include "input/panel.h"

#include <cstdio>
#include <utility>

#include "input/genotype_rows.h"
#include "input/text_reader.h"
#include "run/fatal.h"
#include "run/settings.h"

namespace tessellar {

PanelTable read_panel(const std::string& efile) {
  const Settings& run = settings();
  TextReader file(efile);
  const int ncol = count_columns(file, 4);
  if (ncol != 3 * run.nTR + 2 * run.nDU + run.nUN) {
    std::printf("'PANEL' information does not match with '%s'\n", efile.c_str());
    kill_Tessellar();
  }
  const int nsnp = count_rows(file);
  if (ncol == 0) check_not_blank(file);
  GenotypeRows rows =
      read_genotype_rows(file, GenotypeLayout{false, "panel member", "panel members"}, ncol, nsnp);
  PanelTable panel;
  panel.ncol = ncol;
  panel.nsnp = nsnp;
  panel.name = std::move(rows.name);
  panel.pos = std::move(rows.pos);
  panel.allele = std::move(rows.allele);
  panel.geno = std::move(rows.geno);
  panel.freq = std::move(rows.freq);
  std::printf("%d SNPs, %d trios, %d duos and %d singletons read from '%s'\n", nsnp, run.nTR,
              run.nDU, run.nUN, efile.c_str());
  return panel;
}

}  // namespace tessellar
