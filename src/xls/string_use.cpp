// Which texts of the text pool a save writes.

#include "xls/model.h"

namespace migrator::xls::detail {

namespace {
constexpr uint32_t kUnusedString = 0xFFFFFFFF;
}  // namespace

StringUse CountStrings(const WorkbookImpl& wb) {
  StringUse u;
  const SharedStrings& sst = wb.sst;
  std::vector<uint8_t, BigAlloc<uint8_t>> used(sst.size(), 0);
  for (size_t i = 0; i < wb.sheets.size(); ++i) {
    const SheetModel& m = wb.model(i);
    if (!m.modeled) continue;
    m.rows.ForEach([&](uint32_t, const RowRec& row) {
      for (const auto& c : row.cells)
        if (c.kind == CellKind::kText) {
          used[c.aux] = 1;
          ++u.total;
        }
    });
  }
  size_t n = 0;
  for (uint8_t x : used)
    n += x;
  if (!sst.changed() && n == sst.size()) {
    // A table as it was read, every entry in use: written back unchanged.
    u.order.resize(n);
    for (uint32_t i = 0; i < n; ++i)
      u.order[i] = i;
    return u;
  }
  // Equal plain strings are written once, as the first entry of their text,
  // in the order in which they are first used.
  const auto& first = sst.FirstEqual();
  u.remap.assign(sst.size(), kUnusedString);
  u.order.reserve(n);
  for (uint32_t i = 0; i < sst.size(); ++i) {
    if (!used[i]) continue;
    const uint32_t f = first[i];
    if (u.remap[f] == kUnusedString) {
      u.remap[f] = static_cast<uint32_t>(u.order.size());
      u.order.push_back(f);
    }
    u.remap[i] = u.remap[f];
  }
  return u;
}

}  // namespace migrator::xls::detail
