// The operation table is what the command line offers and what the README lists: each row once,
// with its member, and in `convert --help` with its value placeholder.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "client/operation_table.h"
#include "tests/tools/tool_run.h"

namespace quorvex {
namespace {

using Row = std::pair<std::string, std::string>;  // the option as written, and its member

// The rows of the README's table of options: "| `--box WxH` | `ResizeBox` | ... |".
std::set<Row> ReadmeRows() {
  std::ifstream readme(std::string(QUORVEX_SOURCE_DIR) + "/README.md");
  std::set<Row> rows;
  bool inTable = false;
  for (std::string line; std::getline(readme, line);) {
    if (line == "| option | member | meaning |") {
      inTable = true;
      continue;
    }
    if (!inTable || line.starts_with("|---")) continue;
    if (!line.starts_with("| `")) break;
    std::string cells[2];
    size_t at = 0;
    for (std::string& cell : cells) {
      const size_t open = line.find('`', at), close = line.find("` |", open + 1);
      cell = line.substr(open + 1, close - open - 1);
      at = close + 1;
    }
    for (size_t pipe; (pipe = cells[0].find("\\|")) != std::string::npos;) cells[0].erase(pipe, 1);
    EXPECT_TRUE(rows.emplace(cells[0], cells[1]).second) << "listed twice: " << cells[0];
  }
  return rows;
}

TEST(OptionTable, ReadmeAndHelpListEveryRow) {
  std::set<Row> table;
  for (const client::Operation& row : client::Operations())
    if (row.hosts & client::kCommandLine)
      table.emplace(client::CommandLineUsage(row), std::string(row.member));
  EXPECT_EQ(ReadmeRows(), table);

  testing::ScratchDirectory dir;
  const testing::ToolRun help = testing::Quorvex(dir, "convert --help");
  ASSERT_EQ(help.status, 0);
  for (const auto& [usage, member] : table)
    EXPECT_NE(help.out.find("\n  " + usage + " "), std::string::npos) << usage;
}

}  // namespace
}  // namespace quorvex
