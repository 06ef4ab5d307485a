// Shared set-up of the interpreter tests: an engine over its own evaluator, knowledge base,
// event context, seeded generator and a log in a temporary directory, with a scripted stand-in
// for the learned knowledge.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/text_codec.h"
#include "script/log_sink.h"
#include "script/script_engine.h"

namespace zelka {
namespace testing_support {

class FakeQueries : public KnowledgeQueries {
 public:
  bool associateCall(const std::u16string& argument, std::u16string& word) override {
    associateArguments.push_back(argument);
    auto it = associations.find(argument);
    if (it == associations.end()) return false;
    word = it->second;
    return true;
  }
  bool unifyCall(const std::u16string& argument, std::u16string& word, bool swap) override {
    unifyArguments.emplace_back(argument, swap);
    auto it = unifications.find(argument);
    if (it == unifications.end()) return false;
    word = it->second;
    return true;
  }
  int thinkNow(const std::u16string& sender, const std::u16string& securityLevel,
               const std::u16string& text, std::deque<std::u16string>& segments) override {
    thinkCalls.push_back({sender, securityLevel, text});
    for (const auto& s : segmentsToReturn) segments.push_back(s);
    return 1;
  }
  int acceptThinking(int level) override {
    acceptLevels.push_back(level);
    return level >= 1 ? level : 1;
  }
  int thinkResult() const override { return result; }

  std::map<std::u16string, std::u16string> associations;
  std::map<std::u16string, std::u16string> unifications;
  std::deque<std::u16string> segmentsToReturn;
  int result = 0;

  std::vector<std::u16string> associateArguments;
  std::vector<std::pair<std::u16string, bool>> unifyArguments;
  std::vector<std::vector<std::u16string>> thinkCalls;
  std::vector<int> acceptLevels;
};

// Keeps what the engine logs in memory.
class CollectingLog : public LogSink {
 public:
  void write(std::string_view text) override { this->text += text; }
  void writeWide(std::u16string_view text) override { this->text += toNarrow(text); }
  std::string text;
};

class ScriptEngineTest : public ::testing::Test {
 protected:
  ScriptEngineTest() {
    static std::atomic<int> serial{0};
    directory_ = std::filesystem::temp_directory_path() /
                 ("zelka-script-" +
                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                  "-" + std::to_string(serial++));
    std::filesystem::create_directories(directory_);
  }
  ~ScriptEngineTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  // Expands a script and applies the final clean-up, as talk selection does.
  std::string talk(std::string_view script) {
    std::string out;
    engine.runScript(script, out);
    return ScriptEngine::stripScriptQuotes(out);
  }
  std::string raw(std::string_view script) {
    std::string out;
    engine.runScript(script, out);
    return out;
  }

  VariableTable& vars() { return evaluator.variables(); }
  std::string variable(std::string_view name) {
    std::string value;
    vars().getVariable(name, value);
    return value;
  }

  void addEntry(const std::string& token, const std::string& script,
                const std::string& conditional = "1", const std::string& conditionalElse = "") {
    KnowledgeEntry entry;
    entry.token = token;
    entry.script = script;
    entry.conditional = conditional;
    entry.conditionalElse = conditionalElse;
    entry.source = "test.tlk";
    knowledge.emplace(token, entry);
  }

  // Loads variables exactly as written (the variable file stores values unquoted).
  void loadRawVariables(const std::vector<std::pair<std::string, std::string>>& entries) {
    const std::filesystem::path file = directory_ / "reflex.txt";
    {
      std::ofstream out(file, std::ios::binary);
      for (const auto& [name, value] : entries) out << name << '\x01' << value << '\n';
    }
    ASSERT_TRUE(vars().loadVariables(file.string()));
  }

  void openLog(int runLevel) { engine.setRunLevel(runLevel); }
  // What the engine logged, with line ends as written by scripts ("\n").
  const std::string& logText() const { return log.text; }

  std::filesystem::path directory_;
  FormulaEvaluator evaluator;
  KnowledgeBase knowledge;
  EventContext event;
  Mt19937 random{20240611u};
  CollectingLog log;
  ScriptEngine engine{evaluator, knowledge, event, random, log};
  FakeQueries queries;
};

// The report a failing element leaves in the finished talk.
inline std::string finalReport(std::string_view elementText, int code) {
  std::string report = "\\n<!-- Zelka Script Error\\n";
  report += elementText;
  report += "\\n";
  if (code == 2) {
    report +=
        "\x83\x66\x81\x5b\x83\x5e\x8c\x5e\x82\xaa\x94\xbb\x95\xca\x82\xc5\x82\xab\x82\xdc\x82\xb9"
        "\x82\xf1\x81\x42\\n";
    report +=
        "tavi \x82\xc9\x95\xb6\x8b\xe5\x8c\xbe\x82\xc1\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2"
        "\x81\x42\\n";
  } else {
    report += "\x92\x75\x8a\xb7\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42\\n";
    report +=
        "\x8b\x4c\x8f\x71\x95\xfb\x96\x40\x82\xf0\x8a\x6d\x94\x46\x82\xb5\x82\xc4\x82\xad\x82\xbe"
        "\x82\xb3\x82\xa2\x81\x42\\n";
  }
  report += "-->\\n";
  return report;
}

}  // namespace testing_support
}  // namespace zelka
