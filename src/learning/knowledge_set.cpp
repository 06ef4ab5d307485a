#include "learning/knowledge_set.h"

#include <utility>

#include "config/zelka_config.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"
#include "script/think_codes.h"
#include "util/number_text.h"

namespace zelka {
namespace {

// The think wait the configuration gives when it names none.
constexpr int kDefaultThinkWait = 5;
// The configured think wait is read from at most this many bytes of its narrow text.
constexpr std::size_t kThinkWaitTextLimit = 19;

template <typename Store>
bool loadStore(Store& store, const std::u16string& path) {
  try {
    return store.load(path);
  } catch (const XmlError&) {
    return false;
  }
}

bool saveStore(XmlDocument& store) {
  try {
    return store.save();
  } catch (const XmlError&) {
    return false;
  }
}

// Tells the author why a store did not load as it was: a file that did not load at all, or a
// broken file kept aside for a fresh, empty store.
void reportStoreLoad(ProblemList* problems, const XmlDocument& store, bool loaded,
                     const std::string& where, const std::u16string& moduleDirectory) {
  if (problems == nullptr) return;
  const XmlOpenProblem& problem = store.openProblem();
  if (loaded) {
    if (problem.keptAsidePath.empty()) return;
    std::u16string aside = problem.keptAsidePath;
    if (aside.starts_with(moduleDirectory)) aside.erase(0, moduleDirectory.size());
    problems->report({Problem::Severity::Error, where,
                      "cannot be read (" + problem.reason + "); it was kept aside as " +
                          toNarrow(aside) +
                          " and an empty store took its place: what the ghost learned in it "
                          "is not in use until the file is mended and put back"});
    return;
  }
  if (!problem.empty()) {
    problems->report({Problem::Severity::Error, where,
                      "cannot be loaded (" + problem.reason +
                          "); the ghost does not start until it can"});
    return;
  }
  problems->report({Problem::Severity::Error, where,
                    "a fresh store cannot be written there (is the learning directory "
                    "writable?); the ghost does not start until it can"});
}

}  // namespace

KnowledgeSet::KnowledgeSet()
    : random_(static_cast<std::uint32_t>(secondsSinceEpoch())), think_(bind_) {}

// Members go in reverse order of declaration: the think thread is stopped and joined first,
// then the neuron network, the sentence journal, the word index and the bind network each
// save themselves to their files.
KnowledgeSet::~KnowledgeSet() = default;

bool KnowledgeSet::load(const std::u16string& moduleDirectory, const ZelkaConfig* config,
                        ProblemList* problems) {
  if (config == nullptr) return false;
  config_ = config;
  // The configured value is appended as it stands: it carries its own trailing separator.
  learningDirectory_ = moduleDirectory + config->directory(u"Directory", u"learning");
  // One level, and an existing directory is fine. A path the path encoding cannot hold would
  // be cut short and name some other directory, so it is left alone (the stores then fail to
  // load from it).
  if (std::optional<std::string> directory = pathFromWide(learningDirectory_)) {
    makeDirectory(*directory);
  }

  learningName_ = toNarrow(config->directory(u"Directory", u"learning"));
  auto loadOne = [&](auto& store, const char* fileName) {
    const bool loaded = loadStore(store, learningDirectory_ + toWide(fileName));
    reportStoreLoad(problems, store, loaded, learningName_ + fileName, moduleDirectory);
    return loaded;
  };
  bool ok = loadOne(bind_, "bind.xml");
  ok = loadOne(index_, "index.xml") && ok;
  ok = loadOne(journal_, "journal.xml") && ok;
  ok = loadOne(neurons_, "neuron.xml") && ok;

  if (ok) {
    std::string wait = toNarrow(config->profile(u"think_wait"));
    if (wait.size() > kThinkWaitTextLimit) wait.resize(kThinkWaitTextLimit);
    think_.setThinkWait(parseInt32Prefix(wait));
  } else {
    // A store that failed to load leaves the set usable; thinking then gets the default wait
    // rather than whatever an earlier load left.
    think_.setThinkWait(kDefaultThinkWait);
  }
  return ok;
}

unsigned KnowledgeSet::saveStores() {
  unsigned written = 0;
  if (saveStore(bind_)) written |= kBindStore;
  if (saveStore(index_)) written |= kIndexStore;
  if (saveStore(journal_)) written |= kJournalStore;
  if (saveStore(neurons_)) written |= kNeuronStore;
  return written;
}

bool KnowledgeSet::snapshotChanged(std::vector<StoreSnapshot>& out) const {
  if (think_.thinkPhase() == kThinkRunning || think_.threadRunning()) return false;
  const XmlDocument* stores[] = {&bind_, &index_, &journal_, &neurons_};
  for (int i = 0; i < 4; ++i) {
    const XmlDocument& store = *stores[i];
    if (!store.hasUnsavedEdits() || store.readOnly()) continue;
    StoreSnapshot snapshot;
    snapshot.store = i;
    snapshot.edits = store.editCount();
    // A path the path encoding cannot hold would name another file: left empty.
    snapshot.path = pathFromWide(store.boundPath()).value_or(std::string());
    snapshot.bytes = store.serialize();
    out.push_back(std::move(snapshot));
  }
  return true;
}

void KnowledgeSet::markSaved(const StoreSnapshot& written) {
  XmlDocument* stores[] = {&bind_, &index_, &journal_, &neurons_};
  if (written.store >= 0 && written.store < 4) stores[written.store]->markSaved(written.edits);
}

bool KnowledgeSet::saveAndClose(ProblemList* problems) {
  think_.acceptThinking(kThinkReady);
  bool ok = true;
  auto saveOne = [&](XmlDocument& store) {
    // A store that never loaded has nothing of this session to write.
    if (!store.hasDocument() || store.boundPath().empty()) return;
    if (!saveStore(store)) {
      ok = false;
      if (problems != nullptr) {
        std::u16string name = store.boundPath();
        name.erase(0, name.find_last_of(u"/\\") + 1);
        problems->report({Problem::Severity::Critical, learningName_ + toNarrow(name),
                          "cannot be written (is the learning directory writable, the disk "
                          "not full?); what the ghost learned in it this session is lost, the "
                          "file keeps what it held before"});
      }
    }
    store.close();
  };
  saveOne(neurons_);
  saveOne(journal_);
  saveOne(index_);
  saveOne(bind_);
  return ok;
}

std::int32_t KnowledgeSet::randomUpTo(std::uint32_t n) {
  if (n == 0) return 0;
  return static_cast<std::int32_t>(1 + random_.next() % n);
}

}  // namespace zelka
