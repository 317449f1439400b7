#include "xls/xlsx/xml.h"

#include <expat.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "xls/unicode.h"

namespace migrator::xls::xlsx {

namespace {

constexpr char kSep = '\x01';
// Deeper nesting than any part of a workbook has: a file made to exhaust
// the stack.
constexpr int kMaxDepth = 256;

}  // namespace

struct XmlParser::Impl {
  XML_Parser p = nullptr;
  XmlHandler* h = nullptr;
  std::string what;
  std::string fault;
  int depth = 0;
  bool wantText = true;
  // Reused for every element: the names taken apart.
  std::vector<std::string> qnames;
  std::vector<XmlAttr> attrs;
  std::vector<XmlAttr> decls;
  std::vector<std::string> declStore;

  void Stop(std::string why) {
    if (fault.empty()) fault = std::move(why);
    XML_StopParser(p, XML_FALSE);
  }

  // Splits "uri\1local\1prefix" (or "uri\1local", or "local").
  XmlName Split(const char* raw, std::string& qname) {
    XmlName n;
    const char* a = std::strchr(raw, kSep);
    if (!a) {
      n.local = raw;
      n.qname = n.local;
      return n;
    }
    n.uri = std::string_view(raw, static_cast<size_t>(a - raw));
    const char* b = std::strchr(a + 1, kSep);
    if (!b) {
      n.local = a + 1;
      n.qname = n.local;
      return n;
    }
    n.local = std::string_view(a + 1, static_cast<size_t>(b - a - 1));
    qname.assign(b + 1);
    qname += ':';
    qname += n.local;
    n.qname = qname;
    return n;
  }

  static void OnStart(void* u, const XML_Char* name, const XML_Char** atts) {
    auto* s = static_cast<Impl*>(u);
    if (++s->depth > kMaxDepth) {
      s->Stop("elements nest deeper than " + std::to_string(kMaxDepth) + " levels");
      return;
    }
    size_t n = 0;
    while (atts[2 * n])
      ++n;
    if (s->qnames.size() < n + 1) s->qnames.resize(n + 1);
    XmlName el = s->Split(name, s->qnames[0]);
    s->attrs.clear();
    for (size_t i = 0; i < n; ++i)
      s->attrs.push_back({s->Split(atts[2 * i], s->qnames[i + 1]), atts[2 * i + 1]});
    s->h->Start(el, s->attrs, s->decls);
    s->decls.clear();
    s->declStore.clear();
    if (!s->h->fault.empty()) s->Stop(s->h->fault);
  }

  static void OnEnd(void* u, const XML_Char* name) {
    auto* s = static_cast<Impl*>(u);
    --s->depth;
    std::string q;
    if (s->qnames.empty()) s->qnames.resize(1);
    s->h->End(s->Split(name, s->qnames[0]));
    if (!s->h->fault.empty()) s->Stop(s->h->fault);
  }

  static void OnText(void* u, const XML_Char* text, int len) {
    auto* s = static_cast<Impl*>(u);
    s->h->Text(std::string_view(text, static_cast<size_t>(len)));
    if (!s->h->fault.empty()) s->Stop(s->h->fault);
  }

  static void OnNamespace(void* u, const XML_Char* prefix, const XML_Char* uri) {
    auto* s = static_cast<Impl*>(u);
    // Kept until the element's start; the store must not move the views.
    s->declStore.reserve(64);
    if (s->declStore.size() + 2 > s->declStore.capacity()) {
      s->Stop("an element declares too many namespaces");
      return;
    }
    s->declStore.push_back(prefix ? std::string("xmlns:") + prefix : std::string("xmlns"));
    s->declStore.push_back(uri ? uri : "");
    const std::string& q = s->declStore[s->declStore.size() - 2];
    XmlName n;
    n.local = prefix ? std::string_view(q).substr(6) : std::string_view("xmlns");
    n.qname = q;
    s->decls.push_back({n, s->declStore.back()});
  }

  static void OnDoctype(void* u, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<Impl*>(u)->Stop(
        "it holds a document type declaration (DTD), which the parts of a workbook never have");
  }

