// Killing the module at random moments loses nothing. A child process loads a ghost, imports
// a new dictionary, hears a sentence, counts a variable up and unloads, over and over; the
// parent kills it with SIGKILL after a random (seeded) delay. After every kill each store
// must be a complete document (checked by xmllint, not by our own reader), every word of a
// dictionary whose import the child had finished, and every word of a dictionary that was
// moved into learned/, must still be in the word index, the counter must be at least what
// the last completed unload saved, and a fresh load must succeed and remove the temporary
// files an interrupted save left behind.
//
// The same holds for a session that is never unloaded but saves periodically: what a completed
// periodic save held (new words, the counter) survives every kill, also one that lands in the
// middle of the next save.
//
// ZELKA_CRASH_KILL_TRIALS sets the number of kills (20 by default).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ghost_fixture.h"
#include "shiori/shiori_server.h"

namespace zelka {
namespace {

namespace fs = std::filesystem;
using testing::TempGhost;

// The ghost; autosave: seconds between periodic saves.
std::string configWith(const std::string& autosave) {
  return "<?xml version='1.0' encoding='Shift_JIS'?>\r\n"
         "<ZelkaConfiguration>\r\n"
         "  <GhostProfile birthday=\"2001/05/03\" talk_interval=\"0\" listen_wait=\"16\""
         " think_wait=\"5\" autosave_interval=\"" + autosave + "\"/>\r\n"
         "  <RunEnvironment runlevel=\"0\">\r\n"
         "    <Directory type=\"vender\" name=\"vender/\"/>\r\n"
         "    <Directory type=\"learning\" name=\"_learning/\"/>\r\n"
         "  </RunEnvironment>\r\n"
         "</ZelkaConfiguration>\r\n";
}

constexpr const char* kStores[] = {"bind.xml", "index.xml", "journal.xml", "neuron.xml"};

int trialsWanted() {
  const char* text = std::getenv("ZELKA_CRASH_KILL_TRIALS");
  const int n = text != nullptr ? std::atoi(text) : 0;
  return n > 0 ? n : 20;
}

std::string dictionaryWord(int trial, int iteration, char which) {
  return "w" + std::to_string(trial) + "x" + std::to_string(iteration) + which;
}

std::string dictionaryText(int trial, int iteration) {
  return "[ZELKA DICTIONARY]\n[c" + std::to_string(trial) + "]\n" +
         dictionaryWord(trial, iteration, 'a') + " " + dictionaryWord(trial, iteration, 'b') +
         "\n";
}

// The words a dictionary file teaches (its entry lines; category lines excluded).
std::vector<std::string> wordsOfDictionary(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);   // header
  while (std::getline(lines, line)) {
    if (line.empty() || line.front() == '[') continue;
    std::istringstream split(line);
    std::string word;
    while (split >> word) words.push_back(word);
  }
  return words;
}

std::string request(ShioriServer& server, const std::string& text) {
  void* block = std::malloc(text.size());
  std::memcpy(block, text.data(), text.size());
  long length = static_cast<long>(text.size());
  void* response = server.exportRequest(block, &length);
  std::string out = response != nullptr ? std::string(static_cast<char*>(response)) : "";
  std::free(response);
  return out;
}

int loadGhost(ShioriServer& server, const std::string& directory) {
  void* block = std::malloc(directory.size());
  std::memcpy(block, directory.data(), directory.size());
  return server.exportLoad(block, static_cast<long>(directory.size()));
}

void report(int fd, const std::string& line) {
  const std::string text = line + "\n";
  if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(4);
}

// The child's endless session loop; it only ends by the parent's kill (or with a code that
// tells what went wrong).
[[noreturn]] void childWorkload(int fd, const std::string& dir, int trial) {
  ShioriServer server;
  for (int i = 0;; ++i) {
    // The dictionary appears whole: written aside, then renamed into place.
    const std::string name = dir + "vender/d" + std::to_string(trial) + "x" + std::to_string(i);
    {
      std::FILE* f = std::fopen((name + ".part").c_str(), "wb");
      if (f == nullptr) _exit(2);
      const std::string text = dictionaryText(trial, i);
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
      if (std::rename((name + ".part").c_str(), (name + ".mem").c_str()) != 0) _exit(2);
    }
    if (loadGhost(server, dir) != 1) _exit(3);
    report(fd, "I " + std::to_string(i));
    request(server, "GET Sentence SHIORI/2.2\r\nSender: Anna\r\nSecurityLevel: local\r\n"
                    "Sentence: h" + std::to_string(trial) + "y" + std::to_string(i) +
                    " heard\r\n\r\n");
    for (int s = 0; s < 2; ++s) {
      request(server, "GET Sentence SHIORI/2.2\r\nSender: SSP\r\nEvent: OnSecondChange\r\n"
                      "Reference0: 1\r\n\r\n");
    }
    const std::string counted =
        request(server, "GET Word SHIORI/2.0\r\nType: \\formula[count = count + 1]%reflex[count]"
                        "\r\n\r\n");
    const std::size_t word = counted.find("Word: ");
    const std::string count =
        word == std::string::npos ? "?" : counted.substr(word + 6, counted.find('\r', word) - word - 6);
    server.exportUnload();
    report(fd, "S " + std::to_string(i) + " " + count);
  }
}

std::string readAll(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  std::string text;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  std::fclose(f);
  return text;
}

// Runs a command; its exit status and standard output.
int run(const std::string& command, std::string* out = nullptr) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = pclose(pipe);
  if (out != nullptr) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The words of the word index as xmllint reads them.
std::set<std::string> indexedWords(const std::string& indexFile) {
  std::string out;
  run("xmllint --xpath '/WordIndexes/Index/@name' '" + indexFile + "' 2>/dev/null", &out);
  std::set<std::string> words;
  std::size_t pos = 0;
  while ((pos = out.find("name=\"", pos)) != std::string::npos) {
    const std::size_t end = out.find('"', pos + 6);
    words.insert(out.substr(pos + 6, end - pos - 6));
    pos = end;
  }
  return words;
}

// Files under dir whose names contain the marker.
std::vector<std::string> filesContaining(const std::string& dir, const std::string& marker) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
    if (entry.path().filename().string().find(marker) != std::string::npos) {
      found.push_back(entry.path().string());
    }
  }
  return found;
}

