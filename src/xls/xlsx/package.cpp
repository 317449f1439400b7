#include "xls/xlsx/package.h"

#include <algorithm>

namespace migrator::xls::xlsx {

bool SamePartName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

Result<Relationships> Relationships::Parse(std::string_view doc, const std::string& what) {
  auto tree = ParseTree(doc, what);
  if (!tree) return tree.error();
  if (!tree->Is(ns::kPackageRel, "Relationships"))
    return Fail(what + " is not a relationships part");
  Relationships r;
  for (const auto& c : tree->children) {
    if (!c.Is(ns::kPackageRel, "Relationship")) continue;
    const std::string* id = c.Attr("Id");
    const std::string* type = c.Attr("Type");
    const std::string* target = c.Attr("Target");
    if (!id || !type || !target)
      return Fail(what + " holds a relationship without Id, Type or Target");
    if (r.Find(*id)) return Fail(what + " holds two relationships with the id " + *id);
    const std::string* mode = c.Attr("TargetMode");
    r.list.push_back({*id, *type, *target, mode && *mode == "External"});
  }
  return r;
}

std::string Relationships::Write() const {
  std::string out(kXmlDeclaration);
  out += "<Relationships xmlns=\"";
  out += ns::kPackageRel;
  out += "\">";
  for (const auto& r : list) {
    out += "<Relationship Id=\"";
    AppendEscaped(r.id, out, true);
    out += "\" Type=\"";
    AppendEscaped(r.type, out, true);
    out += "\" Target=\"";
    AppendEscaped(r.target, out, true);
    out += r.external ? "\" TargetMode=\"External\"/>" : "\"/>";
  }
  out += "</Relationships>";
  return out;
}

const Relationship* Relationships::Find(std::string_view id) const {
  for (const auto& r : list)
    if (r.id == id) return &r;
  return nullptr;
}

const Relationship* Relationships::FirstOfType(std::string_view type) const {
  for (const auto& r : list)
    if (r.type == type) return &r;
  return nullptr;
}

std::string Relationships::NewId() const {
  for (size_t n = list.size() + 1;; ++n) {
    std::string id = "rId" + std::to_string(n);
    if (!Find(id)) return id;
  }
}

void Relationships::Remove(std::string_view id) {
  std::erase_if(list, [&](const Relationship& r) { return r.id == id; });
}

Result<ContentTypes> ContentTypes::Parse(std::string_view doc) {
  auto tree = ParseTree(doc, "[Content_Types].xml");
  if (!tree) return tree.error();
  if (!tree->Is(ns::kContentTypes, "Types"))
    return Fail("[Content_Types].xml is not a list of content types");
  ContentTypes t;
  for (const auto& c : tree->children) {
    const std::string* type = c.Attr("ContentType");
    if (c.Is(ns::kContentTypes, "Default")) {
      const std::string* ext = c.Attr("Extension");
      if (!ext || !type) return Fail("[Content_Types].xml holds a default without its type");
      t.defaults.emplace_back(*ext, *type);
    } else if (c.Is(ns::kContentTypes, "Override")) {
      const std::string* part = c.Attr("PartName");
      if (!part || !type) return Fail("[Content_Types].xml holds an override without its type");
      t.overrides.emplace_back(*part, *type);
    }
  }
  return t;
}

std::string ContentTypes::Write() const {
  std::string out(kXmlDeclaration);
  out += "<Types xmlns=\"";
  out += ns::kContentTypes;
  out += "\">";
  for (const auto& [ext, type] : defaults) {
    out += "<Default Extension=\"";
    AppendEscaped(ext, out, true);
    out += "\" ContentType=\"";
    AppendEscaped(type, out, true);
    out += "\"/>";
  }
  for (const auto& [part, type] : overrides) {
    out += "<Override PartName=\"";
    AppendEscaped(part, out, true);
    out += "\" ContentType=\"";
    AppendEscaped(type, out, true);
    out += "\"/>";
  }
  out += "</Types>";
  return out;
}

std::string ContentTypes::TypeOf(std::string_view part) const {
  const std::string name = "/" + std::string(part);
  for (const auto& [p, type] : overrides)
    if (SamePartName(p, name)) return type;
  const size_t dot = part.find_last_of('.');
  const size_t slash = part.find_last_of('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  const std::string_view ext = part.substr(dot + 1);
  for (const auto& [e, type] : defaults)
    if (SamePartName(e, ext)) return type;
  return {};
}

void ContentTypes::Set(std::string_view part, std::string type) {
  const std::string name = "/" + std::string(part);
  for (auto& [p, t] : overrides)
    if (SamePartName(p, name)) {
      t = std::move(type);
      return;
    }
  overrides.emplace_back(name, std::move(type));
}

void ContentTypes::Remove(std::string_view part) {
  const std::string name = "/" + std::string(part);
  std::erase_if(overrides, [&](const auto& o) { return SamePartName(o.first, name); });
}

std::optional<std::string> ResolveTarget(std::string_view source, std::string_view target) {
  // Targets are URIs: their escapes stand for the characters of the name.
  std::string t;
  for (size_t i = 0; i < target.size(); ++i) {
    auto hex = [](char c) {
      return (c >= '0' && c <= '9')   ? c - '0'
             : (c >= 'a' && c <= 'f') ? c - 'a' + 10
             : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                      : -1;
    };
    if (target[i] == '%' && i + 2 < target.size() && hex(target[i + 1]) >= 0 &&
        hex(target[i + 2]) >= 0) {
      t += static_cast<char>(hex(target[i + 1]) * 16 + hex(target[i + 2]));
      i += 2;
    } else {
      t += target[i];
    }
  }
  std::vector<std::string> segs;
  std::string_view rest = t;
  if (!rest.empty() && rest.front() == '/') {
    rest.remove_prefix(1);
  } else {
    const size_t slash = source.find_last_of('/');
    std::string_view dir = slash == std::string_view::npos ? "" : source.substr(0, slash);
    size_t from = 0;
    while (!dir.empty() && from <= dir.size()) {
      size_t s = dir.find('/', from);
      if (s == std::string_view::npos) s = dir.size();
      segs.emplace_back(dir.substr(from, s - from));
      from = s + 1;
    }
  }
  size_t from = 0;
  while (from <= rest.size()) {
    size_t s = rest.find('/', from);
    if (s == std::string_view::npos) s = rest.size();
    std::string_view seg = rest.substr(from, s - from);
    if (seg == "..") {
      if (segs.empty()) return std::nullopt;
      segs.pop_back();
    } else if (!seg.empty() && seg != ".") {
      segs.emplace_back(seg);
    }
    from = s + 1;
  }
  if (segs.empty()) return std::nullopt;
  std::string out;
  for (const auto& s : segs) {
    if (!out.empty()) out += '/';
    out += s;
  }
  return out;
}

std::string RelsPartOf(std::string_view part) {
  const size_t slash = part.find_last_of('/');
  if (slash == std::string_view::npos) return "_rels/" + std::string(part) + ".rels";
  return std::string(part.substr(0, slash)) + "/_rels/" + std::string(part.substr(slash + 1)) +
         ".rels";
}

std::string RelativeTarget(std::string_view source, std::string_view part) {
  const size_t slash = source.find_last_of('/');
  const std::string_view dir = slash == std::string_view::npos ? "" : source.substr(0, slash + 1);
  if (!dir.empty() && part.substr(0, dir.size()) == dir)
    return std::string(part.substr(dir.size()));
  return "/" + std::string(part);
}

}  // namespace migrator::xls::xlsx
