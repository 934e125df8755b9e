// Test helper: a table of cases kept as a file under tests/data/, one case a
// line with its fields separated by tabs; lines starting with "#" and blank
// lines are skipped. In a field, \n \r \t \\ and \xHH stand for that byte.
#ifndef ISMGR_TESTS_SUPPORT_DATA_ROWS_H_
#define ISMGR_TESTS_SUPPORT_DATA_ROWS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace ismgr::test {

struct DataRow {
  std::string where;  // "file:line", for failure messages
  std::vector<std::string> fields;
  const std::string& operator[](size_t i) const { return fields.at(i); }
  int number(size_t i) const { return std::stoi(fields.at(i)); }
};

// The rows of tests/data/`name`; none (and a failure) when it cannot be read.
std::vector<DataRow> data_rows(const std::string& name);

// A byte list written as blank-separated hex bytes, "HH*n" for n copies of
// a byte and "'text" for the bytes of a text.
std::vector<uint8_t> data_bytes(const std::string& field);

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_DATA_ROWS_H_
