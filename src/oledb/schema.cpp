#include "oledb/schema.h"

#include <charconv>

#include "oledb/text.h"

namespace migrator::oledb {
namespace {

constexpr SchemaColumn kCatalogs[] = {
    {"CATALOG_NAME", DBTYPE_WSTR},
    {"DESCRIPTION", DBTYPE_WSTR},
};

constexpr SchemaColumn kTables[] = {
    {"TABLE_CATALOG", DBTYPE_WSTR}, {"TABLE_SCHEMA", DBTYPE_WSTR}, {"TABLE_NAME", DBTYPE_WSTR},
    {"TABLE_TYPE", DBTYPE_WSTR},    {"TABLE_GUID", DBTYPE_GUID},   {"DESCRIPTION", DBTYPE_WSTR},
    {"TABLE_PROPID", DBTYPE_UI4},   {"DATE_CREATED", DBTYPE_DATE}, {"DATE_MODIFIED", DBTYPE_DATE},
};

constexpr SchemaColumn kColumns[] = {
    {"TABLE_CATALOG", DBTYPE_WSTR},
    {"TABLE_SCHEMA", DBTYPE_WSTR},
    {"TABLE_NAME", DBTYPE_WSTR},
    {"COLUMN_NAME", DBTYPE_WSTR},
    {"COLUMN_GUID", DBTYPE_GUID},
    {"COLUMN_PROPID", DBTYPE_UI4},
    {"ORDINAL_POSITION", DBTYPE_UI4},
    {"COLUMN_HASDEFAULT", DBTYPE_BOOL},
    {"COLUMN_DEFAULT", DBTYPE_WSTR},
    {"COLUMN_FLAGS", DBTYPE_UI4},
    {"IS_NULLABLE", DBTYPE_BOOL},
    {"DATA_TYPE", DBTYPE_UI2},
    {"TYPE_GUID", DBTYPE_GUID},
    {"CHARACTER_MAXIMUM_LENGTH", DBTYPE_UI4},
    {"CHARACTER_OCTET_LENGTH", DBTYPE_UI4},
    {"NUMERIC_PRECISION", DBTYPE_UI2},
    {"NUMERIC_SCALE", DBTYPE_I2},
    {"DATETIME_PRECISION", DBTYPE_UI4},
    {"CHARACTER_SET_CATALOG", DBTYPE_WSTR},
    {"CHARACTER_SET_SCHEMA", DBTYPE_WSTR},
    {"CHARACTER_SET_NAME", DBTYPE_WSTR},
    {"COLLATION_CATALOG", DBTYPE_WSTR},
    {"COLLATION_SCHEMA", DBTYPE_WSTR},
    {"COLLATION_NAME", DBTYPE_WSTR},
    {"DOMAIN_CATALOG", DBTYPE_WSTR},
    {"DOMAIN_SCHEMA", DBTYPE_WSTR},
    {"DOMAIN_NAME", DBTYPE_WSTR},
    {"DESCRIPTION", DBTYPE_WSTR},
};

constexpr SchemaColumn kIndexes[] = {
    {"TABLE_CATALOG", DBTYPE_WSTR},
    {"TABLE_SCHEMA", DBTYPE_WSTR},
    {"TABLE_NAME", DBTYPE_WSTR},
    {"INDEX_CATALOG", DBTYPE_WSTR},
    {"INDEX_SCHEMA", DBTYPE_WSTR},
    {"INDEX_NAME", DBTYPE_WSTR},
    {"PRIMARY_KEY", DBTYPE_BOOL},
    {"UNIQUE", DBTYPE_BOOL},
    {"CLUSTERED", DBTYPE_BOOL},
    {"TYPE", DBTYPE_UI2},
    {"FILL_FACTOR", DBTYPE_I4},
    {"INITIAL_SIZE", DBTYPE_I4},
    {"NULLS", DBTYPE_I4},
    {"SORT_BOOKMARKS", DBTYPE_BOOL},
    {"AUTO_UPDATE", DBTYPE_BOOL},
    {"NULL_COLLATION", DBTYPE_I4},
    {"ORDINAL_POSITION", DBTYPE_UI4},
    {"COLUMN_NAME", DBTYPE_WSTR},
    {"COLUMN_GUID", DBTYPE_GUID},
    {"COLUMN_PROPID", DBTYPE_UI4},
    {"COLLATION", DBTYPE_I2},
    {"CARDINALITY", DBTYPE_UI8},
    {"PAGES", DBTYPE_I4},
    {"FILTER_CONDITION", DBTYPE_WSTR},
    {"INTEGRATED", DBTYPE_BOOL},
};

// Reads slot by slot, in the order of the standard columns.
class FieldReader {
 public:
  explicit FieldReader(const TextRow& row) : row_(row) {}

  std::string Text() {
    const std::string* v = Next();
    return v ? std::string(CutChars(*v, kSchemaNameChars)) : std::string();
  }
  template <class T>
  T Number() {
    const std::string* v = Next();
    T value{};
    if (v) {
      const char* first = v->data();
      const char* last = first + v->size();
      while (first < last && *first == ' ')
        ++first;
      if (std::from_chars(first, last, value).ec != std::errc()) value = T{};
    }
    return value;
  }
  bool Bool() {
    const std::string* v = Next();
    if (!v) return false;
    return *v == "1" || *v == "-1" || EqualsNoCase(*v, "true");
  }

