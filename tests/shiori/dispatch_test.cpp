#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "support/ghost_fixture.h"
#include "support/host_block.h"
#include "shiori/shiori_server.h"

namespace zelka {
namespace {

using testing::ConfigOptions;
using testing::CurrentDirectory;
using testing::TempGhost;
using testing::knowledgeBlock;
using testing::knowledgeFile;
using testing::makeConfig;

using testing::mallocCopy;

// Loads a server on a temporary ghost and sends requests through the exported functions'
// bodies, with the memory-block conventions of the host.
class DispatchTest : public ::testing::Test {
 protected:
  void start(const std::string& config = makeConfig(), std::string_view knowledge = {}) {
    ghost = std::make_unique<TempGhost>(config);
    if (!knowledge.empty()) ghost->write("vender/test.tlk", knowledgeFile(knowledge));
    cwd = std::make_unique<CurrentDirectory>(ghost->dir());
    server = std::make_unique<ShioriServer>();
    loadResult = server->exportLoad(mallocCopy(ghost->dir()), static_cast<long>(ghost->dir().size()));
  }
  void TearDown() override {
    if (server) server->exportUnload();
    server.reset();
    cwd.reset();
    ghost.reset();
  }

  std::string send(std::string_view text) {
    long len = static_cast<long>(text.size());
    void* response = server->exportRequest(mallocCopy(text), &len);
    if (response == nullptr) return "(null)";
    std::string out(static_cast<const char*>(response), static_cast<std::size_t>(len));
    std::free(response);
    return out;
  }
  static std::string statusLine(const std::string& response) {
    return response.substr(0, response.find("\r\n"));
  }
  std::string variable(std::string_view name) {
    std::string value;
    server->variables().getVariable(name, value);
    return value;
  }

