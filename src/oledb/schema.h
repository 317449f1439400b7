#pragma once
// Schema rowsets: the standard OLE DB CATALOGS, TABLES, COLUMNS and INDEXES
// rowsets, their restriction positions and columns, and the records the schema
// reader fills from them.
//
// Providers return a schema rowset with exactly the standard columns below, in
// this order, as text (numbers in decimal, booleans "1"/"0", GUIDs in braces),
// NULL where the value is unknown. The reader (oledb/schema_reader.h) turns
// each row into a record whose text fields are cut at 128 characters.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "oledb/types.h"

namespace migrator::oledb {

enum class Schema {
  Catalogs,  // DBSCHEMA_CATALOGS {C8B52211-5CF3-11CE-ADE5-00AA0044773D}
  Tables,    // DBSCHEMA_TABLES   {C8B52229-5CF3-11CE-ADE5-00AA0044773D}
  Columns,   // DBSCHEMA_COLUMNS  {C8B52214-5CF3-11CE-ADE5-00AA0044773D}
  Indexes,   // DBSCHEMA_INDEXES  {C8B5221E-5CF3-11CE-ADE5-00AA0044773D}
};

const char* SchemaName(Schema schema);  // "DBSCHEMA_TABLES", ...

// Restrictions: one text value per restriction position, or none. At most
// seven positions; unset positions are VT_EMPTY.
inline constexpr std::size_t kMaxRestrictions = 7;

class Restrictions {
 public:
  Restrictions() = default;
  // Sets position `pos` (0-based); positions past the seventh are ignored.
  Restrictions& Set(std::size_t pos, std::string value) {
    if (pos < kMaxRestrictions) values_[pos] = std::move(value);
    return *this;
  }
  const std::optional<std::string>& At(std::size_t pos) const {
    static const std::optional<std::string> kNone;
    return pos < kMaxRestrictions ? values_[pos] : kNone;
  }
  Variant AsVariant(std::size_t pos) const {
    const auto& v = At(pos);
    return v ? Variant::Bstr(*v) : Variant();
  }

 private:
  std::array<std::optional<std::string>, kMaxRestrictions> values_;
};

// Restriction positions (0-based), in the standard order of each rowset.
namespace restriction {
// CATALOGS
inline constexpr std::size_t kCatalogName = 0;
// TABLES
inline constexpr std::size_t kTableCatalog = 0;
inline constexpr std::size_t kTableSchema = 1;
inline constexpr std::size_t kTableName = 2;
inline constexpr std::size_t kTableType = 3;
// COLUMNS: kTableCatalog, kTableSchema, kTableName, then
inline constexpr std::size_t kColumnName = 3;
// INDEXES: kTableCatalog, kTableSchema, then
inline constexpr std::size_t kIndexName = 2;
inline constexpr std::size_t kIndexType = 3;
inline constexpr std::size_t kIndexTableName = 4;
}  // namespace restriction

// The standard columns of a schema rowset, in order (ordinals from 1).
struct SchemaColumn {
  const char* name;
  DBTYPE type;
};
std::span<const SchemaColumn> SchemaColumns(Schema schema);
// The standard columns as ColumnInfo, ordinals 1..n, all nullable.
std::vector<ColumnInfo> SchemaColumnInfo(Schema schema);

// Text fields of records hold at most this many characters.
inline constexpr std::size_t kSchemaNameChars = 128;

// Records. Text fields are UTF-8, cut at 128 characters; a NULL reads as an
// empty text or 0.
struct CatalogRecord {
  std::string catalogName;
  std::string description;
};

struct TableRecord {
  std::string tableCatalog;
  std::string tableSchema;
  std::string tableName;
  std::string tableType;  // "TABLE", "VIEW", "SYSTEM TABLE", ...
  std::string tableGuid;
  std::string description;
  std::uint32_t tablePropId = 0;
  std::string dateCreated;
  std::string dateModified;
};

struct ColumnRecord {
  std::string tableCatalog;
  std::string tableSchema;
  std::string tableName;
  std::string columnName;
  std::string columnGuid;
  std::uint32_t columnPropId = 0;
  std::uint32_t ordinalPosition = 0;
  bool columnHasDefault = false;
  std::string columnDefault;
  std::uint32_t columnFlags = 0;
  bool isNullable = false;
  std::uint16_t dataType = 0;  // a DBTYPE
  std::string typeGuid;
  std::uint32_t characterMaximumLength = 0;
  std::uint32_t characterOctetLength = 0;
  std::uint16_t numericPrecision = 0;
  std::int16_t numericScale = 0;
  std::uint32_t datetimePrecision = 0;
  std::string characterSetCatalog;
  std::string characterSetSchema;
  std::string characterSetName;
  std::string collationCatalog;
  std::string collationSchema;
  std::string collationName;
  std::string domainCatalog;
  std::string domainSchema;
  std::string domainName;
  std::string description;
};

// Index types (TYPE column) and collation (COLLATION column).
inline constexpr std::uint16_t DBPROPVAL_IT_BTREE = 1;
inline constexpr std::uint16_t DBPROPVAL_IT_HASH = 2;
inline constexpr std::uint16_t DBPROPVAL_IT_CONTENT = 3;
inline constexpr std::uint16_t DBPROPVAL_IT_OTHER = 4;
inline constexpr std::int16_t DB_COLLATION_ASC = 1;
inline constexpr std::int16_t DB_COLLATION_DESC = 2;

// One row per index column: an index over two columns gives two records.
struct IndexRecord {
  std::string tableCatalog;
  std::string tableSchema;
  std::string tableName;
  std::string indexCatalog;
  std::string indexSchema;
  std::string indexName;
  bool primaryKey = false;
  bool unique = false;
  bool clustered = false;
  std::uint16_t type = 0;
  std::int32_t fillFactor = 0;
  std::int32_t initialSize = 0;
  std::int32_t nulls = 0;
  bool sortBookmarks = false;
  bool autoUpdate = false;
  std::int32_t nullCollation = 0;
  std::uint32_t ordinalPosition = 0;
  std::string columnName;
  std::string columnGuid;
  std::uint32_t columnPropId = 0;
  std::int16_t collation = 0;
  std::uint64_t cardinality = 0;
  std::int32_t pages = 0;
  std::string filterCondition;
  bool integrated = false;
};

// The record type that goes with each schema.
template <class Record>
struct SchemaOf;
template <>
struct SchemaOf<CatalogRecord> {
  static constexpr Schema value = Schema::Catalogs;
};
template <>
struct SchemaOf<TableRecord> {
  static constexpr Schema value = Schema::Tables;
};
template <>
struct SchemaOf<ColumnRecord> {
  static constexpr Schema value = Schema::Columns;
};
template <>
struct SchemaOf<IndexRecord> {
  static constexpr Schema value = Schema::Indexes;
};

// Fill a record from one row of the schema's standard columns (slot j holds
// ordinal j + 1). Text is cut at 128 characters; numbers that do not parse
// read as 0.
void FillRecord(const TextRow& row, CatalogRecord& r);
void FillRecord(const TextRow& row, TableRecord& r);
void FillRecord(const TextRow& row, ColumnRecord& r);
void FillRecord(const TextRow& row, IndexRecord& r);

}  // namespace migrator::oledb