 private:
  // The next slot's text, or null for a NULL or a slot the row does not have.
  const std::string* Next() {
    const std::size_t slot = next_++;
    if (slot >= row_.size() || row_.IsNull(slot)) return nullptr;
    return &row_.Value(slot);
  }
  const TextRow& row_;
  std::size_t next_ = 0;
};

}  // namespace

const char* SchemaName(Schema schema) {
  switch (schema) {
    case Schema::Catalogs:
      return "DBSCHEMA_CATALOGS";
    case Schema::Tables:
      return "DBSCHEMA_TABLES";
    case Schema::Columns:
      return "DBSCHEMA_COLUMNS";
    case Schema::Indexes:
      return "DBSCHEMA_INDEXES";
  }
  return "DBSCHEMA_UNKNOWN";
}

std::span<const SchemaColumn> SchemaColumns(Schema schema) {
  switch (schema) {
    case Schema::Catalogs:
      return kCatalogs;
    case Schema::Tables:
      return kTables;
    case Schema::Columns:
      return kColumns;
    case Schema::Indexes:
      return kIndexes;
  }
  return {};
}

std::vector<ColumnInfo> SchemaColumnInfo(Schema schema) {
  std::vector<ColumnInfo> out;
  DBORDINAL ordinal = 1;
  for (const auto& c : SchemaColumns(schema)) {
    ColumnInfo info;
    info.name = c.name;
    info.ordinal = ordinal++;
    info.type = c.type;
    info.flags = DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
    if (c.type == DBTYPE_WSTR) {
      info.size = kSchemaNameChars;
    } else {
      info.flags |= DBCOLUMNFLAGS_ISFIXEDLENGTH;
      info.size = c.type == DBTYPE_GUID ? 16 : 8;
    }
    out.push_back(std::move(info));
  }
  return out;
}

void FillRecord(const TextRow& row, CatalogRecord& r) {
  FieldReader f(row);
  r.catalogName = f.Text();
  r.description = f.Text();
}

void FillRecord(const TextRow& row, TableRecord& r) {
  FieldReader f(row);
  r.tableCatalog = f.Text();
  r.tableSchema = f.Text();
  r.tableName = f.Text();
  r.tableType = f.Text();
  r.tableGuid = f.Text();
  r.description = f.Text();
  r.tablePropId = f.Number<std::uint32_t>();
  r.dateCreated = f.Text();
  r.dateModified = f.Text();
}

void FillRecord(const TextRow& row, ColumnRecord& r) {
  FieldReader f(row);
  r.tableCatalog = f.Text();
  r.tableSchema = f.Text();
  r.tableName = f.Text();
  r.columnName = f.Text();
  r.columnGuid = f.Text();
  r.columnPropId = f.Number<std::uint32_t>();
  r.ordinalPosition = f.Number<std::uint32_t>();
  r.columnHasDefault = f.Bool();
  r.columnDefault = f.Text();
  r.columnFlags = f.Number<std::uint32_t>();
  r.isNullable = f.Bool();
  r.dataType = f.Number<std::uint16_t>();
  r.typeGuid = f.Text();
  r.characterMaximumLength = f.Number<std::uint32_t>();
  r.characterOctetLength = f.Number<std::uint32_t>();
  r.numericPrecision = f.Number<std::uint16_t>();
  r.numericScale = f.Number<std::int16_t>();
  r.datetimePrecision = f.Number<std::uint32_t>();
  r.characterSetCatalog = f.Text();
  r.characterSetSchema = f.Text();
  r.characterSetName = f.Text();
  r.collationCatalog = f.Text();
  r.collationSchema = f.Text();
  r.collationName = f.Text();
  r.domainCatalog = f.Text();
  r.domainSchema = f.Text();
  r.domainName = f.Text();
  r.description = f.Text();
}

void FillRecord(const TextRow& row, IndexRecord& r) {
  FieldReader f(row);
  r.tableCatalog = f.Text();
  r.tableSchema = f.Text();
  r.tableName = f.Text();
  r.indexCatalog = f.Text();
  r.indexSchema = f.Text();
  r.indexName = f.Text();
  r.primaryKey = f.Bool();
  r.unique = f.Bool();
  r.clustered = f.Bool();
  r.type = f.Number<std::uint16_t>();
  r.fillFactor = f.Number<std::int32_t>();
  r.initialSize = f.Number<std::int32_t>();
  r.nulls = f.Number<std::int32_t>();
  r.sortBookmarks = f.Bool();
  r.autoUpdate = f.Bool();
  r.nullCollation = f.Number<std::int32_t>();
  r.ordinalPosition = f.Number<std::uint32_t>();
  r.columnName = f.Text();
  r.columnGuid = f.Text();
  r.columnPropId = f.Number<std::uint32_t>();
  r.collation = f.Number<std::int16_t>();
  r.cardinality = f.Number<std::uint64_t>();
  r.pages = f.Number<std::int32_t>();
  r.filterCondition = f.Text();
  r.integrated = f.Bool();
}

}  // namespace migrator::oledb
