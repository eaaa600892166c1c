#include "support/sample_data.h"

#include <iterator>
#include <random>

namespace plimsy::test {

std::string prose(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"the ", "lighthouse ", "keeper ", "walked ",  "down ",
                                       "to ",  "a ",          "quiet ",  "harbour ", "and ",
                                       "sea ", "was ",        "grey. ",  "<p>",      "</p>\n"};
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) text += kWords[random() % std::size(kWords)];
  text.resize(size);
  return text;
}

std::string noise(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::filesystem::path sampleBook() { return std::filesystem::path(PLIMSY_SOURCE_DIR) / "examples" / "sample-book"; }

}  // namespace plimsy::test
