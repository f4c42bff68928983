#pragma once
// What a model store holds, read from its files as another process would,
// and the rules every store must keep: at most five reservations, every
// model complete, and no model without a reservation.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "e2e/model_store_test_support.hpp"
#include "support/run_tool.hpp"

namespace tolva::store::test {

// The shipped binary, run to its end.
inline tolva::test::ToolRun runShipped(const std::vector<std::string>& args) {
  return tolva::test::runTool(TOLVA_BINARY, args);
}

struct StoreState {
  bool reservationsReadable = true;     // absent counts as readable (no slot taken)
  std::vector<std::string> reserved;    // as identifiers: fr_FR
  std::vector<std::string> models;      // the entries of models/
  std::vector<std::string> incomplete;  // models/ entries without a manifest and its files
  std::vector<std::string> staging;     // the entries of staging/
};

inline std::vector<std::string> entriesOf(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline bool completeModel(const fs::path& dir) {
  auto manifest = nlohmann::json::parse(readFile(dir / "manifest.json"), nullptr, false);
  if (!manifest.is_object()) return false;
  for (const char* key : {"acousticModel", "languageModel", "dictionary"}) {
    if (!manifest.contains(key) || !manifest[key].is_string()) return false;
    std::error_code error;
    if (!fs::exists(dir / manifest[key].get<std::string>(), error)) return false;
  }
  return fs::is_regular_file(dir / manifest["acousticModel"].get<std::string>() / "mdef");
}

// Holds the store's reservations lock, so that reservations and models are
// read as one consistent picture: both only change under it.
class ReservationsLock {
 public:
  explicit ReservationsLock(const fs::path& root)
      : fd_(open((root / "reservations.lock").c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~ReservationsLock() {
    if (fd_ >= 0) close(fd_);
  }
  ReservationsLock(const ReservationsLock&) = delete;
  ReservationsLock& operator=(const ReservationsLock&) = delete;

 private:
  int fd_;
};

inline StoreState readStoreState(const fs::path& root) {
  StoreState state;
  if (fs::exists(root / "reservations.json")) {
    auto document = nlohmann::json::parse(readFile(root / "reservations.json"), nullptr, false);
    state.reservationsReadable =
        document.is_object() && document.contains("reserved") && document["reserved"].is_array();
    if (state.reservationsReadable) {
      for (const auto& tag : document["reserved"]) {
        std::string id = tag.is_string() ? tag.get<std::string>() : "";
        std::replace(id.begin(), id.end(), '-', '_');
        state.reserved.push_back(id);
      }
    }
  }
  state.models = entriesOf(root / "models");
  for (const std::string& model : state.models) {
    if (!completeModel(root / "models" / model)) state.incomplete.push_back(model);
  }
  state.staging = entriesOf(root / "staging");
  return state;
}

// The rules of a store at rest or caught under its reservations lock.
inline void expectValidStore(const StoreState& state) {
  EXPECT_TRUE(state.reservationsReadable);
  EXPECT_LE(state.reserved.size(), 5u) << testing::PrintToString(state.reserved);
  EXPECT_TRUE(state.incomplete.empty()) << testing::PrintToString(state.incomplete);
  for (const std::string& model : state.models) {
    EXPECT_NE(std::find(state.reserved.begin(), state.reserved.end(), model), state.reserved.end())
        << model << " is installed without a reservation; reserved: " << testing::PrintToString(state.reserved);
  }
}

}  // namespace tolva::store::test
