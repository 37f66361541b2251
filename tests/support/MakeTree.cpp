// lk_make_tree: writes the Windows-like test installation into a folder, for tests that build
// disk images of it (tests/image/make_image.py) or hand it to a program under test.
//
//   lk_make_tree FOLDER [--infected] [--32] [--product NAME] [--build NUMBER]
//
// FOLDER must not exist yet. The tree is WindowsTree's: Windows\System32 with drivers and the
// SYSTEM and SOFTWARE hives, ProgramData, on 64-bit Windows\SysWOW64; --infected installs the
// known version of the trojan. SOFTWARE's "Microsoft\Windows NT\CurrentVersion" gets ProductName
// and CurrentBuild ("Windows 10 Pro" and "19045" unless given). Exit 0, or 1 with a message.
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "tests/support/WindowsTree.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string folder;
  std::string product = "Windows 10 Pro";
  std::string build = "19045";
  bool infected = false;
  lk::test::WindowsTreeOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--infected") {
      infected = true;
    } else if (args[i] == "--32") {
      options.is64Bit = false;
    } else if ((args[i] == "--product" || args[i] == "--build") && i + 1 < args.size()) {
      (args[i] == "--product" ? product : build) = args[i + 1];
      ++i;
    } else if (folder.empty() && !args[i].empty() && args[i][0] != '-') {
      folder = args[i];
    } else {
      folder.clear();
      break;
    }
  }
  if (folder.empty()) {
    std::cerr << "usage: lk_make_tree FOLDER [--infected] [--32] [--product NAME] "
                 "[--build NUMBER]\n";
    return 1;
  }
  try {
    if (std::filesystem::exists(folder)) throw std::runtime_error(folder + " exists already");
    lk::test::WindowsTree tree(options);
    const char* versionKey = "Microsoft\\Windows NT\\CurrentVersion";
    tree.SetString(lk::test::HiveName::Software, versionKey, "ProductName", product);
    tree.SetString(lk::test::HiveName::Software, versionKey, "CurrentBuild", build);
    if (infected) tree.InstallKnownVersion();
    std::filesystem::copy(tree.Root(), folder, std::filesystem::copy_options::recursive);
  } catch (const std::exception& failure) {
    std::cerr << "lk_make_tree: " << failure.what() << '\n';
    return 1;
  }
  return 0;
}
