// Test helper: a table of cases kept as a file under tests/data/, one case a
// line with its fields separated by tabs; lines starting with "#" and blank
// lines are skipped. In a field, \n \r \t \\ and \xHH stand for that byte.
#ifndef ISMGR_TESTS_SUPPORT_DATA_ROWS_H_
#define ISMGR_TESTS_SUPPORT_DATA_ROWS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
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
inline std::vector<DataRow> data_rows(const std::string& name) {
  std::ifstream in(std::string(ISMGR_SOURCE_DIR) + "/tests/data/" + name);
  EXPECT_TRUE(in.good()) << "cannot read tests/data/" << name;
  std::vector<DataRow> rows;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    if (++number, line.empty() || line[0] == '#') continue;
    DataRow row{name + ":" + std::to_string(number), {""}};
    for (size_t i = 0; i < line.size(); ++i) {
      const char c = line[i], e = i + 1 < line.size() ? line[i + 1] : '\0';
      if (c == '\t') {
        row.fields.emplace_back();
      } else if (c == '\\' && e == 'x' && i + 3 < line.size()) {
        row.fields.back() += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
        i += 3;
      } else if (c == '\\' && (e == 'n' || e == 'r' || e == 't' || e == '\\')) {
        row.fields.back() += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : '\\';
        ++i;
      } else {
        row.fields.back() += c;
      }
    }
    rows.push_back(row);
  }
  return rows;
}

// A byte list written as blank-separated hex bytes, "HH*n" for n copies of
// a byte and "'text" for the bytes of a text.
inline std::vector<uint8_t> data_bytes(const std::string& field) {
  std::vector<uint8_t> out;
  std::istringstream in(field);
  for (std::string t; in >> t;) {
    const size_t star = t.find('*');
    if (t[0] == '\'') {
      out.insert(out.end(), t.begin() + 1, t.end());
    } else {
      out.insert(out.end(), star == std::string::npos ? 1 : std::stoul(t.substr(star + 1)),
                 static_cast<uint8_t>(std::stoul(t.substr(0, star), nullptr, 16)));
    }
  }
  return out;
}

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_DATA_ROWS_H_
