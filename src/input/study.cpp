// The two counting steps shared by the readers, and read_study.
#include "input/study.h"

#include <cstdio>
#include <utility>

#include "input/genotype_rows.h"
#include "input/text_reader.h"

namespace tessellar {

int count_columns(TextReader& file, int k) {
  std::string_view line;
  int skipped = 0;
  while (file.next_line(line)) {  // the skipped fields may run over line breaks
    FieldCursor cursor(line);
    std::string_view field;
    while (skipped < k && cursor.next(field)) ++skipped;
    if (skipped < k) continue;
    int columns = 0;
    for (char c : cursor.rest()) columns += !is_space(c);
    return columns;
  }
  return 0;  // fewer than k fields in the whole file
}

int count_rows(TextReader& file) {
  int rows = 1;
  std::string_view line;
  while (file.next_line(line)) rows += !is_blank(line);
  return rows;
}

StudyTable read_study(const std::string& gfile) {
  TextReader file(gfile);
  const int nind = count_columns(file, 5);
  const int nsnp = count_rows(file);
  if (nind == 0) check_not_blank(file);
  GenotypeRows rows =
      read_genotype_rows(file, GenotypeLayout{true, "individual", "individuals"}, nind, nsnp);
  StudyTable study;
  study.nind = nind;
  study.nsnp = nsnp;
  study.name = std::move(rows.name);
  study.pos = std::move(rows.pos);
  study.recode = std::move(rows.recode);
  study.allele = std::move(rows.allele);
  study.geno = std::move(rows.geno);
  study.freq = std::move(rows.freq);
  study.miss = std::move(rows.miss);
  std::printf("%d SNPs and %d individuals read from '%s'\n", nsnp, nind, gfile.c_str());
  return study;
}

}  // namespace tessellar
