#include "engine/book_paths.h"

#include <vector>

namespace plimsy {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "scheme:" at the start: a letter, then letters, digits, '+', '-' or '.'.
bool hasScheme(std::string_view reference) {
  if (reference.empty() || !isAsciiLetter(reference[0])) return false;
  for (std::size_t i = 1; i < reference.size(); ++i) {
    const char c = reference[i];
    if (c == ':') return true;
    if (!isAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

// Joins `folder` and `path` and resolves "." and ".." parts. False when a
// ".." climbs above the root.
bool normalizePath(std::string_view folder, std::string_view path, std::string& out) {
  std::vector<std::string_view> parts;
  const auto split = [&parts](std::string_view text) {
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('/', start);
      if (end == std::string_view::npos) end = text.size();
      parts.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  };
  if (!folder.empty()) split(folder.substr(0, folder.size() - 1));  // without its final '/'
  split(path);
  std::vector<std::string_view> kept;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string_view part = parts[i];
    const bool isLast = i + 1 == parts.size();
    if (part == "..") {
      if (kept.empty()) return false;
      kept.pop_back();
      if (isLast) kept.push_back("");  // "a/.." names the folder: "a/"
    } else if (part == "." || (part.empty() && !isLast)) {
      if (isLast) kept.push_back("");
    } else {
      kept.push_back(part);
    }
  }
  out.clear();
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) out += '/';
    out += kept[i];
  }
  return true;
}

}  // namespace

bool percentDecode(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string_view entryFolder(std::string_view entry) {
  const std::size_t slash = entry.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : entry.substr(0, slash + 1);
}

sResolvedReference resolveReference(std::string_view base, std::string_view reference) {
  sResolvedReference result;
  if (hasScheme(reference)) {
    result.kind = eReferenceKind::Remote;
    return result;
  }
  std::string_view path = reference;
  const std::size_t hash = path.find('#');
  if (hash != std::string_view::npos) {
    result.hasFragment = true;
    if (!percentDecode(path.substr(hash + 1), result.fragment)) return result;
    path = path.substr(0, hash);
  }
  const std::size_t query = path.find('?');
  if (query != std::string_view::npos) path = path.substr(0, query);
  if (path.empty()) {
    result.kind = eReferenceKind::InBook;
    result.entry = std::string(base);
    return result;
  }
  if (path[0] == '/' || path.substr(0, 2) == "//") {
    result.kind = eReferenceKind::Outside;
    return result;
  }
  std::string decoded;
  if (!percentDecode(path, decoded) || decoded.find('\0') != std::string::npos) return result;
  if (!normalizePath(entryFolder(base), decoded, result.entry)) {
    result.kind = eReferenceKind::Outside;
    result.entry.clear();
    return result;
  }
  result.kind = eReferenceKind::InBook;
  return result;
}

}  // namespace plimsy
