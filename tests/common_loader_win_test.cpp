// The Windows loader's word about a library built for the other word size, which
// Windows itself reports only as a bad executable format.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "loader.h"
#include "run_program.h"

namespace {

TEST(Loader, ALibraryOfTheOtherWordSizeIsNamedSo) {
  const bool wide = sizeof(void*) == 8;
  const auto path = std::filesystem::path(built("io.dll")).parent_path() / "otherbits.dll";
  // A PE header for the other processor, as far as the loader and the message read it.
  std::string image(0x200, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  image[0x44] = static_cast<char>(wide ? 0x4C : 0x64);
  image[0x45] = static_cast<char>(wide ? 0x01 : 0x86);
  std::ofstream(path, std::ios::binary) << image;
  EXPECT_EQ(load_library("otherbits"), nullptr);
  const std::string why = last_loader_error();
  std::filesystem::remove(path);
  EXPECT_NE(why.find("otherbits.dll is a " + std::string(wide ? "32" : "64") + "-bit library; this program is " +
                     (wide ? "64" : "32") + "-bit"),
            std::string::npos)
      << why;
}

}  // namespace