  static void OnEntity(void* u, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                       const XML_Char*, const XML_Char*, const XML_Char*) {
    static_cast<Impl*>(u)->Stop("it declares entities, which the parts of a workbook never do");
  }
};

XmlParser::XmlParser(XmlHandler& handler, std::string what) : impl_(std::make_unique<Impl>()) {
  impl_->h = &handler;
  impl_->what = std::move(what);
  impl_->p = XML_ParserCreateNS(nullptr, kSep);
  XML_Parser p = impl_->p;
  if (!p) return;
  XML_SetReturnNSTriplet(p, XML_TRUE);
  XML_SetUserData(p, impl_.get());
  XML_SetElementHandler(p, Impl::OnStart, Impl::OnEnd);
  XML_SetCharacterDataHandler(p, Impl::OnText);
  XML_SetStartNamespaceDeclHandler(p, Impl::OnNamespace);
  XML_SetStartDoctypeDeclHandler(p, Impl::OnDoctype);
  XML_SetEntityDeclHandler(p, Impl::OnEntity);
  XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlParser::~XmlParser() {
  if (impl_->p) XML_ParserFree(impl_->p);
}

void XmlParser::WantText(bool want) {
  if (want == impl_->wantText || !impl_->p) return;
  impl_->wantText = want;
  XML_SetCharacterDataHandler(impl_->p, want ? Impl::OnText : nullptr);
}

Status XmlParser::Feed(const char* data, size_t n, bool last) {
  Impl& s = *impl_;
  if (!s.p) return Fail("not enough memory to read " + s.what);
  do {
    const size_t k = std::min<size_t>(n, INT_MAX / 2);
    const bool end = last && k == n;
    if (XML_Parse(s.p, data, static_cast<int>(k), end ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
      if (!s.fault.empty()) return Fail(s.what + ": " + s.fault);
      return Fail(s.what + " is not well-formed XML (line " +
                  std::to_string(XML_GetCurrentLineNumber(s.p)) + ": " +
                  XML_ErrorString(XML_GetErrorCode(s.p)) + ")");
    }
    data += k;
    n -= k;
  } while (n > 0);
  return {};
}

// ---- trees ----

const std::string* XmlNode::Attr(std::string_view qualified) const {
  for (const auto& a : attrs)
    if (a.qname == qualified) return &a.value;
  return nullptr;
}

void XmlNode::SetAttr(std::string_view qualified, std::string value) {
  for (auto& a : attrs)
    if (a.qname == qualified) {
      a.value = std::move(value);
      return;
    }
  attrs.push_back({std::string(qualified), {}, std::move(value)});
}

void XmlNode::RemoveAttr(std::string_view qualified) {
  std::erase_if(attrs, [&](const Attribute& a) { return a.qname == qualified; });
}

const std::string* XmlNode::AttrNs(std::string_view uri, std::string_view local) const {
  for (const auto& a : attrs) {
    if (a.uri != uri) continue;
    const size_t colon = a.qname.find(':');
    if (std::string_view(a.qname).substr(colon == std::string::npos ? 0 : colon + 1) == local)
      return &a.value;
  }
  return nullptr;
}

XmlNode* XmlNode::Child(std::string_view u, std::string_view l) {
  for (auto& c : children)
    if (c.Is(u, l)) return &c;
  return nullptr;
}

const XmlNode* XmlNode::Child(std::string_view u, std::string_view l) const {
  for (const auto& c : children)
    if (c.Is(u, l)) return &c;
  return nullptr;
}

XmlNode XmlNode::From(const XmlName& name, const std::vector<XmlAttr>& attrs,
                      const std::vector<XmlAttr>& nsDecls) {
  XmlNode n;
  n.uri = name.uri;
  n.local = name.local;
  n.qname = name.qname;
  n.attrs.reserve(nsDecls.size() + attrs.size());
  for (const auto& d : nsDecls)
    n.attrs.push_back({std::string(d.name.qname), {}, std::string(d.value)});
  for (const auto& a : attrs)
    n.attrs.push_back({std::string(a.name.qname), std::string(a.name.uri), std::string(a.value)});
  return n;
}

void XmlNode::DropBlanks() {
  bool elements = false;
  for (const auto& c : children)
    if (!c.isText()) elements = true;
  if (elements)
    std::erase_if(children, [](const XmlNode& c) {
      return c.isText() && c.text.find_first_not_of(" \t\r\n") == std::string::npos;
    });
}

std::string XmlNode::Text() const {
  std::string t;
  for (const auto& c : children)
    if (c.isText()) t += c.text;
  return t;
}

namespace {

struct TreeBuilder : XmlHandler {
  XmlNode root;
  std::vector<XmlNode*> stack;
  bool haveRoot = false;
  void Start(const XmlName& name, const std::vector<XmlAttr>& attrs,
             const std::vector<XmlAttr>& nsDecls) override {
    XmlNode* n;
    if (stack.empty()) {
      root = XmlNode::From(name, attrs, nsDecls);
      n = &root;
      haveRoot = true;
    } else {
      stack.back()->children.push_back(XmlNode::From(name, attrs, nsDecls));
      n = &stack.back()->children.back();
    }
    stack.push_back(n);
  }
  void End(const XmlName&) override {
    stack.back()->DropBlanks();
    stack.pop_back();
  }
  void Text(std::string_view t) override {
    if (stack.empty()) return;
    auto& kids = stack.back()->children;
    if (kids.empty() || !kids.back().isText()) kids.emplace_back();
    kids.back().text.append(t);
  }
};

}  // namespace

Result<XmlNode> ParseTree(std::string_view doc, const std::string& what) {
  TreeBuilder b;
  XmlParser p(b, what);
  if (auto st = p.Feed(doc.data(), doc.size(), true); !st) return st.error();
  if (!b.haveRoot) return Fail(what + " holds no element");
  return std::move(b.root);
}

void AppendStartTag(const XmlNode& n, std::string& out) {
  out += '<';
  out += n.qname;
  for (const auto& a : n.attrs) {
    out += ' ';
    out += a.qname;
    out += "=\"";
    AppendEscaped(a.value, out, true);
    out += '"';
  }
  out += '>';
}

void WriteNode(const XmlNode& n, std::string& out) {
  if (n.isText()) {
    AppendEscaped(n.text, out, false);
    return;
  }
  AppendStartTag(n, out);
  if (n.children.empty()) {
    out.back() = '/';
    out += '>';
    return;
  }
  for (const auto& c : n.children)
    WriteNode(c, out);
  out += "</";
  out += n.qname;
  out += '>';
}

// ---- escaping ----

void AppendEscaped(std::string_view s, std::string& out, bool attribute) {
  size_t from = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const char* rep = nullptr;
    // Characters XML 1.0 cannot hold are left out (cell text escapes them,
    // see AppendCellText; elsewhere, names and codes, nothing can).
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') ||
        (u == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
         (static_cast<unsigned char>(s[i + 2]) & 0xFE) == 0xBE)) {
      out.append(s, from, i - from);
      if (u == 0xEF) i += 2;
      from = i + 1;
      continue;
    }
    switch (c) {
      case '&':
        rep = "&amp;";
        break;
      case '<':
        rep = "&lt;";
        break;
      case '>':
        rep = "&gt;";
        break;
      case '"':
        if (attribute) rep = "&quot;";
        break;
      case '\t':
        if (attribute) rep = "&#9;";
        break;
      case '\n':
        if (attribute) rep = "&#10;";
        break;
      case '\r':
        rep = "&#13;";
        break;
      default:
        break;
    }
    if (!rep) continue;
    out.append(s, from, i - from);
    out += rep;
    from = i + 1;
  }
  out.append(s, from, s.size() - from);
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "_xHHHH_" at s[i].
bool EscapeAt(std::string_view s, size_t i, uint32_t& code) {
  if (i + 7 > s.size() || s[i] != '_' || (s[i + 1] != 'x' && s[i + 1] != 'X') || s[i + 6] != '_')
    return false;
  code = 0;
  for (size_t k = 2; k < 6; ++k) {
    const int h = HexValue(s[i + k]);
    if (h < 0) return false;
    code = code * 16 + static_cast<uint32_t>(h);
  }
  return true;
}

void AppendEscape(uint32_t code, std::string& out) {
  static const char kHex[] = "0123456789ABCDEF";
  out += "_x";
  for (int shift = 12; shift >= 0; shift -= 4)
    out += kHex[(code >> shift) & 0xF];
  out += '_';
}

}  // namespace

void AppendCellText(std::string_view s, std::string& out) {
  size_t from = 0;
  auto flush = [&](size_t i) { AppendEscaped(s.substr(from, i - from), out, false); };
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t code;
    if ((c < 0x20 && c != '\t' && c != '\n') || (c == '_' && EscapeAt(s, i, code))) {
      flush(i);
      AppendEscape(c, out);
      from = i + 1;
    } else if (c == 0xEF && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
               (static_cast<unsigned char>(s[i + 2]) == 0xBE ||
                static_cast<unsigned char>(s[i + 2]) == 0xBF)) {
      // U+FFFE and U+FFFF are not characters of XML either.
      flush(i);
      AppendEscape(static_cast<unsigned char>(s[i + 2]) == 0xBE ? 0xFFFE : 0xFFFF, out);
      from = i + 3;
      i += 2;
    }
  }
  flush(s.size());
}

