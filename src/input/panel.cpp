// read_panel: the reference panel file, checked against the panel structure.
#include "input/panel.h"

#include <cstdio>

#include "core/fatal.h"
#include "input/genotype_rows.h"
#include "input/text_reader.h"

namespace tessellar {

PanelTable read_panel(const std::string& efile, const Settings& run, KeptPositions kept,
                      bool quiet) {
  TextReader file(efile);
  const int ncol = count_columns(file, 4);
  if (ncol != run.panel_members()) {
    std::printf("'PANEL' information does not match with '%s'\n", efile.c_str());
    kill_Tessellar();
  }
  const int nsnp = count_rows(file);
  if (ncol == 0) check_not_blank(file);
  PanelTable panel{read_genotype_rows(file, GenotypeLayout{false, "panel member", "panel members"},
                                      ncol, nsnp, kept),
                   ncol,
                   run.nTR,
                   run.nDU,
                   run.nUN,
                   {}};
  if (!quiet)
    std::printf("%d SNPs, %d trios, %d duos and %d singletons read from '%s'\n", nsnp, run.nTR,
                run.nDU, run.nUN, efile.c_str());
  return panel;
}

}  // namespace tessellar
