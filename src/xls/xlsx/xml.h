#pragma once
// XML for the parts of a package: a streaming reader over expat that refuses
// what a package never needs (document type declarations, and with them every
// entity but the predefined ones), a small element tree for the small parts,
// and the escaping that writing needs.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/result.h"

namespace migrator::xls::xlsx {

// Namespaces the engine looks for.
namespace ns {
inline constexpr std::string_view kMain =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view kRel =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kPackageRel =
    "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr std::string_view kContentTypes =
    "http://schemas.openxmlformats.org/package/2006/content-types";
inline constexpr std::string_view kStrictPrefix = "http://purl.oclc.org/ooxml/";
inline constexpr std::string_view kXml = "http://www.w3.org/XML/1998/namespace";
}  // namespace ns

// An element's or attribute's name: its namespace and local part, and the
// name as the file wrote it (with its prefix), to be written back alike.
struct XmlName {
  std::string_view uri;
  std::string_view local;
  std::string_view qname;
  bool Is(std::string_view u, std::string_view l) const { return local == l && uri == u; }
};

struct XmlAttr {
  XmlName name;
  std::string_view value;
};

// What a streaming parse reports. Text may come in several pieces.
class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void Start(const XmlName& name, const std::vector<XmlAttr>& attrs,
                     const std::vector<XmlAttr>& nsDecls) = 0;
  virtual void End(const XmlName& name) = 0;
  virtual void Text(std::string_view text) = 0;
  // A handler that finds a fault stops the parse with it.
  std::string fault;
};

// Parses a document fed in pieces. `what` names it in errors ("sheet1.xml").
class XmlParser {
 public:
  XmlParser(XmlHandler& handler, std::string what);
  ~XmlParser();
  XmlParser(const XmlParser&) = delete;
  XmlParser& operator=(const XmlParser&) = delete;
  Status Feed(const char* data, size_t n, bool last);
  // Characters are reported only while wanted (a streaming reader turns them
  // off where it has no use for them).
  void WantText(bool want);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A small part as a tree. Text nodes have an empty qname. Namespace
// declarations are kept as attributes ("xmlns", "xmlns:r").
struct XmlNode {
  struct Attribute {
    std::string qname;  // as written
    std::string uri;    // its namespace, when it has a prefix
    std::string value;
  };
  std::string uri, local, qname;
  std::vector<Attribute> attrs;
  std::vector<XmlNode> children;
  std::string text;  // text nodes

  // An element as a streaming parse reports it, without children.
  static XmlNode From(const XmlName& name, const std::vector<XmlAttr>& attrs,
                      const std::vector<XmlAttr>& nsDecls = {});

  bool isText() const { return qname.empty(); }
  bool Is(std::string_view u, std::string_view l) const { return local == l && uri == u; }
  const std::string* Attr(std::string_view qualified) const;
  void SetAttr(std::string_view qualified, std::string value);
  void RemoveAttr(std::string_view qualified);
  // An attribute in no namespace, or in `uri` (any prefix).
  const std::string* AttrNs(std::string_view uri, std::string_view local) const;
  // The first child element with this name; nullptr when none.
  XmlNode* Child(std::string_view u, std::string_view l);
  const XmlNode* Child(std::string_view u, std::string_view l) const;
  // The text of the element: its text children joined.
  std::string Text() const;
  // Drops the blanks between child elements (text of an element that has
  // element children carries nothing but layout).
  void DropBlanks();
};

// Builds a tree from a whole document.
Result<XmlNode> ParseTree(std::string_view doc, const std::string& what);

// Appends the element and everything in it.
void WriteNode(const XmlNode& n, std::string& out);
// Appends the element's start tag alone ("<x a=\"1\">").
void AppendStartTag(const XmlNode& n, std::string& out);

// The declaration every part starts with.
inline constexpr std::string_view kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

// Escaping. Text of cells goes through EscapeCellText: characters XML 1.0
// cannot hold, and a carriage return, which readers would turn into a line
// feed, are written as _xHHHH_, and a text that looks like such an escape
// has its underscore escaped (_x005F_).
void AppendEscaped(std::string_view s, std::string& out, bool attribute);
void AppendCellText(std::string_view utf8, std::string& out);
// Reverses the _xHHHH_ escapes of cell text.
std::string UnescapeCellText(std::string_view s);
// True when the text needs xml:space="preserve" to keep its blanks.
bool NeedsPreserve(std::string_view s);

// Numbers as the parts write them: the shortest text that reads back equal.
void AppendNumber(double v, std::string& out);
void AppendInt(uint64_t v, std::string& out);
// "0"/"false" are false, "1"/"true" true; `fallback` when missing or other.
bool ParseBool(const std::string* s, bool fallback);
bool ParseBool(std::string_view s, bool fallback);
// False when `s` is not a whole decimal number.
bool ParseDouble(std::string_view s, double& v);
bool ParseUint(std::string_view s, uint64_t& v);

}  // namespace migrator::xls::xlsx
