// SHIORI/3.0 requests mapped onto the 2.x requests they stand for, refusals, and the 3.0
// answers rendered from 2.x responses.
#include "shiori/shiori3.h"

#include <gtest/gtest.h>

#include <string>

#include "shiori/shiori_protocol.h"

namespace zelka {
namespace {

// The header list as "key value" lines in list order.
std::string dump(const ShioriMessage& message) {
  std::string out;
  for (const auto& [key, value] : message.entries()) out += key + " " + value + "\n";
  return out;
}

struct Mapped {
  Shiori3Request request;
  std::string headers;
};

Mapped mapText(const std::string& text, std::string_view owner = "Mina") {
  ShioriProtocol protocol;
  EXPECT_TRUE(protocol.parse(text));
  EXPECT_TRUE(isShiori3Request(protocol.message()));
  Shiori3Scratch scratch;
  Mapped mapped;
  mapped.request = mapShiori3Request(protocol.message(), owner, scratch);
  mapped.headers = dump(protocol.message());
  return mapped;
}

TEST(Shiori3Mapping, EachIdBecomesTheTwoRequestItStandsFor) {
  struct Case {
    const char* request;  // after the command line; CR LF line ends are added
    const char* command;
    const char* headers;  // the 2.x header list
  };
  const Case cases[] = {
      {"GET SHIORI/3.0\nID: version", "GET Version",
       "Charset: Shift_JIS\nID: version\nsstp_command: GET Version\nsstp_type: SHIORI/2.0\n"},
      {"GET SHIORI/3.0\nID: OnBoot\nSender: SSP\nReference0: 1\nReference7: x",
       "GET Sentence",
       "Charset: Shift_JIS\nEvent: OnBoot\nReference0: 1\nReference7: x\nSender: SSP\n"
       "sstp_command: GET Sentence\nsstp_type: SHIORI/2.2\n"},
      // The speaker and the sentence come from the first two references; the host's own
      // Sender line goes; Reference10 follows Reference2 by number, not by bytes.
      {"GET SHIORI/3.0\nID: OnCommunicate\nSender: SSP\nAge: 2\nReference0: Alice\n"
       "Reference1: hello\nReference10: ten\nReference2: two",
       "GET Sentence",
       "Age: 2\nCharset: Shift_JIS\nID: OnCommunicate\nReference0: two\nReference8: ten\n"
       "Sender: Alice\nSentence: hello\nsstp_command: GET Sentence\nsstp_type: SHIORI/2.3\n"},
      {"GET SHIORI/3.0\nID: OnTeach\nReference0: word\nReference1: more", "TEACH",
       "Charset: Shift_JIS\nID: OnTeach\nReference0: more\nWord: word\nsstp_command: TEACH\n"
       "sstp_type: SHIORI/2.4\n"},
      {"NOTIFY SHIORI/3.0\nID: ownerghostname\nReference0: Mina", "NOTIFY OwnerGhostName",
       "Charset: Shift_JIS\nGhost: Mina\nID: ownerghostname\nsstp_command: NOTIFY OwnerGhostName\n"
       "sstp_type: SHIORI/2.3\n"},
      // The surfaces after the byte 0x01 are lines of their own and are dropped by the parser.
      {"NOTIFY SHIORI/3.0\nID: otherghostname\nReference0: B\x01" "0\x01" "10\n"
       "Reference1: A\x01" "0\x01" "10",
       "NOTIFY OtherGhostName",
       "Charset: Shift_JIS\nGhost: Mina\nGhostEx: B\nGhostEx: A\nID: otherghostname\n"
       "sstp_command: NOTIFY OtherGhostName\nsstp_type: SHIORI/2.3\n"},
      {"GET SHIORI/3.0\nID: OnTranslate\nReference0: text", "TRANSLATE Sentence",
       "Charset: Shift_JIS\nID: OnTranslate\nReference0: text\n"
       "sstp_command: TRANSLATE Sentence\nsstp_type: SHIORI/2.6\n"},
      {"GET SHIORI/3.0\nID: username", "GET String",
       "Charset: Shift_JIS\nID: username\nsstp_command: GET String\nsstp_type: SHIORI/2.5\n"},
  };
  for (const Case& c : cases) {
    std::string text = c.request;
    std::string crlf;
    for (char ch : text) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    Mapped mapped = mapText(crlf + "\r\nCharset: Shift_JIS\r\n\r\n");
    EXPECT_EQ(mapped.request.refusal, 0) << c.request;
    EXPECT_EQ(mapped.headers, c.headers) << c.request;
  }
}

TEST(Shiori3Mapping, NotifyOfAResourceNameRunsNothing) {
  Mapped mapped = mapText("NOTIFY SHIORI/3.0\r\nID: hwnd\r\nReference0: 1\r\n\r\n");
  EXPECT_TRUE(mapped.request.nothingToRun);
  EXPECT_EQ(mapped.request.refusal, 0);
}

TEST(Shiori3Mapping, Utf8IsConvertedAndCharactersWithoutANarrowFormBecomeReferences) {
  Mapped mapped = mapText(
      "GET SHIORI/3.0\r\nCharset: UTF-8\r\nID: OnCommunicate\r\nAge: 0\r\n"
      "Reference0: \xE3\x81\x82\r\nReference1: hi \xF0\x9F\x98\x80 \xC2\xA5" "5\r\n\r\n");
  EXPECT_EQ(mapped.request.charset, Shiori3Charset::kUtf8);
  EXPECT_NE(mapped.headers.find("Sender: \x82\xA0\n"), std::string::npos) << mapped.headers;
  EXPECT_NE(mapped.headers.find("Sentence: hi &#128512; &#165;5\n"), std::string::npos)
      << mapped.headers;
}

TEST(Shiori3Mapping, BadRequestsAreRefusedWithTheListUntouched) {
  std::string thousand = "GET SHIORI/3.0\r\nID: OnBoot\r\n";
  for (int n = 0; n < 1000; ++n) thousand += "Reference" + std::to_string(n) + ": x\r\n";
  const std::string cases[] = {
      "GET SHIORI/3.0\r\nSender: SSP\r\n\r\n",                       // no ID
      "PUT SHIORI/3.0\r\nID: OnBoot\r\n\r\n",                        // no such method
      "TEACH SHIORI/3.0\r\nID: OnTeach\r\nReference0: w\r\n\r\n",    // teaching is an event
      "GET SHIORI/3.0\r\nID: OnBoot\r\nCharset: EUC-JP\r\n\r\n",     // unsupported charset
      "GET SHIORI/3.0\r\nID: OnBoot\r\nCharset: UTF-8\r\nReference0: \x82\xA0\r\n\r\n",
      "GET SHIORI/3.0\r\nID: OnBoot\r\nCharset: UTF-8\r\nReference0: \xED\xA0\x80\r\n\r\n",
      thousand + "\r\n",
      "GET SHIORI/3.0\r\nID: OnBoot\r\nEvent: OnClose\r\n\r\n",      // mixed with 2.x
      "GET SHIORI/3.0\r\nID: OnCommunicate\r\nSentence: hi\r\n\r\n",
  };
  for (const std::string& text : cases) {
    ShioriProtocol protocol;
    ASSERT_TRUE(protocol.parse(text));
    const std::string before = dump(protocol.message());
    Shiori3Scratch scratch;
    Shiori3Request request = mapShiori3Request(protocol.message(), "Mina", scratch);
    EXPECT_EQ(request.refusal, 400) << text.substr(0, 80);
    EXPECT_FALSE(request.refusalReason.empty());
    // Only the UTF-8 check comes after conversion has begun.
    if (text.find("UTF-8") == std::string::npos) {
      EXPECT_EQ(dump(protocol.message()), before) << text.substr(0, 80);
    }
  }
}

ShioriMessage response2(std::initializer_list<std::pair<const char*, const char*>> headers) {
  ShioriMessage message;
  message.set("sstp_command:", "response");
  message.set("sstp_type:", "SHIORI/2.6");
  for (const auto& [key, value] : headers) message.set(key, value);
  return message;
}

TEST(Shiori3Answer, TalkBecomesValueAndToBecomesTheFirstReference) {
  ShioriMessage talk = response2({{"sstp_status:", "200 OK"}, {"Sender:", "Mina"},
                                  {"To:", "Alice"}, {"Age:", "3"}, {"Sentence:", "\\0hi\\e"},
                                  {"Charset:", "Shift_JIS"}, {"Charset:", "Shift_JIS"}});
  ProblemList problems;
  std::string out;
  renderShiori3Response(talk, Shiori3Request{}, "Mina", problems, out);
  EXPECT_EQ(out,
            "SHIORI/3.0 200 OK\r\nValue: \\0hi\\e\r\nReference0: Alice\r\nAge: 3\r\n"
            "Charset: Shift_JIS\r\nSender: Mina\r\n\r\n");
}

TEST(Shiori3Answer, NotImplementedIsNoContentAndProblemsAreToldOnceInOrder) {
  ShioriMessage none = response2({{"sstp_status:", "501 Not Implemented"},
                                  {"Charset:", "Shift_JIS"}});
  ProblemList problems;
  problems.report({Problem::Severity::Error, "vendor/a.tlk:3", "no \x01token\r\n line"});
  problems.report({Problem::Severity::Warning, "", "bind.xml was set aside"});
  Shiori3Request refused;
  refused.charset = Shiori3Charset::kUtf8;
  refused.refusalReason = "the request has no ID";
  std::string out;
  renderShiori3Response(none, refused, "\x83\x7E\x83\x69", problems, out);
  EXPECT_EQ(out,
            "SHIORI/3.0 204 No Content\r\nCharset: UTF-8\r\nSender: \xE3\x83\x9F\xE3\x83\x8A\r\n"
            "ErrorLevel: error\x01warning\x01" "error\r\n"
            "ErrorDescription: vendor/a.tlk:3: no  token line\x01"
            "bind.xml was set aside\x01the request has no ID\r\n\r\n");
  out.clear();
  renderShiori3Response(none, Shiori3Request{}, "Mina", problems, out);
  EXPECT_EQ(out.find("Error"), std::string::npos) << out;
}

TEST(Shiori3Answer, ReferencesInNarrowTextComeBackAsTheirCharactersInUtf8) {
  ShioriMessage talk = response2({{"sstp_status:", "200 OK"},
                                  {"Sentence:", "&#128512; &#65; &#165;"}});
  Shiori3Request utf8;
  utf8.charset = Shiori3Charset::kUtf8;
  ProblemList problems;
  std::string out;
  renderShiori3Response(talk, utf8, "M", problems, out);
  // Only characters without a narrow form were written as references by the module.
  EXPECT_NE(out.find("Value: \xF0\x9F\x98\x80 &#65; \xC2\xA5\r\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace zelka