  std::unique_ptr<TempGhost> ghost;
  std::unique_ptr<CurrentDirectory> cwd;
  std::unique_ptr<ShioriServer> server;
  int loadResult = -1;
};

TEST_F(DispatchTest, EveryCommandAnswersOnlyItsListedVersions) {
  start(makeConfig(), knowledgeBlock("Unused", "x"));
  ASSERT_EQ(loadResult, 1);
  struct Row {
    const char* command;
    const char* headers;
    std::set<std::string> versions;
    const char* status;
  };
  const Row rows[] = {
      {"NOTIFY", "Ghost: g\r\n", {"SHIORI/2.0"}, "200 OK"},
      {"GET Version", "", {"SHIORI/2.0"}, "200 OK"},
      {"GET Status", "", {"SHIORI/2.0"}, "200 OK"},
      {"GET Word", "Type: w\r\n", {"SHIORI/2.0"}, "200 OK"},
      {"GET Sentence", "", {"SHIORI/2.0", "SHIORI/2.2", "SHIORI/2.3"}, "204 No Content"},
      {"TEST", "", {"SHIORI/2.0", "SHIORI/2.2"}, "204 No Content"},
      {"NOTIFY OwnerGhostName", "Ghost: g\r\n", {"SHIORI/2.3"}, "200 OK"},
      {"NOTIFY OtherGhostName", "", {"SHIORI/2.3"}, "200 OK"},
      {"GET String", "ID: none\r\n", {"SHIORI/2.5"}, "204 No Content"},
      {"GET Think", "", {"SHIORI/2.0"}, "200 OK"},
      {"GET Unknown", "", {}, ""},
      {"get version", "", {}, ""},
  };
  const char* versions[] = {"SHIORI/2.0", "SHIORI/2.2", "SHIORI/2.3", "SHIORI/2.5",
                            "SHIORI/2.6", "SHIORI/3.0", "shiori/2.0"};
  for (const Row& row : rows) {
    for (const char* version : versions) {
      std::string response =
          send(std::string(row.command) + " " + version + "\r\n" + row.headers + "\r\n");
      bool listed = row.versions.count(version) > 0;
      std::string expected = std::string("SHIORI/2.6 ") + (listed ? row.status : "501 Not Implemented");
      // A SHIORI/3.0 request line is read as 3.0, whose methods are GET and NOTIFY only.
      if (std::string(version) == "SHIORI/3.0") expected = "SHIORI/3.0 400 Bad Request";
      EXPECT_EQ(statusLine(response), expected) << row.command << " " << version;
      EXPECT_NE(response.find("Charset: Shift_JIS\r\n"), std::string::npos)
          << row.command << " " << version;
      EXPECT_EQ(response.substr(response.size() - 4), "\r\n\r\n");
    }
  }
}

TEST_F(DispatchTest, UnsupportedVersionGetsThePreamble) {
  start();
  EXPECT_EQ(send("GET Version SHIORI/2.6\r\n\r\n"),
            "SHIORI/2.6 501 Not Implemented\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(DispatchTest, MissingCommandOrVersionIsAnInternalError) {
  start();
  const char* texts[] = {"GET \r\n\r\n", " SHIORI/2.0\r\n\r\n", "nospace\r\n\r\n", "\x01\x01"};
  for (const char* text : texts) {
    EXPECT_EQ(send(text), "SHIORI/2.6 500 Internal Server Error\r\n\r\n") << text;
  }
}

TEST_F(DispatchTest, OwnerGhostNameComesFromTheGhostHeader) {
  start();
  EXPECT_EQ(server->ownerGhostName(), "Zelka");
  EXPECT_EQ(send("NOTIFY SHIORI/2.0\r\n\r\n"), "SHIORI/2.6 400 Bad Request\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(server->ownerGhostName(), "Zelka");
  EXPECT_EQ(send("NOTIFY SHIORI/2.0\r\nGhost: Sakura\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(server->ownerGhostName(), "Sakura");
  send("NOTIFY OwnerGhostName SHIORI/2.3\r\nGhost: \x82\xb3\x82\xad\x82\xe7\r\n\r\n");
  EXPECT_EQ(server->ownerGhostName(), "\x82\xb3\x82\xad\x82\xe7");
  send("NOTIFY OwnerGhostName SHIORI/2.0\r\nGhost: Other\r\n\r\n");   // 501: unchanged
  EXPECT_EQ(server->ownerGhostName(), "\x82\xb3\x82\xad\x82\xe7");
}

TEST_F(DispatchTest, VersionReportsTheConfiguredLocale) {
  ConfigOptions o;
  o.locale = "Japanese";
  start(makeConfig(o));
  EXPECT_EQ(send("GET Version SHIORI/2.0\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nLocale: Japanese\r\nLanguage: Japanese\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(DispatchTest, VersionWithoutLocaleLeavesBothLinesOut) {
  ConfigOptions o;
  o.locale = "";
  start(makeConfig(o));
  EXPECT_EQ(send("GET Version SHIORI/2.0\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(DispatchTest, StatusReportsTheCounters) {
  start();
  EXPECT_EQ(send("GET Status SHIORI/2.0\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nStatus: 0,0,0,0,0,0\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(DispatchTest, WordRunsTheTypeAsAScript) {
  start();
  EXPECT_EQ(send("GET Word SHIORI/2.0\r\nType: %if(1){yes}else{no}\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nWord: yes\r\nCharset: Shift_JIS\r\n\r\n");
  // Only the chain's own parts take braces: "elsewhere" reports itself, the tail stays.
  const std::string word = send("GET Word SHIORI/2.0\r\nType: %if(0){a}elsewhere[x] tail\r\n\r\n");
  EXPECT_TRUE(word.starts_with("SHIORI/2.6 200 OK\r\nWord: \"\\n\"<!-- Zelka Script Error\"\\n\""
                               "\"+elsewhere[x]\"\"\\n\"")) << word;
  EXPECT_TRUE(word.ends_with("-->\"\\n\" tail\r\nCharset: Shift_JIS\r\n\r\n")) << word;
  EXPECT_EQ(send("GET Word SHIORI/2.0\r\nType: %if(0){yes}\r\n\r\n"),
            "SHIORI/2.6 204 No Content\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(send("GET Word SHIORI/2.0\r\n\r\n"),
            "SHIORI/2.6 400 Bad Request\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(send("GET Word SHIORI/2.0\r\nType: \r\n\r\n"),
            "SHIORI/2.6 400 Bad Request\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(DispatchTest, OtherGhostNamesFillHere) {
  start();
  EXPECT_EQ(send("NOTIFY OtherGhostName SHIORI/2.3\r\nGhost: x\r\nGhostEx: A\r\nGhostEx: B\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(variable("__Here"), "\"A\x81\x41" "B\x81\x41\"");   // a Name value is stored quoted

  // Without Ghost: still 200, and "__Here" is left as it was.
  EXPECT_EQ(send("NOTIFY OtherGhostName SHIORI/2.3\r\nGhostEx: C\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(variable("__Here"), "\"A\x81\x41" "B\x81\x41\"");

  // With Ghost: but no GhostEx: the list is empty.
  send("NOTIFY OtherGhostName SHIORI/2.3\r\nGhost: x\r\n\r\n");
  EXPECT_EQ(variable("__Here"), "");
}

TEST_F(DispatchTest, StringResourceRunsTheResourceEvent) {
  start(makeConfig(), knowledgeBlock("OnZelkaGetResource", "resource text"));
  EXPECT_EQ(send("GET String SHIORI/2.5\r\nID: homeurl\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nString: resource text\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(variable("__ID"), "\"homeurl\"");   // a Name value is stored quoted
  EXPECT_EQ(send("GET String SHIORI/2.5\r\n\r\n"),
            "SHIORI/2.6 400 Bad Request\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(variable("__ID"), "");
}

TEST_F(DispatchTest, StringResourceWithoutScriptIsNoContentAndKeepsTheId) {
  start();
  EXPECT_EQ(send("GET String SHIORI/2.5\r\nID: 42\r\n\r\n"),
            "SHIORI/2.6 204 No Content\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(variable("__ID"), "42");
}

TEST_F(DispatchTest, StringResourceFollowsTheEventRename) {
  ConfigOptions o;
  o.sections =
      "  <EventRename>\r\n"
      "    <Rename name=\"OnZelkaGetResource\" rename=\"OnMyResource\"/>\r\n"
      "  </EventRename>\r\n";
  start(makeConfig(o), knowledgeBlock("OnMyResource", "renamed") +
                           knowledgeBlock("OnZelkaGetResource", "original"));
  EXPECT_EQ(send("GET String SHIORI/2.5\r\nID: a\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nString: renamed\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST_F(DispatchTest, RequestHeadersNeverSurviveIntoTheResponse) {
  start();
  EXPECT_EQ(send("GET Status SHIORI/2.0\r\nSentence: x\r\nWord: y\r\nSender: z\r\n\r\n"),
            "SHIORI/2.6 200 OK\r\nStatus: 0,0,0,0,0,0\r\nCharset: Shift_JIS\r\n\r\n");
}

}  // namespace
}  // namespace zelka
