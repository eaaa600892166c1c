#pragma once

// What each fuzz target does with one input. The libFuzzer entry points
// (fuzz_*.cpp, built with clang when PLIMSY_FUZZ is on) call these, and so
// does the seed-corpus replay test of the normal build, so that both run the
// very same code.

#include <cstddef>
#include <cstdint>
#include <string>

namespace plimsy::fuzz {

// The bytes opened as an archive in memory; when it opens, its analysis log
// is written into memory. Then the book check, deep, reads them too.
// Stops the process when the open fails without a message, or when a
// finding has no code or a text that is not valid UTF-8.
int zipReaderOneInput(const std::uint8_t* data, std::size_t size);

// The bytes, as the text of a settings file, read into a settings object,
// which is then written out again.
int settingsReaderOneInput(const std::uint8_t* data, std::size_t size);

// The bytes, read from memory, unpacked by the unzip job into a scratch
// folder. Stops the process (a crash, for the fuzzer) when anything is
// written outside that folder, or when the job fails without a message.
int unzipJobOneInput(const std::uint8_t* data, std::size_t size);

// The bytes read as META-INF/container.xml, whole and then again in two
// pieces split where the first byte says. Stops the process when a document
// is not well-formed without a reason and a line, when the two reads
// disagree, or when a rootfile's text is not valid UTF-8.
int containerXmlOneInput(const std::uint8_t* data, std::size_t size);

// What each of them came to, for the seed corpora's expected outcomes.

struct sReaderOutcome {
  bool opened = false;
  std::uint64_t entries = 0;  // central directory records, when it opened
  std::string message;        // why it did not open, or why the log was not written; "" otherwise
};
sReaderOutcome zipReaderOutcome(const std::uint8_t* data, std::size_t size);

// The settings as written out again.
std::string settingsReaderOutcome(const std::uint8_t* data, std::size_t size);

struct sUnzipOutcome {
  bool unzipped = false;
  std::uint64_t files = 0;  // entries unpacked, when it succeeded
  std::string message;      // why it failed; "" otherwise
};
sUnzipOutcome unzipJobOutcome(const std::uint8_t* data, std::size_t size);

// "well-formed, 1 rootfile", "not well-formed: REASON (line L, column C),
// 0 rootfiles", with "; encoding NAME refused" after it when the declaration
// names an encoding a container may not use.
std::string containerXmlOutcome(const std::uint8_t* data, std::size_t size);

}  // namespace plimsy::fuzz
