// Tests that compare with an independent tool run it at test time. A test names the tools it
// needs first thing with QUORVEX_REQUIRE_TOOLS(...); where one is missing it is skipped with the
// reason, or fails when QUORVEX_REQUIRE_TOOLS is set in the environment (scripts/run test sets
// it, having installed every tool), so that CI never skips silently.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string>

namespace quorvex_test {

enum class Tool { kCjpeg, kDjpeg, kExiftool, kImageMagick, kPillow, kDwebp, kAvifdec, kPngcheck };

struct ToolProbe {
  const char* name;
  const char* command;  // succeeds when the tool is installed
};

inline ToolProbe ProbeOf(Tool tool) {
  switch (tool) {
    case Tool::kCjpeg:
      return {"cjpeg (libjpeg-turbo-progs)", "cjpeg -version"};
    case Tool::kDjpeg:
      return {"djpeg (libjpeg-turbo-progs)", "djpeg -version"};
    case Tool::kExiftool:
      return {"exiftool (libimage-exiftool-perl)", "exiftool -ver"};
    case Tool::kImageMagick:
      return {"ImageMagick convert (imagemagick)", "convert -version"};
    case Tool::kPillow:
      return {"Pillow (python3-pil)", "/usr/bin/python3 -c 'import PIL'"};
    case Tool::kDwebp:
      return {"dwebp (webp)", "dwebp -version"};
    case Tool::kAvifdec:
      return {"avifdec (libavif-bin)", "avifdec --version"};
    case Tool::kPngcheck:
      return {"pngcheck (pngcheck)", "pngcheck -h"};
  }
  return {"?", "false"};
}

// The name of the first of `tools` that is not installed; empty when all are.
inline std::string MissingTool(std::initializer_list<Tool> tools) {
  static std::map<Tool, bool> installed;
  for (Tool tool : tools) {
    const ToolProbe probe = ProbeOf(tool);
    auto found = installed.find(tool);
    if (found == installed.end()) {
      const std::string command = std::string(probe.command) + " > /dev/null 2>&1";
      found = installed.emplace(tool, std::system(command.c_str()) == 0).first;
    }
    if (!found->second) return probe.name;
  }
  return {};
}

inline bool ToolsRequired() {
  return std::getenv("QUORVEX_REQUIRE_TOOLS") != nullptr;
}

}  // namespace quorvex_test

#define QUORVEX_REQUIRE_TOOLS(...)                                                              \
  if (const std::string quorvex_missing_tool = ::quorvex_test::MissingTool({__VA_ARGS__});      \
      !quorvex_missing_tool.empty()) {                                                          \
    if (::quorvex_test::ToolsRequired()) FAIL() << quorvex_missing_tool << " is not installed"; \
    GTEST_SKIP() << quorvex_missing_tool << " is not installed";                                \
  }
