// Feeds arbitrary bytes to the workbook reader, then reads everything it
// made of them, edits it, saves it and reads the saved image again (see
// workbook_checks.h).

#include "workbook_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto wb = migrator::xls::Workbook::Parse({data, size});
  if (!wb) return 0;
  fuzzing::Exercise(*wb);
  return 0;
}