double variableValue(const std::string& reflexFile, const std::string& name) {
  std::istringstream lines(readAll(reflexFile));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.starts_with(name + '\x01')) return std::strtod(line.c_str() + name.size() + 1, nullptr);
  }
  return 0;
}

// Runs the workload in a child process and kills it with SIGKILL after the delay; what the
// child reported through its pipe until then, or nullopt (with a failure) when it ended by
// itself.
template <typename Workload>
std::optional<std::string> runAndKill(int trial, int delayMs, Workload workload) {
  int fds[2];
  if (::pipe(fds) != 0) {
    ADD_FAILURE() << "no pipe";
    return std::nullopt;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "no fork";
    return std::nullopt;
  }
  if (pid == 0) {
    ::close(fds[0]);
    workload(fds[1]);
  }
  ::close(fds[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  ::kill(pid, SIGKILL);
  int status = 0;
  const bool killed =
      ::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  std::string messages;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) messages.append(buffer, n);
  ::close(fds[0]);
  if (!killed) {
    ADD_FAILURE() << "trial " << trial << ": the child ended by itself with status " << status;
    return std::nullopt;
  }
  return messages;
}

// Every store is a complete document by an independent reader.
void expectCompleteStores(int trial, const std::string& learning) {
  for (const char* store : kStores) {
    const std::string file = learning + store;
    if (!fs::exists(file)) continue;
    EXPECT_EQ(run("xmllint --noout '" + file + "' 2>&1"), 0)
        << "trial " << trial << ": " << store << " is not a complete document";
  }
}

// A fresh load succeeds, keeps nothing aside and removes the leftovers of a killed save.
void expectCleanFreshLoad(int trial, const std::string& dir) {
  ShioriServer server;
  ASSERT_EQ(loadGhost(server, dir), 1) << "trial " << trial;
  for (const std::string& left : filesContaining(dir, ".zelka-tmp")) {
    ADD_FAILURE() << "trial " << trial << ": " << left << " survived the load";
  }
  EXPECT_TRUE(filesContaining(dir, ".broken-").empty())
      << "trial " << trial << ": a store was found broken";
  server.exportUnload();
}

TEST(CrashKillTest, KillsAtRandomMomentsLoseNothing) {
  if (run("command -v xmllint >/dev/null") != 0) GTEST_SKIP() << "xmllint is not installed";
  const int trials = trialsWanted();
  TempGhost ghost(configWith("600"));
  const std::string dir = ghost.dir();
  const std::string learning = dir + "_learning/";
  std::mt19937 random(20261208u);
  std::uniform_int_distribution<int> delayMs(1, 1200);

  std::set<std::string> mustHave;   // words whose import finished before the kill
  double savedCount = 0;            // the counter the last completed unload saved
  int losses = 0;
  int temporariesSeen = 0;
  int completedSessions = 0;

  for (int trial = 0; trial < trials; ++trial) {
    const std::optional<std::string> messages =
        runAndKill(trial, delayMs(random), [&](int fd) { childWorkload(fd, dir, trial); });
    ASSERT_TRUE(messages);
    std::istringstream lines(*messages);
    std::string kind;
    int iteration = 0;
    while (lines >> kind >> iteration) {
      if (kind == "I") {
        mustHave.insert(dictionaryWord(trial, iteration, 'a'));
        mustHave.insert(dictionaryWord(trial, iteration, 'b'));
      } else {
        std::string count;
        lines >> count;
        savedCount = std::strtod(count.c_str(), nullptr);
        ++completedSessions;
      }
    }

    expectCompleteStores(trial, learning);
    // Nothing learned is lost: the finished imports, and every dictionary already moved
    // into learned/ (it will never be read again).
    std::set<std::string> expected = mustHave;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir + "vender/learned", ec)) {
      for (const std::string& word : wordsOfDictionary(readAll(entry.path().string()))) {
        expected.insert(word);
      }
    }
    if (!expected.empty()) {
      const std::set<std::string> indexed = indexedWords(learning + "index.xml");
      int missing = 0;
      for (const std::string& word : expected) {
        if (!indexed.contains(word)) {
          ADD_FAILURE() << "trial " << trial << ": the word " << word << " was lost ("
                        << (mustHave.contains(word) ? "its import had finished"
                                                    : "its dictionary was in learned/")
                        << ")";
          ++missing;
        }
      }
      if (missing > 0) ++losses;
    }
    if (fs::exists(learning + "reflex.txt")) {
      EXPECT_GE(variableValue(learning + "reflex.txt", "count"), savedCount)
          << "trial " << trial << ": the saved counter went back";
    }
    temporariesSeen += static_cast<int>(filesContaining(dir, ".zelka-tmp").size());

    expectCleanFreshLoad(trial, dir);
    if (::testing::Test::HasFailure()) break;
  }

  std::printf("crash-kill: %d trials, %d completed sessions, %zu words imported before a kill, "
              "%d temporary files left by kills (all removed at the next load), %d losses\n",
              trials, completedSessions, mustHave.size(), temporariesSeen, losses);
  EXPECT_EQ(losses, 0);
}

