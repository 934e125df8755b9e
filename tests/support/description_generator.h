// Random descriptions for the conformance property: valid ones that cover
// every keyword and value the description parser accepts, and broken ones
// that differ from a valid one by one keyword or value.
#ifndef ISMGR_TESTS_SUPPORT_DESCRIPTION_GENERATOR_H_
#define ISMGR_TESTS_SUPPORT_DESCRIPTION_GENERATOR_H_

#include <cstdint>
#include <string>

namespace ismgr::test {

struct GeneratedDescription {
  int revision = 6;  // the creation revision it is meant for (4 or 6)
  std::string xdl;
  // The same without what a description of the file does not carry by rule:
  // a short null key's value, a replicating null byte of a key without text
  // segments, a duplicate order of a key without duplicates.
  std::string carried;
};

// A valid description; the same seed gives the same description.
GeneratedDescription generate_description(uint64_t seed);

// `valid` with one keyword or value broken; *what names the breakage.
std::string break_description(const GeneratedDescription& valid, uint64_t seed, std::string* what);

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_DESCRIPTION_GENERATOR_H_
