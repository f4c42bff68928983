#include "platform/scripted/scripted_platform.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tolva::scripted {

Scenario scenarioFromEnvironment() {
  const char* value = std::getenv("TOLVA_SCENARIO");
  if (!value) return Scenario{};
  std::string text(value);
  if (!text.empty() && text.front() != '{') {
    std::ifstream file(text);
    if (!file) throw std::runtime_error("cannot read scenario file " + text);
    std::stringstream content;
    content << file.rdbuf();
    text = content.str();
  }
  return parseScenario(text);
}

}  // namespace tolva::scripted
