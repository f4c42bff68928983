#pragma once
// ModelStore: the asset inventory of the real platform, and the catalog of
// locales the speech engine can run. It knows which locales are supported
// (the built-in en_US system model plus catalog entries), which are installed
// (system model present, or a complete verified model in the store), the
// reservations, and how to install a catalog model.
//
// Store root: $XDG_DATA_HOME/tolva-speech (default ~/.local/share/tolva-speech).
// Thread contract: any thread; reservation and install changes are also safe
// against other processes (flock).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/speech.hpp"
#include "platform/store/install/archive_tools.hpp"

namespace tolva::store {

// The files the PocketSphinx decoder loads for one locale.
struct ModelFiles {
  std::string acousticModel;  // directory (-hmm)
  std::string languageModel;  // n-gram file (-lm)
  std::string dictionary;     // pronunciation dictionary (-dict)
};

// A reader's hold on a model's files: while it lives, they stay where files()
// says, even when the locale is released meanwhile. Decoders load from the
// files on demand, so an analysis holds one for as long as it runs.
// Thread contract: any thread; share it (std::shared_ptr) with every thread
// that may load from it.
class ModelReadLease {
 public:
  virtual ~ModelReadLease() = default;
  virtual const ModelFiles& files() const = 0;
};

// Loads a model that is about to be installed, in a way that survives the
// model doing its worst; throws PlatformError saying what failed. A model
// counts as installed only once this passed.
using ModelLoadCheck = std::function<void(const ModelFiles& files)>;

class ModelStore : public AssetInventory {
 public:
  // In catalog order: the built-in en_US first.
  virtual std::vector<Locale> supportedLocales() = 0;
  virtual std::vector<Locale> installedLocales() = 0;
  // The supported locale whose ICU maximized form equals the request's.
  virtual std::optional<Locale> supportedLocale(const Locale& equivalentTo) = 0;
  // The model of an installed locale, or nothing. Throws PlatformError when
  // the store's copy no longer matches what was installed.
  virtual std::optional<ModelFiles> installedModel(const Locale& locale) = 0;
  // A hold on the model of an installed locale, or nothing. This default
  // holds nothing back: for stores whose models never go away.
  virtual std::shared_ptr<const ModelReadLease> readModel(const Locale& locale);
};

// The store over the XDG data directories of the environment; installations
// reach the archive tools through `archiveTools` and load each model with
// `loadCheck` before it goes into place.
std::unique_ptr<ModelStore> makeModelStore(ArchiveToolsProvider archiveTools, ModelLoadCheck loadCheck);

}  // namespace tolva::store
