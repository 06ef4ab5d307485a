#include "learning/knowledge_set.h"

#include <utility>

#include "config/zelka_config.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"
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

}  // namespace

KnowledgeSet::KnowledgeSet()
    : random_(static_cast<std::uint32_t>(secondsSinceEpoch())), think_(bind_) {}

// Members go in reverse order of declaration: the think thread is stopped and joined first,
// then the neuron network, the sentence journal, the word index and the bind network each
// save themselves to their files.
KnowledgeSet::~KnowledgeSet() = default;

bool KnowledgeSet::load(const std::u16string& moduleDirectory, const ZelkaConfig* config) {
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

  bool ok = loadStore(bind_, learningDirectory_ + u"bind.xml");
  ok = loadStore(index_, learningDirectory_ + u"index.xml") && ok;
  ok = loadStore(journal_, learningDirectory_ + u"journal.xml") && ok;
  ok = loadStore(neurons_, learningDirectory_ + u"neuron.xml") && ok;

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

std::int32_t KnowledgeSet::randomUpTo(std::uint32_t n) {
  if (n == 0) return 0;
  return static_cast<std::int32_t>(1 + random_.next() % n);
}

}  // namespace zelka
