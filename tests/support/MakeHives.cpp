// lk_make_hives: writes the SYSTEM and SOFTWARE hives of a test installation, for tests that
// build the offline twin of a running (Wine) system.
//
//   lk_make_hives CONFIG_FOLDER 32|64 < VALUES
//
// CONFIG_FOLDER gets the hives WriteWindowsHives makes (Select, two control sets, the Windows
// key); then each line of VALUES, "HIVE<TAB>KEY<TAB>NAME<TAB>TYPE<TAB>HEXDATA" with HIVE one of
// SYSTEM and SOFTWARE, KEY relative to the hive's root and TYPE a number, is stored as given.
// Exit 0, or 1 with a message on stderr.
#include <cstdint>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/WindowsTree.h"

namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream stream(line);
  for (std::string field; std::getline(stream, field, '\t');) fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.emplace_back();
  return fields;
}

std::string FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0) throw std::runtime_error("odd hex length");
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() != 2 || (args[1] != "32" && args[1] != "64")) {
    std::cerr << "usage: lk_make_hives CONFIG_FOLDER 32|64 < VALUES\n";
    return 1;
  }
  try {
    lk::test::WriteWindowsHives(args[0], args[1] == "64");
    for (std::string line; std::getline(std::cin, line);) {
      if (line.empty()) continue;
      const std::vector<std::string> fields = Fields(line);
      if (fields.size() != 5 || (fields[0] != "SYSTEM" && fields[0] != "SOFTWARE")) {
        throw std::runtime_error("not a value line: " + line);
      }
      lk::test::SetHiveFileValue(args[0] + "/" + fields[0], fields[1], fields[2],
                                 static_cast<std::uint32_t>(std::stoul(fields[3])),
                                 FromHex(fields[4]));
    }
  } catch (const std::exception& failure) {
    std::cerr << "lk_make_hives: " << failure.what() << '\n';
    return 1;
  }
  return 0;
}
