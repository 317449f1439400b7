#pragma once
// The arithmetic of header formatting: the address of a column's header cell
// and the width a header text needs.

#include <cstddef>
#include <string>
#include <string_view>

namespace migrator::excel {

// The columns a sheet holds; the header loop ends at the last one.
inline constexpr int kSheetColumns = 256;
// The widest column the spreadsheet program accepts, in characters.
inline constexpr int kMaxColumnWidth = 255;

// The one-cell range of column n's header (n from 1): "A1:A1", "AA1:AA1".
std::string HeaderCellAddress(int column);

// The length of a header text in character cells: one per character, two for
// a wide (East Asian) character, as the text measured in its narrow code page.
std::size_t HeaderTextLength(std::string_view utf8);

// truncate(size x length x 1.3333334) / 12 + 1, in single precision, and at
// most the widest column.
int HeaderColumnWidth(float fontSize, std::size_t length);

}  // namespace migrator::excel
