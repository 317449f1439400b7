#pragma once
// Parsed-formula tokens (the rgce of cells, shared formulas and defined
// names): sizes, the few rewrites the engine needs, and simple references.

#include <cstdint>
#include <optional>
#include <span>

#include "xls/bytes.h"
#include "xls/workbook.h"

namespace migrator::xls::detail {

// The size of the token at `pos`, or 0 when it is unknown or overruns.
size_t TokenSize(std::span<const uint8_t> rgce, size_t pos);

// True when every token of `rgce` is known and inside it.
bool Walkable(std::span<const uint8_t> rgce);

// After the defined name with 1-based index `deleted` was removed: references
// to it become #REF! and references to later names move down by one. Tokens
// keep their sizes. False when the formula could not be walked (left as is).
bool RenumberNameRefs(std::span<uint8_t> rgce, uint16_t deleted);

// A shared formula's tokens made into the formula of the cell (row, col), or
// nothing when it holds a token that cannot be moved.
std::optional<Bytes> ExpandSharedFormula(std::span<const uint8_t> rgce, uint32_t row, uint32_t col);

// A formula that is one 3-D reference (ptgRef3d / ptgArea3d or their #REF!
// forms).
struct Ref3d {
  uint16_t ixti = 0;
  Range range;
  bool error = false;  // a #REF! token
};
std::optional<Ref3d> ParseRef3d(std::span<const uint8_t> rgce);

// Tokens of an absolute 3-D reference ($A$1 or $A$1:$C$4).
Bytes MakeRef3d(uint16_t ixti, const Range& r);

}  // namespace migrator::xls::detail