// A session that is never unloaded, saving every second: each round hears a sentence, meets a
// new word (association gives it a concept), counts a variable up and lets seconds pass until a
// periodic save has taken all of it; once the save is on disk it tells the parent what it held.
[[noreturn]] void autosavingWorkload(int fd, const std::string& dir, int trial) {
  ShioriServer server;
  if (loadGhost(server, dir) != 1) _exit(3);
  for (int i = 0;; ++i) {
    request(server, "GET Sentence SHIORI/2.2\r\nSender: Anna\r\nSecurityLevel: local\r\n"
                    "Sentence: h" + std::to_string(trial) + "y" + std::to_string(i) +
                    " heard\r\n\r\n");
    request(server, "GET Word SHIORI/2.0\r\nType: %ms[" + dictionaryWord(trial, i, 'k') +
                    "]\r\n\r\n");
    const std::string counted =
        request(server, "GET Word SHIORI/2.0\r\nType: \\formula[count = count + 1]%reflex[count]"
                        "\r\n\r\n");
    const std::size_t word = counted.find("Word: ");
    if (word == std::string::npos) _exit(5);
    const std::string count = counted.substr(word + 6, counted.find('\r', word) - word - 6);
    // A pass still running on the heard sentence puts the save off to a later second (each
    // second also counts towards the think wait that ends the pass).
    const std::uint64_t saves = server.autosave().savesStarted();
    while (server.autosave().savesStarted() == saves) {
      request(server, "GET Sentence SHIORI/2.2\r\nSender: SSP\r\nEvent: OnSecondChange\r\n"
                      "Reference0: 1\r\n\r\n");
    }
    server.autosave().waitForWriter();   // the save is on disk from here on
    report(fd, "A " + std::to_string(i) + " " + count);
  }
}

TEST(CrashKillTest, KilledAfterAPeriodicSaveKeepsWhatWasLearnedBeforeIt) {
  if (run("command -v xmllint >/dev/null") != 0) GTEST_SKIP() << "xmllint is not installed";
  const int trials = trialsWanted();
  TempGhost ghost(configWith("1"));
  const std::string dir = ghost.dir();
  const std::string learning = dir + "_learning/";
  std::mt19937 random(20261209u);
  std::uniform_int_distribution<int> delayMs(1, 1200);

  std::set<std::string> mustHave;   // words met before a periodic save that completed
  double savedCount = 0;            // the counter the last completed save held
  int saves = 0;
  for (int trial = 0; trial < trials; ++trial) {
    const std::optional<std::string> messages = runAndKill(
        trial, delayMs(random), [&](int fd) { autosavingWorkload(fd, dir, trial); });
    ASSERT_TRUE(messages);
    std::istringstream lines(*messages);
    std::string kind, count;
    int round = 0;
    while (lines >> kind >> round >> count) {
      mustHave.insert(dictionaryWord(trial, round, 'k'));
      savedCount = std::strtod(count.c_str(), nullptr);
      ++saves;
    }

    expectCompleteStores(trial, learning);
    if (!mustHave.empty()) {
      const std::set<std::string> indexed = indexedWords(learning + "index.xml");
      for (const std::string& word : mustHave) {
        EXPECT_TRUE(indexed.contains(word)) << "trial " << trial << ": the word " << word
                                            << " met before a completed save was lost";
      }
      EXPECT_GE(variableValue(learning + "reflex.txt", "count"), savedCount)
          << "trial " << trial << ": the counter of a completed save went back";
    }
    expectCleanFreshLoad(trial, dir);
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("crash-kill with periodic saves: %d trials, %d saves completed before a kill, "
              "%zu words met\n", trials, saves, mustHave.size());
  EXPECT_GT(saves, 0) << "no periodic save completed before any kill";
}

}  // namespace
}  // namespace zelka
