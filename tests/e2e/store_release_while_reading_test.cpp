// A release of a locale while a transcription of it runs: the transcription
// reads the model's files as it starts, and would load further decoders from
// them should it fail to fork copies of its first, so the release must leave
// the files to the transcription. The model goes when
// the transcription lets go of it, or with the next store to open.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "e2e/model_store_test_support.hpp"
#include "e2e/sphinx_test_engine.hpp"
#include "e2e/store_check.hpp"
#include "locale/speech_preset.hpp"
#include "platform/sphinx/sphinx_engine.hpp"

namespace tolva::store::test {
namespace {

using sphinx::testing::clipsWithPauses;
using sphinx::testing::MemoryAudioFile;

// An audio file that runs `onFirstRead` when the analysis first reads it: by
// then the first decoder is loaded and every other one is still to come.
class AudioFileWithHook final : public AudioFile {
 public:
  AudioFileWithHook(std::unique_ptr<MemoryAudioFile> file, std::function<void()> onFirstRead)
      : file_(std::move(file)), onFirstRead_(std::move(onFirstRead)) {}
  AudioFormat processingFormat() const override { return file_->processingFormat(); }
  std::int64_t length() const override { return file_->length(); }
  void read(PcmBuffer& buffer, std::uint32_t frameCount) override {
    if (auto hook = std::exchange(onFirstRead_, nullptr)) hook();
    file_->read(buffer, frameCount);
  }

 private:
  std::unique_ptr<MemoryAudioFile> file_;
  std::function<void()> onFirstRead_;
};

// The system en-us model with its word language model, as a catalog model.
std::vector<ArchiveItem> wordModelItems(const std::string& root) {
  auto items = realModelItems(root);
  for (ArchiveItem& item : items) {
    if (item.name == root + "/lm.bin") item.content = readFile(systemModelDir / "en-us.lm.bin");
  }
  return items;
}

class StoreReleaseWhileReading : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    fs::path archive = temp.path() / "www" / "en-gb.tar.gz";
    fs::create_directories(archive.parent_path());
    writeTarArchive(archive, wordModelItems("en-gb"));
    writeCatalog("en-gb.json",
                 modelCatalogEntry("en-GB", fileUrl(archive), static_cast<std::int64_t>(fs::file_size(archive)),
                                   sha256Of(archive), "en-gb"));
  }

  void install() const {
    auto store = makeModelStore();
    ASSERT_TRUE(store->reserve(Locale("en_GB")));
    auto request = store->assetInstallationRequest(modules({"en_GB"}));
    ASSERT_TRUE(request);
    request->downloadAndInstall();
  }

  // Transcribes the clips on `threads` decoders, releasing en_GB as reading
  // begins. Returns the results; fails the test when the analysis fails.
  std::vector<TranscriberResult> transcribeReleasing(int threads) const {
    auto cache = std::make_shared<sphinx::DecoderCache>();
    auto engine = sphinx::makeSphinxEngine(makeModelStore(), cache, threads);
    auto transcriber = engine->makeTranscriber(Locale("en_GB"), SpeechPreset::batch());
    auto analyzer = engine->makeAnalyzer({transcriber});
    AudioFileWithHook file(clipsWithPauses(1), [] { EXPECT_TRUE(makeModelStore()->release(Locale("en_GB"))); });
    try {
      analyzer->analyzeSequence(file);
      analyzer->finalizeAndFinishThroughEndOfInput();
    } catch (const std::exception& error) {
      ADD_FAILURE() << "the transcription failed: " << error.what();
      return {};
    }
    EXPECT_EQ(cache->decodersLoaded(), 1) << "the other decoders are forked copies of the first";
    return sphinx::testing::collect(*transcriber->results()).results;
  }
};

TEST_F(StoreReleaseWhileReading, TranscriptionKeepsItsFilesAndItsResultsWhateverTheThreads) {
  std::vector<TranscriberResult> reference;
  for (int threads : {1, 3}) {
    SCOPED_TRACE("threads=" + std::to_string(threads));
    install();
    auto results = transcribeReleasing(threads);
    StoreState state = readStoreState(storeRoot());
    EXPECT_TRUE(state.models.empty()) << "the last reader deletes the released model";
    EXPECT_TRUE(state.staging.empty()) << testing::PrintToString(state.staging);
    EXPECT_TRUE(state.reserved.empty());
    if (threads == 1) {
      reference = results;
      ASSERT_GE(reference.size(), 5u) << sphinx::testing::joinedText(reference);
      continue;
    }
    ASSERT_EQ(results.size(), reference.size()) << sphinx::testing::joinedText(results);
    for (std::size_t i = 0; i < reference.size(); ++i) {
      EXPECT_EQ(results[i].text, reference[i].text);
      EXPECT_EQ(results[i].range.start, reference[i].range.start);
      EXPECT_EQ(results[i].range.end, reference[i].range.end);
    }
  }
}

// A released model stays for its reader; a reader that dies leaves it
// retired (released, not installed), and the next store to open deletes it.
TEST_F(StoreReleaseWhileReading, ReleasedModelStaysForItsReaderAndGoesWithTheNextStore) {
  install();
  int ready[2];
  int finish[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(finish), 0);
  pid_t reader = fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) {
    auto lease = makeModelStore()->readModel(Locale("en_GB"));
    char byte = lease ? '1' : '0';
    if (write(ready[1], &byte, 1) != 1 || read(finish[0], &byte, 1) != 1) _exit(2);
    _exit(0);  // dies holding the lease: its lock goes with the process
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, '1');
  auto store = makeModelStore();
  fs::path dictionary = storeRoot() / "models" / "en_GB" / "en-gb" / "dict";
  ASSERT_TRUE(fs::exists(dictionary));
  EXPECT_TRUE(store->release(Locale("en_GB")));
  EXPECT_TRUE(fs::exists(dictionary)) << "deleted while it was read";
  EXPECT_FALSE(store->installedModel(Locale("en_GB")));
  EXPECT_EQ(store->readModel(Locale("en_GB")), nullptr);
  EXPECT_EQ(store->status(modules({"en_GB"})), AssetStatus::supported);
  makeModelStore();  // a store opening meanwhile leaves it to the reader
  EXPECT_TRUE(fs::exists(dictionary));

  ASSERT_EQ(write(finish[1], "x", 1), 1);
  int status = -1;
  waitpid(reader, &status, 0);
  EXPECT_EQ(status, 0);
  for (int fd : {ready[0], ready[1], finish[0], finish[1]}) close(fd);
  EXPECT_TRUE(fs::exists(dictionary)) << "nobody was left to delete it";
  makeModelStore();
  EXPECT_FALSE(fs::exists(dictionary));
  StoreState state = readStoreState(storeRoot());
  EXPECT_TRUE(state.models.empty());
  EXPECT_TRUE(state.staging.empty()) << testing::PrintToString(state.staging);
}

}  // namespace
}  // namespace tolva::store::test
