#include "engine/xml_reader.h"

#include <climits>
#include <vector>

#include <expat.h>
#include <fmt/format.h>

namespace plimsy {
namespace {

// Between a name's namespace and its local part in the names expat hands
// over. U+0001 cannot stand in an XML 1.0 document, not even as a reference.
constexpr char kNamespaceSeparator = '\x01';

sXmlName splitName(const XML_Char* name) {
  const std::string_view whole(name);
  const std::size_t separator = whole.find(kNamespaceSeparator);
  if (separator == std::string_view::npos) return {{}, whole};
  return {whole.substr(0, separator), whole.substr(separator + 1)};
}

}  // namespace

struct cXmlParser::sState {
  XML_Parser parser = nullptr;
  std::vector<sXmlAttribute> attributes;  // reused from element to element
  std::string stopReason;
  std::size_t stopLine = 0;
  std::size_t stopColumn = 0;
};

struct sXmlCallbacks {
  static cXmlParser& self(void* data) { return *static_cast<cXmlParser*>(data); }

  static void start(void* data, const XML_Char* name, const XML_Char** attributes) {
    cXmlParser& p = self(data);
    std::vector<sXmlAttribute>& list = p.state_->attributes;
    list.clear();
    for (const XML_Char** a = attributes; *a; a += 2) list.push_back({splitName(a[0]), std::string_view(a[1])});
    p.handler_.startElement(splitName(name), list);
  }
  static void end(void* data, const XML_Char* name) { self(data).handler_.endElement(splitName(name)); }
  static void text(void* data, const XML_Char* s, int length) {
    self(data).handler_.text(std::string_view(s, static_cast<std::size_t>(length)));
  }
  static void declaration(void* data, const XML_Char* /*version*/, const XML_Char* encoding, int /*standalone*/) {
    if (encoding) self(data).facts_.declaredEncoding = encoding;
  }
  static void doctype(void* data, const XML_Char* /*name*/, const XML_Char* /*systemId*/, const XML_Char* /*publicId*/,
                      int hasInternalSubset) {
    cXmlParser& p = self(data);
    p.facts_.hasDoctype = true;
    p.facts_.hasInternalSubset = hasInternalSubset != 0;
  }
};

cXmlParser::cXmlParser(cXmlHandler& handler) : state_(new sState), handler_(handler) {
  state_->parser = XML_ParserCreateNS(nullptr, kNamespaceSeparator);
  if (!state_->parser) {
    failed_ = true;
    error_.problem = "out of memory";
    return;
  }
  XML_Parser parser = state_->parser;
  XML_SetUserData(parser, this);
  XML_SetElementHandler(parser, &sXmlCallbacks::start, &sXmlCallbacks::end);
  XML_SetCharacterDataHandler(parser, &sXmlCallbacks::text);
  XML_SetXmlDeclHandler(parser, &sXmlCallbacks::declaration);
  XML_SetStartDoctypeDeclHandler(parser, &sXmlCallbacks::doctype);
  // No external entity or DTD is read: without a handler for them expat
  // leaves external references unexpanded.
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
}

cXmlParser::~cXmlParser() {
  if (state_->parser) XML_ParserFree(state_->parser);
  delete state_;
}

void cXmlParser::noteFirstBytes(std::span<const std::uint8_t> piece) {
  started_ = true;
  facts_.detectedEncoding = "UTF-8";
  if (piece.size() < 2) return;
  const std::uint8_t a = piece[0], b = piece[1];
  if ((a == 0xFE && b == 0xFF) || (a == 0x00 && b == '<'))
    facts_.detectedEncoding = "UTF-16BE";
  else if ((a == 0xFF && b == 0xFE) || (a == '<' && b == 0x00))
    facts_.detectedEncoding = "UTF-16LE";
}

bool cXmlParser::feed(std::span<const std::uint8_t> piece, bool last) {
  if (failed_) return false;
  if (!started_) noteFirstBytes(piece);
  XML_Parser parser = state_->parser;
  const char* data = reinterpret_cast<const char*>(piece.data());
  std::size_t left = piece.size();
  do {
    const std::size_t chunk = std::min<std::size_t>(left, INT_MAX / 2);
    left -= chunk;
    const bool final = last && left == 0;
    if (XML_Parse(parser, data, static_cast<int>(chunk), final ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
      failed_ = true;
      const XML_Error code = XML_GetErrorCode(parser);
      if (code == XML_ERROR_ABORTED && !state_->stopReason.empty()) {
        error_ = {state_->stopReason, state_->stopLine, state_->stopColumn};
        return false;
      }
      error_.problem = XML_ErrorString(code) ? XML_ErrorString(code) : "unknown error";
      error_.line = static_cast<std::size_t>(XML_GetCurrentLineNumber(parser));
      error_.column = static_cast<std::size_t>(XML_GetCurrentColumnNumber(parser)) + 1;
      return false;
    }
    data += chunk;
  } while (left > 0);
  return true;
}

bool cXmlParser::feed(std::string_view piece, bool last) {
  return feed(std::span(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()), last);
}

void cXmlParser::stop(std::string why) {
  state_->stopReason = std::move(why);
  // Where the event that stopped the parse began.
  state_->stopLine = line();
  state_->stopColumn = column();
  XML_StopParser(state_->parser, XML_FALSE);
}

std::size_t cXmlParser::line() const {
  return state_->parser ? static_cast<std::size_t>(XML_GetCurrentLineNumber(state_->parser)) : 0;
}

std::size_t cXmlParser::column() const {
  return state_->parser ? static_cast<std::size_t>(XML_GetCurrentColumnNumber(state_->parser)) + 1 : 0;
}

bool parseXml(std::string_view document, cXmlHandler& handler, sXmlError* error, sXmlFacts* facts) {
  cXmlParser parser(handler);
  const bool ok = parser.feed(document, true);
  if (error) *error = parser.error();
  if (facts) *facts = parser.facts();
  return ok;
}

std::string describeXmlError(const sXmlError& error) {
  return fmt::format("{} (line {}, column {})", error.problem, error.line, error.column);
}

}  // namespace plimsy
