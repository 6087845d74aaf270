// Fuzz target: molecule input, from the text through RDKit and the typing to
// the records the compound reader makes of the converted text.
//
// Input: one setting byte, then SMILES lines or an SD file.
//   bit 0: the text is an SD file (else SMILES lines)
//   bit 1: write every hydrogen as an atom
//   bit 2: depict piece by piece from 8 atoms up (else from the usual size)
//   bit 3: take names from the SD data field "NAME"
// Molecules are capped at a few hundred atoms, so that the fuzzer measures
// reading and typing rather than the depiction of large molecules.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "cpdio.h"
#include "convert/molconvert.h"

namespace {

constexpr long kMaxAtoms = 300;
constexpr long kMaxDepth = 300;

FILE *sink() {
  static FILE *fp = std::fopen("/dev/null", "w");
  return fp;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  MolConvertOptions options;
  options.keep_h = (data[0] & 2) != 0;
  options.max_atoms = kMaxAtoms;
  options.max_depth = kMaxDepth;
  if (data[0] & 4) options.layout_limit = 8;
  if (data[0] & 8) options.name_field = "NAME";
  const MolFormat format = (data[0] & 1) ? MolFormat::kSdf : MolFormat::kSmiles;

  // fmemopen wants a writable buffer; an empty one would be refused.
  static char empty = '\0';
  char *text = size > 1 ? reinterpret_cast<char *>(const_cast<uint8_t *>(data + 1)) : &empty;
  FILE *in = fmemopen(text, size > 1 ? size - 1 : 1, "r");
  if (in == nullptr) return 0;
  {
    MolConverter converter(options, "fuzz", sink());
    CompList *list = read_molecules_as_CPDMOL(in, "input", format, converter);
    std::fclose(in);
    if (list == nullptr) std::abort();
    // Every molecule met is accounted for once, and every written record
    // reads back as one record.
    if (converter.written() + converter.failed() + converter.filtered() + converter.too_large() !=
        converter.seen()) {
      std::abort();
    }
    if (complist_numberof(list) != converter.written()) std::abort();
    for (int k = 1; k <= complist_numberof(list); ++k) {
      auto *mol = static_cast<CPDMOL *>(complist_getdata(list, k));
      cnode_CPDMOL(mol);
      matrix_CPDMOL(mol);
      // Without keep_h a record holds at most the atoms the input gave.
      if (mol->nodenum < 0 || (!options.keep_h && mol->nodenum > kMaxAtoms)) std::abort();
    }
    complist_clear(list);
    delete list;
  }
  cpdio_reset();
  return 0;
}