std::string UnescapeCellText(std::string_view s) {
  if (s.find('_') == std::string_view::npos) return std::string(s);
  std::string out;
  out.reserve(s.size());
  std::u16string unit(1, u'\0');
  for (size_t i = 0; i < s.size();) {
    uint32_t code;
    if (s[i] == '_' && EscapeAt(s, i, code)) {
      // Surrogates come in pairs of escapes; a lone one stays U+FFFD.
      uint32_t low;
      if (code >= 0xD800 && code <= 0xDBFF && EscapeAt(s, i + 7, low) && low >= 0xDC00 &&
          low <= 0xDFFF) {
        std::u16string pair{static_cast<char16_t>(code), static_cast<char16_t>(low)};
        AppendUtf8(pair, out);
        i += 14;
        continue;
      }
      unit[0] = static_cast<char16_t>(code);
      AppendUtf8(unit, out);
      i += 7;
      continue;
    }
    out += s[i++];
  }
  return out;
}

bool NeedsPreserve(std::string_view s) {
  if (s.empty()) return false;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  return blank(s.front()) || blank(s.back());
}

void AppendNumber(double v, std::string& out) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void AppendInt(uint64_t v, std::string& out) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

bool ParseBool(std::string_view s, bool fallback) {
  if (s == "1" || s == "true" || s == "on") return true;
  if (s == "0" || s == "false" || s == "off") return false;
  return fallback;
}

bool ParseBool(const std::string* s, bool fallback) {
  return s ? ParseBool(*s, fallback) : fallback;
}

bool ParseDouble(std::string_view s, double& v) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n'))
    s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

bool ParseUint(std::string_view s, uint64_t& v) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace migrator::xls::xlsx
