// Case tables kept as data: tests/data/<name>, one case a line, fields split
// by "|"; blank lines and lines starting with "#" are skipped. A row knows its
// line so that a failure names it.
#ifndef ISMGR_TESTS_SUPPORT_TABLE_FILE_H_
#define ISMGR_TESTS_SUPPORT_TABLE_FILE_H_

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ismgr::test {

struct TableRow {
  std::string where;  // "<name>:<line>"
  std::vector<std::string> f;
};

inline std::vector<TableRow> read_table(const std::string& name, size_t fields) {
  std::ifstream in(std::string(ISMGR_SOURCE_DIR) + "/tests/data/" + name);
  std::vector<TableRow> rows;
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (line.empty() || line[0] == '#') continue;
    TableRow row{name + ":" + std::to_string(n), {}};
    std::istringstream in_line(line);
    for (std::string f; std::getline(in_line, f, '|');) row.f.push_back(f);
    EXPECT_EQ(row.f.size(), fields) << row.where;
    if (row.f.size() == fields) rows.push_back(row);
  }
  EXPECT_FALSE(rows.empty()) << name;
  return rows;
}

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_TABLE_FILE_H_
