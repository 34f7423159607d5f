// quorvex-idlc IN.idl HEADER.h GUIDS.c: writes the C/C++ declarations of an interface
// description and the definitions of its GUIDs. A file whose text is unchanged is left alone, so
// that what includes it is not rebuilt.
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "platform/idlc/c_declarations.h"

namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteIfChanged(const std::filesystem::path& path, const std::string& text) {
  std::error_code ignored;
  if (std::filesystem::exists(path, ignored) && ReadFile(path) == text) return;
  const std::filesystem::path temporary = path.string() + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + temporary.string());
  }
  std::filesystem::rename(temporary, path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: quorvex-idlc IN.idl HEADER.h GUIDS.c\n";
    return 2;
  }
  const std::filesystem::path idl = argv[1], header = argv[2], guids = argv[3];
  try {
    using namespace platform_detail::idl;
    const Library library = Parse(ReadFile(idl));
    const std::string source = idl.filename().string();
    WriteIfChanged(header, HeaderText(library, source));
    WriteIfChanged(guids, GuidSourceText(library, source, header.filename().string()));
  } catch (const platform_detail::idl::ParseError& error) {
    std::cerr << idl.string() << ": " << error.what() << "\n";
    return 1;
  } catch (const std::exception& error) {
    std::cerr << "quorvex-idlc: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
