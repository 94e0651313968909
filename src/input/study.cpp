// read_study: the study genotype file.
#include "input/study.h"

#include <cstdio>
#include <utility>

#include "input/text_reader.h"

namespace tessellar {

StudyTable read_study(const std::string& gfile, KeptPositions kept, bool quiet) {
  TextReader file(gfile);
  const int nind = count_columns(file, 5);
  const int nsnp = count_rows(file);
  if (nind == 0) check_not_blank(file);
  StudyTable study{
      read_genotype_rows(file, GenotypeLayout{true, "individual", "individuals"}, nind, nsnp, kept),
      nind,
      {},
      {}};
  if (!quiet) std::printf("%d SNPs and %d individuals read from '%s'\n", nsnp, nind, gfile.c_str());
  return study;
}

}  // namespace tessellar
