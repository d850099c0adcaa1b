#include "catalogue_checks.h"

#include <set>

#include "test_support.h"

namespace loomreg::testing {

namespace fs = std::filesystem;

std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<unterminated>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> CatalogueViolations(const fs::path& data) {
  std::vector<std::string> violations;
  std::vector<fs::path> catalogues = {data / "SetValueFileList/SetValueList",
                                      data / "MachineList/MachineList",
                                      data / "SetValueFile/FileList", data / "StyleList/KindList"};
  for (const char* dir : {"MachineF", "StyleFile", "Machine"}) {
    for (const auto& entry : fs::directory_iterator(data / dir)) catalogues.push_back(entry.path());
  }
  for (const fs::path& path : catalogues) {
    if (!fs::exists(path)) continue;
    std::string text = ReadFile(path);
    std::string name = path.lexically_relative(data).string();
    if (!text.empty() && !text.ends_with("\r\n")) violations.push_back(name + ": no final CR LF");
    for (const std::string& line : CrLfLines(text)) {
      if (line.find_first_of("\r\n") != std::string::npos) {
        violations.push_back(name + ": torn line");
        break;
      }
    }
  }
  for (const char* list :
       {"MachineList/MachineList", "SetValueFile/FileList", "StyleList/KindList"}) {
    std::set<std::string> seen;
    for (const std::string& name : CrLfLines(ReadFile(data / list))) {
      if (!seen.insert(name).second)
        violations.push_back(std::string(list) + ": " + name + " twice");
    }
  }
  return violations;
}

}  // namespace loomreg::testing
