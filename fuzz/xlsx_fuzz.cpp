// Feeds arbitrary packages to the workbook reader (see workbook_checks.h for
// what is done with those it reads), and converts what it read into the
// other format. An input that starts as a zip is read as it is; any other
// input is a list of parts, each "\n=PART name\n" and its bytes, packed into
// a zip first: mutations then reach the parts' XML instead of failing the
// zip's checksums.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workbook_checks.h"
#include "xls/output.h"
#include "xls/xlsx/zip.h"

namespace {

bool Pack(std::string_view in, std::vector<uint8_t>& out) {
  constexpr std::string_view kMark = "\n=PART ";
  migrator::xls::detail::MemoryOutput sink(out);
  migrator::xls::xlsx::ZipWriter zip(sink);
  std::vector<std::string> names;
  size_t at = in.find(kMark);
  while (at != std::string_view::npos) {
    const size_t nameStart = at + kMark.size();
    const size_t nameEnd = in.find('\n', nameStart);
    if (nameEnd == std::string_view::npos) break;
    const size_t next = in.find(kMark, nameEnd);
    const std::string_view body =
        in.substr(nameEnd + 1, (next == std::string_view::npos ? in.size() : next) - nameEnd - 1);
    if (!zip.Add(std::string(in.substr(nameStart, nameEnd - nameStart)), body)) return false;
    at = next;
  }
  return static_cast<bool>(zip.Finish());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  std::vector<uint8_t> packed;
  if (!(size >= 2 && data[0] == 'P' && data[1] == 'K')) {
    if (!Pack({reinterpret_cast<const char*>(data), size}, packed)) return 0;
    input = packed;
  }
  auto wb = migrator::xls::Workbook::Parse(input);
  if (!wb) return 0;
  fuzzing::Exercise(*wb);
  auto other = wb->ConvertedTo(migrator::xls::FileFormat::kXls);
  if (other) fuzzing::MustReadBack(*other);
  return 0;
}
