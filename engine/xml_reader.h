#pragma once

// XML documents of a book, read with expat: a conforming, non-validating,
// streaming XML 1.0 parser. Namespaces are resolved (an unbound prefix is an
// error), no entity from outside the document is ever read, and expat's
// bound on entity expansion stays on.
//
// The handler sees elements and text as the parser meets them; the names and
// values it is given live only for the call.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace plimsy {

struct sXmlName {
  std::string_view ns;     // the namespace's URI; empty when the name has none
  std::string_view local;  // the name without its prefix
  bool is(std::string_view nameSpace, std::string_view localName) const {
    return ns == nameSpace && local == localName;
  }
};

struct sXmlAttribute {
  sXmlName name;
  std::string_view value;  // references resolved, white space normalized as XML requires
};

class cXmlHandler {
 public:
  virtual ~cXmlHandler() = default;
  virtual void startElement(const sXmlName& /*name*/, std::span<const sXmlAttribute> /*attributes*/) {}
  virtual void endElement(const sXmlName& /*name*/) {}
  // Character data, in pieces that need not be whole lines or words.
  virtual void text(std::string_view /*piece*/) {}
};

// What the document declared about itself and how far it came.
struct sXmlFacts {
  std::string declaredEncoding;  // the XML declaration's encoding, as written; empty when none
  std::string detectedEncoding;  // "UTF-8", "UTF-16BE" or "UTF-16LE", from the first bytes
  bool hasDoctype = false;
  bool hasInternalSubset = false;
};

struct sXmlError {
  std::string problem;     // expat's description ("not well-formed (invalid token)")
  std::size_t line = 0;    // from 1
  std::size_t column = 0;  // from 1
};

// Parses a document handed over in pieces. The handler is called while
// `feed` runs; after the first error, `feed` does nothing and returns false.
class cXmlParser {
 public:
  explicit cXmlParser(cXmlHandler& handler);
  ~cXmlParser();
  cXmlParser(const cXmlParser&) = delete;
  cXmlParser& operator=(const cXmlParser&) = delete;

  // `last` on the final piece (which may be empty). False when the document
  // is not well-formed (or the handler stopped it); error() says why.
  bool feed(std::span<const std::uint8_t> piece, bool last);
  bool feed(std::string_view piece, bool last);

  // Ends the parse early from inside a handler call: feed returns false and
  // error() gives `why`, at the place where the event being handled began.
  void stop(std::string why);

  const sXmlError& error() const { return error_; }
  bool failed() const { return failed_; }
  const sXmlFacts& facts() const { return facts_; }
  // The position the parser has reached, for a handler's own findings.
  std::size_t line() const;
  std::size_t column() const;

 private:
  struct sState;
  sState* state_;
  cXmlHandler& handler_;
  sXmlError error_;
  sXmlFacts facts_;
  bool failed_ = false;
  bool started_ = false;

  void noteFirstBytes(std::span<const std::uint8_t> piece);
  friend struct sXmlCallbacks;
};

// The whole document at once.
bool parseXml(std::string_view document, cXmlHandler& handler, sXmlError* error = nullptr, sXmlFacts* facts = nullptr);

// "not well-formed (invalid token) (line 3, column 7)".
std::string describeXmlError(const sXmlError& error);

}  // namespace plimsy
