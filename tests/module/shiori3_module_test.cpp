// SHIORI/3.0 through the exported functions: every 3.0 request against the 2.x request it
// stands for (same talk, same variables, same learning), the charsets, refused requests,
// problems in the error headers and the version a host is told.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "module/mapped_module.h"
#include "support/ghost_fixture.h"

namespace zelka {
namespace {

using testing::ConfigOptions;
using testing::CurrentDirectory;
using testing::TempGhost;
using testing::knowledgeBlock;
using testing::knowledgeFile;
using testing::makeConfig;

// LF line ends in the literals below become CR LF; a request ends with an empty line.
std::string request(const std::string& lines) {
  std::string out;
  for (char c : lines) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out + "\r\n\r\n";
}

struct Response {
  std::string statusLine;
  std::map<std::string, std::string> headers;
  std::string header(const std::string& key) const {
    auto it = headers.find(key);
    return it == headers.end() ? std::string() : it->second;
  }
};

Response parse(const std::string& text) {
  Response response;
  std::size_t at = text.find("\r\n");
  response.statusLine = text.substr(0, at);
  while (at != std::string::npos && at + 2 < text.size()) {
    std::size_t end = text.find("\r\n", at + 2);
    std::string line = text.substr(at + 2, end - at - 2);
    at = end;
    if (line.empty()) break;
    std::size_t colon = line.find(": ");
    if (colon != std::string::npos) response.headers[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return response;
}

const std::string kKnowledge = knowledgeFile(
    knowledgeBlock("OnBoot", "\\0[0]boot/%ref0/%[__Sender]\\formula[boots = boots + 1]\\e") +
    knowledgeBlock("OnZelkaCommunicate", "\\0[0]heard/%[__Sentence]/%[__Sender]\\e") +
    knowledgeBlock("OnZelkaGetResource", "res/%[__ID]") +
    knowledgeBlock("OnMinuteChange", "\\0[0]others/%[__Here]/%ref0\\e"));

// What a session leaves: its answers, its variables and what it learned.
struct SessionResult {
  std::vector<std::string> responses;
  std::string variables;
  std::string bind;
  std::string index;
};

SessionResult runSession(const std::vector<std::string>& requests,
                         const ConfigOptions& options = {}) {
  TempGhost ghost(makeConfig(options));
  ghost.write("vender/talk.tlk", kKnowledge);
  CurrentDirectory cwd(ghost.dir());
  SessionResult result;
  {
    testing::MappedModule module;
    EXPECT_TRUE(module.ok());
    EXPECT_EQ(module.load(ghost.dir()), 1);
    for (const std::string& text : requests) result.responses.push_back(module.send(text));
    module.unload();
  }
  result.variables = ghost.read("_learning/reflex.txt");
  result.bind = ghost.read("_learning/bind.xml");
  result.index = ghost.read("_learning/index.xml");
  return result;
}

struct Pair {
  std::string three;
  std::string two;
};

// Each row of the mapping, in a session order in which later talk shows what earlier
// notifications changed.
const std::vector<Pair> kPairs = {
    {request("GET SHIORI/3.0\nID: version\nSender: SSP\nCharset: Shift_JIS"),
     request("GET Version SHIORI/2.0\nSender: SSP")},
    {request("NOTIFY SHIORI/3.0\nID: ownerghostname\nSender: SSP\nReference0: Mina"),
     request("NOTIFY OwnerGhostName SHIORI/2.3\nSender: SSP\nGhost: Mina")},
    {request("NOTIFY SHIORI/3.0\nID: otherghostname\nSender: SSP\nReference0: Ann\x01" "0\x01" "10\n"
             "Reference1: Bob\x01" "3\x01" "11"),
     request("NOTIFY OtherGhostName SHIORI/2.3\nSender: SSP\nGhost: Mina\nGhostEx: Ann\nGhostEx: Bob")},
    {request("GET SHIORI/3.0\nID: OnBoot\nSender: SSP\nSecurityLevel: local\nReference0: r0"),
     request("GET Sentence SHIORI/2.2\nSender: SSP\nEvent: OnBoot\nSecurityLevel: local\n"
             "Reference0: r0")},
    {request("GET SHIORI/3.0\nID: OnMinuteChange\nSender: SSP\nReference0: 7"),
     request("GET Sentence SHIORI/2.2\nSender: SSP\nEvent: OnMinuteChange\nReference0: 7")},
    {request("GET SHIORI/3.0\nID: OnCommunicate\nSender: SSP\nSecurityLevel: local\nAge: 2\n"
             "Reference0: Alice\nReference1: \x82\xA8\x82\xC8\x82\xA9\x82\xAA\x82\xB7\x82\xA2\x82\xBD"),
     request("GET Sentence SHIORI/2.3\nSender: Alice\nSecurityLevel: local\nAge: 2\n"
             "Sentence: \x82\xA8\x82\xC8\x82\xA9\x82\xAA\x82\xB7\x82\xA2\x82\xBD")},
    {request("GET SHIORI/3.0\nID: OnTeach\nSender: SSP\nReference0: word"),
     request("TEACH SHIORI/2.4\nSender: SSP\nWord: word")},
    {request("GET SHIORI/3.0\nID: OnTranslate\nSender: SSP\nReference0: \\0hi\\e"),
     request("TRANSLATE Sentence SHIORI/2.6\nSender: SSP\nSentence: \\0hi\\e")},
    {request("GET SHIORI/3.0\nID: username\nSender: SSP"),
     request("GET String SHIORI/2.5\nSender: SSP\nID: username")},
};

TEST(Shiori3Module, EveryRowAnswersAsItsTwoRequestAndChangesTheSame) {
  std::vector<std::string> three, two;
  for (const Pair& pair : kPairs) {
    three.push_back(pair.three);
    two.push_back(pair.two);
  }
  const SessionResult a = runSession(three);
  const SessionResult b = runSession(two);
  ASSERT_EQ(a.responses.size(), b.responses.size());
  for (std::size_t n = 0; n < a.responses.size(); ++n) {
    const Response r3 = parse(a.responses[n]);
    const Response r2 = parse(b.responses[n]);
    std::string expected = r2.statusLine.substr(r2.statusLine.find(' ') + 1);
    if (expected == "501 Not Implemented") expected = "204 No Content";
    EXPECT_EQ(r3.statusLine, "SHIORI/3.0 " + expected) << kPairs[n].three;
    const std::string talk = r2.header("Sentence") + r2.header("String");
    EXPECT_EQ(r3.header("Value"), talk) << kPairs[n].three;
    EXPECT_EQ(r3.header("Reference0"), r2.header("To")) << kPairs[n].three;
    EXPECT_EQ(r3.header("Age"), r2.header("Age")) << kPairs[n].three;
    EXPECT_EQ(r3.header("Charset"), "Shift_JIS");
    EXPECT_EQ(r3.header("Sender"), n == 0 ? "Zelka" : "Mina") << kPairs[n].three;
  }
  // Worked values: the notifications reached the later talk, the heard sentence was heard.
  EXPECT_EQ(parse(a.responses[3]).header("Value"), "\\0\\s[0]boot/r0/SSP\\e");
  EXPECT_EQ(parse(a.responses[4]).header("Value"), "\\0\\s[0]others/Ann\x81\x41" "Bob\x81\x41/7\\e");
  EXPECT_EQ(parse(a.responses[5]).header("Value"),
            "\\0\\s[0]heard/\x82\xA8\x82\xC8\x82\xA9\x82\xAA\x82\xB7\x82\xA2\x82\xBD/Alice\\e");
  EXPECT_EQ(parse(a.responses[5]).header("Age"), "3");
  EXPECT_EQ(parse(a.responses[8]).header("Value"), "res/username");
  EXPECT_EQ(a.variables, b.variables);
  EXPECT_NE(a.variables.find("boots"), std::string::npos);
  EXPECT_EQ(a.bind, b.bind);
  EXPECT_EQ(a.index, b.index);
}

TEST(Shiori3Module, Utf8IsReadAndAnsweredAndAHeardEmojiComesBack) {
  const std::string heard = "\xE3\x81\x82\xF0\x9F\x98\x80!";   // あ, an emoji, !
  const SessionResult result = runSession({
      request("GET SHIORI/3.0\nID: OnCommunicate\nCharset: UTF-8\nSender: SSP\nAge: 0\n"
              "Reference0: \xE3\x83\x9F\xE3\x83\x8A\nReference1: " + heard),
      // The same sentence asked about in Shift_JIS: the emoji stays its reference.
      request("GET SHIORI/3.0\nID: OnCommunicate\nCharset: Shift_JIS\nSender: SSP\nAge: 0\n"
              "Reference0: x\nReference1: \x82\xA0&#128512;!"),
  });
  const Response utf8 = parse(result.responses[0]);
  EXPECT_EQ(utf8.statusLine, "SHIORI/3.0 200 OK");
  EXPECT_EQ(utf8.header("Value"), "\\0\\s[0]heard/" + heard + "/\xE3\x83\x9F\xE3\x83\x8A\\e");
  EXPECT_EQ(utf8.header("Reference0"), "\xE3\x83\x9F\xE3\x83\x8A");
  EXPECT_EQ(utf8.header("Charset"), "UTF-8");
  const Response sjis = parse(result.responses[1]);
  EXPECT_EQ(sjis.header("Value"), "\\0\\s[0]heard/\x82\xA0&#128512;!/x\\e");
  EXPECT_EQ(sjis.header("Charset"), "Shift_JIS");
}

TEST(Shiori3Module, RefusedRequestsAnswer400AndLeaveNothingBehind) {
  const std::string sentence = "\nReference0: Alice\nReference1: \x82\xA8\x82\xC8\x82\xA9";
  std::string thousand = "GET SHIORI/3.0\nID: OnCommunicate\nAge: 0" + sentence;
  for (int n = 2; n < 1000; ++n) thousand += "\nReference" + std::to_string(n) + ": x";
  const std::vector<std::string> refused = {
      request("GET SHIORI/3.0\nSender: SSP" + sentence),
      request("PUT SHIORI/3.0\nID: OnCommunicate" + sentence),
      request("TEACH SHIORI/3.0\nID: OnTeach\nReference0: word"),
      request("GET SHIORI/3.0\nID: OnCommunicate\nCharset: ISO-2022-JP" + sentence),
      request("GET SHIORI/3.0\nID: OnCommunicate\nCharset: UTF-8\nReference0: Alice\n"
              "Reference1: \xE3\x81\x82\xC0\xAF"),
      request(thousand),
      request("GET SHIORI/3.0\nID: OnBoot\nEvent: OnBoot\nReference0: r0"),
      request("GET SHIORI/3.0\nID: OnCommunicate\nSentence: \x82\xA0" + sentence),
  };
  const SessionResult baseline = runSession({});
  const SessionResult result = runSession(refused);
  for (std::size_t n = 0; n < refused.size(); ++n) {
    const Response r = parse(result.responses[n]);
    EXPECT_EQ(r.statusLine, "SHIORI/3.0 400 Bad Request") << refused[n].substr(0, 60);
    EXPECT_EQ(r.header("ErrorLevel"), "error") << refused[n].substr(0, 60);
    EXPECT_FALSE(r.header("ErrorDescription").empty());
  }
  EXPECT_EQ(result.variables, baseline.variables);
  EXPECT_EQ(result.bind, baseline.bind);
  EXPECT_EQ(result.index, baseline.index);
}

TEST(Shiori3Module, PendingProblemsAreToldOnceInTheErrorHeaders) {
  ConfigOptions options;
  options.sections = "  <Protocol version=\"9.9\"/>\r\n";
  const std::string boot = request("GET SHIORI/3.0\nID: OnBoot\nReference0: r0");
  const SessionResult result =
      runSession({request("GET Version SHIORI/2.0"), boot, boot}, options);
  // The 2.x answer stays as it is; the problem waits for a 3.0 answer.
  EXPECT_EQ(result.responses[0],
            "SHIORI/2.6 200 OK\r\nLocale: Japanese\r\nLanguage: Japanese\r\n"
            "Charset: Shift_JIS\r\n\r\n");
  const Response first = parse(result.responses[1]);
  EXPECT_EQ(first.header("Value"), "\\0\\s[0]boot/r0/Nobody\\e");  // the talk is unchanged
  EXPECT_EQ(first.header("ErrorLevel"), "warning");
  EXPECT_NE(first.header("ErrorDescription").find("zelkaconf.xml: Protocol version=\"9.9\""),
            std::string::npos);
  EXPECT_EQ(parse(result.responses[2]).headers.count("ErrorLevel"), 0u);
}

TEST(Shiori3Module, TheProtocolSettingDecidesWhichVersionHostsAreTold) {
  const std::vector<std::string> asks = {request("GET Version SHIORI/2.6\nSender: SSP"),
                                         request("GET Version SHIORI/2.0\nSender: SSP")};
  const SessionResult plain = runSession(asks);
  EXPECT_EQ(plain.responses[0], "SHIORI/2.6 501 Not Implemented\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(parse(plain.responses[1]).statusLine, "SHIORI/2.6 200 OK");

  ConfigOptions options;
  options.sections = "  <Protocol version=\"3.0\"/>\r\n";
  const SessionResult three = runSession(asks, options);
  for (const std::string& response : three.responses) {
    EXPECT_EQ(response,
              "SHIORI/3.0 200 OK\r\nLanguage: Japanese\r\nLocale: Japanese\r\n"
              "Charset: Shift_JIS\r\nSender: Zelka\r\n\r\n");
  }
}

}  // namespace
}  // namespace zelka
