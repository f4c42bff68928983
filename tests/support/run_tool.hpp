#pragma once
// Runs a tool binary as a child process and collects what a parent sees.

#include <map>
#include <string>
#include <vector>

namespace tolva::test {

struct ToolRun {
  std::string out;  // standard output, bytes as written
  std::string err;  // standard error
  int status = -1;  // exit status, or 128 + signal number
};

struct ToolOptions {
  std::map<std::string, std::string> env;  // added to (or replacing in) the environment
  std::string stdinText;                   // written to standard input, which is then closed
  int timeoutSeconds = 120;                // the child is killed after this
  std::vector<int> closedFds;              // of 0, 1, 2: started closed instead of piped
  bool stderrUnread = false;               // standard error is read only after the exit
};

ToolRun runTool(const std::string& binary, const std::vector<std::string>& args, const ToolOptions& options = {});

// The scripted test executable with a scenario (JSON text).
ToolRun runScripted(const std::vector<std::string>& args, const std::string& scenario, ToolOptions options = {});

// The lines of a text, without their line feeds.
std::vector<std::string> lines(const std::string& text);

}  // namespace tolva::test
