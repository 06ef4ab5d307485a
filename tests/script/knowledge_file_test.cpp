#include "script/knowledge_file.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "support/temp_dir.h"
#include "platform/text_codec.h"
#include "util/mt19937.h"
#include "util/problem_list.h"

namespace zelka {
namespace {

const std::string kHeader = "[ZELKA KNOWLEDGE 2.0]\n";

struct Parsed {
  bool ok = false;
  KnowledgeBase base;
  KnowledgeFileReport report;

  std::vector<const KnowledgeEntry*> under(const std::string& key) const {
    std::vector<const KnowledgeEntry*> found;
    auto [first, last] = base.equal_range(key);
    for (auto it = first; it != last; ++it) found.push_back(&it->second);
    return found;
  }
};

Parsed parseText(const std::string& content, bool scrambled = false,
                 const std::string& name = "talk.tlk", ProblemList* problems = nullptr,
                 std::string* path = nullptr) {
  testing::TempDir dir;
  std::string written = dir.write(name, content);
  if (path != nullptr) *path = written;
  Parsed parsed;
  parsed.ok = parseKnowledgeFile(u"OnZelkaFreeTalk", written,
                                 std::u16string(kKnowledgeFileHeader), scrambled, parsed.base,
                                 &parsed.report, nullptr, problems);
  return parsed;
}

std::vector<std::string> scriptsOf(const std::vector<const KnowledgeEntry*>& entries) {
  std::vector<std::string> scripts;
  for (const KnowledgeEntry* e : entries) scripts.push_back(e->script);
  return scripts;
}

TEST(KnowledgeFile, BlockWithTwoScriptsGivesTwoEntriesWithDefaults) {
  Parsed p = parseText(kHeader + "{\ntoken: OnBoot\nscript: hello\nscript: hi\n  there\n}\n");
  ASSERT_TRUE(p.ok);
  auto entries = p.under("OnBoot");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(scriptsOf(entries), (std::vector<std::string>{"hello\n", "hi\nthere\n"}));
  for (const KnowledgeEntry* e : entries) {
    EXPECT_EQ(e->token, "OnBoot");
    EXPECT_EQ(e->emotionLimit, 0);
    EXPECT_EQ(e->conditional, "1");
    EXPECT_EQ(e->conditionalElse, "");
    EXPECT_EQ(e->source, "talk.tlk");
  }
  EXPECT_EQ(p.base.size(), 2u);
  EXPECT_EQ(p.report.blocksCommitted, 1u);
  EXPECT_EQ(p.report.unclosedBraces, 0u);
}

TEST(KnowledgeFile, EntriesRememberTheLinesTheyWereWrittenOn) {
  // Lines: 1 header, 2 comment, 3 "{", 4 token, 5 "script:", 6-7 script, 8 script with text,
  // 9 "}", 10 "{", 11 a long script line read in two pieces, 12 "}", 13 "{", 14 script, 15 "}".
  Parsed p = parseText(kHeader + "// talk\n{\ntoken: A\nscript:\n  one\n  more\nscript: two\n}\n" +
                       "{\n" + std::string(1500, 'c') + "\n}\n{\nthree\n}\n");
  ASSERT_TRUE(p.ok);
  std::vector<std::pair<std::size_t, std::size_t>> lines;
  for (const KnowledgeEntry* e : p.under("A")) lines.emplace_back(e->blockLine, e->scriptLine);
  for (const KnowledgeEntry* e : p.under("OnZelkaFreeTalk")) {
    lines.emplace_back(e->blockLine, e->scriptLine);
  }
  EXPECT_EQ(lines, (std::vector<std::pair<std::size_t, std::size_t>>{
                       {3, 6}, {3, 8}, {10, 11}, {13, 14}}));
}

TEST(KnowledgeFile, TokenLineWordsAndFields) {
  struct Case {
    std::string block;
    std::string key;
    int emotionLimit;
    std::string script, conditional, conditionalElse;
  };
  const Case cases[] = {
      {"{\nscript: x\n}\n", "OnZelkaFreeTalk", 0, "x\n", "1", ""},   // default token
      {"{\ntoken: A B\nscript: x\n}\n", "A", 0, "x\n", "1", ""},      // second word is "B"
      {"{\ntoken: A 5\nscript: x\n}\n", "A", 5, "x\n", "1", ""},
      {"{\ntoken: A\nemotionlimiter: -3\nscript: x\n}\n", "A", -3, "x\n", "1", ""},
      {"{\ntoken: A\nconditional: a==1\nb==2\nconditionalelse: E\nF\nscript: x\n}\n", "A", 0,
       "x\n", "a==1\nb==2\n", "EF"},
      {"{\ntoken:\tA\nscript:\tp\t\tq   r\n}\n", "A", 0, "p q r\n", "1", ""},
      {"{token: A\nscript: x\n}\n", "A", 0, "x\n", "1", ""},           // keyword after "{"
      {"{\ntoken: A\nnot script: x\n}\n", "Anot", 0, "", "1", ""},  // joined to the token
  };
  for (const Case& c : cases) {
    Parsed p = parseText(kHeader + c.block);
    ASSERT_TRUE(p.ok);
    auto entries = p.under(c.key);
    ASSERT_EQ(entries.size(), 1u) << c.block;
    EXPECT_EQ(entries[0]->emotionLimit, c.emotionLimit) << c.block;
    EXPECT_EQ(entries[0]->script, c.script) << c.block;
    EXPECT_EQ(entries[0]->conditional, c.conditional) << c.block;
    EXPECT_EQ(entries[0]->conditionalElse, c.conditionalElse) << c.block;
  }
}

TEST(KnowledgeFile, QuotesCommentsEscapesAndTrailingBlanks) {
  struct Case {
    std::string line;
    std::string script;
  };
  const Case cases[] = {
      {"script: \"a // b\" // comment", "\"a // b\"\n"},
      {"script: a // comment", "a\n"},
      {"script: http:\\/\\/host", "http://host\n"},
      {"script: abc\\ ", "abc\\ \n"},        // escaped trailing blank stays
      {"script: abc    ", "abc\n"},
      {"script: \"x  y\"   z", "\"x  y\" z\n"},
      {"script: {nested}", "{nested}\n"},
      {"script: \"}\"", "\"}\"\n"},          // a quoted brace does not count
      {"script: // all comment", ""},
  };
  for (const Case& c : cases) {
    Parsed p = parseText(kHeader + "{\ntoken: T\n" + c.line + "\n}\n");
    ASSERT_TRUE(p.ok);
    auto entries = p.under("T");
    ASSERT_EQ(entries.size(), 1u) << c.line;
    EXPECT_EQ(entries[0]->script, c.script) << c.line;
  }
}

TEST(KnowledgeFile, ContentOutsideBlocksJoinsTheNextBlock) {
  // Content goes to the field selected last; every further line of a non-empty field adds
  // its joiner, the line of an opening brace included.
  Parsed p = parseText(kHeader +
                       "before\n"
                       "{\ntoken: T\nscript: a\n}\n"
                       "between\n"
                       "{\ntoken: U\n}\n"
                       "{\nscript: b\ntoken: V\n}\n"
                       "after\n"
                       "{\n}\n");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(scriptsOf(p.under("T")), (std::vector<std::string>{"before\n\n", "a\n"}));
  EXPECT_EQ(scriptsOf(p.under("U")), std::vector<std::string>{"between\n\n"});
  EXPECT_EQ(scriptsOf(p.under("V")), std::vector<std::string>{"b\n"});
  // After V's block the token field was selected last: "after" and the joiners become the
  // next block's token.
  EXPECT_EQ(p.under("after\n\n").size(), 1u);
}

TEST(KnowledgeFile, BlockOnOneLineCommitsEmptyAndPassesItsContentOn) {
  Parsed p = parseText(kHeader + "{token: A script: hi}\n{\nscript: x\n}\n");
  ASSERT_TRUE(p.ok);
  // The first block commits before its content is stored: defaults only.
  auto defaults = p.under("OnZelkaFreeTalk");
  ASSERT_EQ(defaults.size(), 1u);
  EXPECT_EQ(defaults[0]->script, "");
  // Its content went to the token field, which the next block then uses.
  auto next = p.under("A");
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next[0]->script, "x\n");
}

TEST(KnowledgeFile, UnbalancedBracesAndUnclosedBlocks) {
  // A stray closing brace in a script ends the block early; the rest passes on.
  Parsed early = parseText(kHeader + "{\ntoken: T\nscript: a}b\n}\n");
  ASSERT_TRUE(early.ok);
  EXPECT_EQ(scriptsOf(early.under("T")), std::vector<std::string>{""});
  EXPECT_EQ(early.report.blocksCommitted, 1u);

  // Closing braces outside any block are ordinary text.
  Parsed stray = parseText(kHeader + "}}\n{\ntoken: T\n}\n");
  EXPECT_EQ(scriptsOf(stray.under("T")), std::vector<std::string>{"}}\n\n"});

  Parsed unclosed = parseText(kHeader + "{\ntoken: T\nscript: x\n{\n");
  ASSERT_TRUE(unclosed.ok);
  EXPECT_TRUE(unclosed.base.empty());
  EXPECT_EQ(unclosed.report.unclosedBraces, 2u);
}

TEST(KnowledgeFile, LongLinesAreReadInPieces) {
  std::string xs(2000, 'x');
  Parsed p = parseText(kHeader + "{\ntoken: T\nscript: " + xs + "\n}\n");
  ASSERT_TRUE(p.ok);
  auto entries = p.under("T");
  ASSERT_EQ(entries.size(), 1u);
  // The first read holds 1,023 bytes: the keyword, its blank and 1,015 letters.
  EXPECT_EQ(entries[0]->script, std::string(1015, 'x') + "\n" + std::string(985, 'x') + "\n");
}

TEST(KnowledgeFile, RejectedFilesAndTheirReasons) {
  struct Case {
    std::string content;
    KnowledgeFileStatus status;
  };
  const Case cases[] = {
      {"", KnowledgeFileStatus::kEmpty},
      {"[ZELKA KNOWLEDGE 2.0]", KnowledgeFileStatus::kBadHeader},   // no line feed
      {"\xef\xbb\xbf[ZELKA KNOWLEDGE 2.0]\n", KnowledgeFileStatus::kRead},   // UTF-8, mark dropped
      {"\x1a[ZELKA KNOWLEDGE 2.0]\n", KnowledgeFileStatus::kEmpty},          // ends at once
      {kHeader + "{\nscript: \xf0\x9f\x98\x80\n}\n", KnowledgeFileStatus::kNotConvertible},
      {"[ZELKA KNOWLEDGE 1.0]\n", KnowledgeFileStatus::kBadHeader},
      {"[zelka knowledge 2.0]\n", KnowledgeFileStatus::kBadHeader},
      {"[ZELKA KNOWLEDGE 2.0]\r\n", KnowledgeFileStatus::kRead},     // text mode
      {kHeader, KnowledgeFileStatus::kRead},                         // no block is fine
  };
  for (const Case& c : cases) {
    Parsed p = parseText(c.content);
    EXPECT_EQ(p.ok, c.status == KnowledgeFileStatus::kRead) << c.content;
    EXPECT_EQ(p.report.status, c.status) << c.content;
    EXPECT_TRUE(p.base.empty());
  }
  testing::TempDir dir;
  KnowledgeBase base;
  KnowledgeFileReport report;
  std::u16string header(kKnowledgeFileHeader);
  EXPECT_FALSE(parseKnowledgeFile(u"T", dir.file("missing.tlk"), header, false, base, &report));
  EXPECT_EQ(report.status, KnowledgeFileStatus::kCannotOpen);
  EXPECT_FALSE(parseKnowledgeFile(u"T", dir.directory(), header, false, base, &report));
  EXPECT_EQ(report.status, KnowledgeFileStatus::kNoFileName);
  EXPECT_FALSE(parseKnowledgeFile(u"T", "", header, false, base, &report));
  EXPECT_EQ(report.status, KnowledgeFileStatus::kMissingArgument);
}

TEST(KnowledgeFile, CrLfAndScrambledFilesReadLikeThePlainFile) {
  std::string plain = kHeader +
                      "{\ntoken: OnBoot\nconditional: \"\x82\xa0\"\nscript: \x82\xb1\x82\xf1 "
                      "// note\nscript: \\0\\e\n}\n{\nscript: tail";
  Parsed reference = parseText(plain);
  ASSERT_TRUE(reference.ok);
  ASSERT_EQ(reference.base.size(), 2u);

  std::string crlf;
  for (char c : plain) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  Parsed fromCrlf = parseText(crlf);

  // Complement by hand: every byte of each line but its line feed.
  std::string manual;
  std::size_t start = 0;
  while (start < plain.size()) {
    std::size_t end = plain.find('\n', start);
    std::string line = plain.substr(start, end == std::string::npos ? end : end - start + 1);
    complementRead(line);
    manual += line;
    start = end == std::string::npos ? plain.size() : end + 1;
  }
  std::string scrambled;
  ASSERT_TRUE(scrambleKnowledgeText(plain, scrambled));
  EXPECT_EQ(scrambled, manual);
  EXPECT_EQ(unscrambleKnowledgeText(scrambled), plain);
  Parsed fromScrambled = parseText(scrambled, true, "talk.tlc");

  for (const Parsed* other : {&fromCrlf, &fromScrambled}) {
    ASSERT_TRUE(other->ok);
    ASSERT_EQ(other->base.size(), reference.base.size());
    auto a = reference.base.begin();
    for (auto b = other->base.begin(); b != other->base.end(); ++a, ++b) {
      EXPECT_EQ(a->first, b->first);
      EXPECT_EQ(a->second.script, b->second.script);
      EXPECT_EQ(a->second.conditional, b->second.conditional);
    }
  }
  EXPECT_EQ(fromScrambled.base.begin()->second.source, "talk.tlc");
  // A plain file is not a scrambled one.
  EXPECT_FALSE(parseText(plain, true).ok);
}

// Old editors end a file with a byte 0x1A, which ends a plain file. In a scrambled file the
// byte is a complemented 0xE5, the lead byte of kanji such as \xe5\x40 (蕁): read past it.
TEST(KnowledgeFile, EndOfTextByteEndsOnlyAPlainFile) {
  const std::string kept = kHeader + "{\ntoken: A\nscript: \xe5\x40\n}\n";
  const std::string plain = kept + "\x1a{\ntoken: B\nscript: junk\n}\n";
  Parsed fromPlain = parseText(plain);
  ASSERT_TRUE(fromPlain.ok);
  EXPECT_EQ(fromPlain.base.size(), 1u);
  ASSERT_EQ(fromPlain.under("A").size(), 1u);

  std::string scrambled;
  ASSERT_TRUE(scrambleKnowledgeText(plain, scrambled));   // what a plain reader reads
  EXPECT_EQ(unscrambleKnowledgeText(scrambled), kept);
  ASSERT_NE(scrambled.find('\x1a'), std::string::npos);   // the complemented 0xE5
  Parsed fromScrambled = parseText(scrambled, true, "talk.tlc");
  ASSERT_TRUE(fromScrambled.ok);
  ASSERT_EQ(fromScrambled.under("A").size(), 1u);
  EXPECT_EQ(fromScrambled.under("A")[0]->script, "\xe5\x40\n");
}

// An editor set to UTF-8: the file reads as the same file saved as Shift_JIS would, and its
// author is told; a character Shift_JIS cannot write keeps the whole file out.
TEST(KnowledgeFile, Utf8FilesAreReadConvertedOrRefusedAndReported) {
  // ハリ in UTF-8 (read as Shift_JIS it would be 繝上リ).
  const std::string utf8 = kHeader + "{\ntoken: OnBoot\nscript: \xe3\x83\x8f\xe3\x83\xaa\n}\n";
  std::string scrambledUtf8;
  ASSERT_TRUE(scrambleKnowledgeText(utf8, scrambledUtf8));
  for (bool scrambled : {false, true}) {
    ProblemList problems;
    std::string path;
    Parsed p = parseText(scrambled ? scrambledUtf8 : utf8, scrambled,
                         scrambled ? "talk.tlc" : "talk.tlk", &problems, &path);
    ASSERT_TRUE(p.ok) << scrambled;
    EXPECT_TRUE(p.report.convertedFromUtf8);
    ASSERT_EQ(p.under("OnBoot").size(), 1u);
    EXPECT_EQ(p.under("OnBoot")[0]->script, "\x83\x6e\x83\x8a\n");
    std::optional<Problem> told = problems.take();
    ASSERT_TRUE(told);
    EXPECT_EQ(told->severity, Problem::Severity::Warning);
    EXPECT_EQ(told->where, path);
    EXPECT_EQ(told->message,
              "saved as UTF-8; it was read converted to Shift_JIS. Save it as Shift_JIS, the "
              "encoding of the module's files.");
    EXPECT_TRUE(problems.empty());
  }

  ProblemList problems;
  std::string path;
  Parsed refused = parseText(kHeader + "{\ntoken: OnBoot\nscript: \xf0\x9f\x98\x80 \xe3\x83\x8f\n}\n",
                             false, "talk.tlk", &problems, &path);
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.report.status, KnowledgeFileStatus::kNotConvertible);
  EXPECT_TRUE(refused.base.empty());
  std::optional<Problem> told = problems.take();
  ASSERT_TRUE(told);
  EXPECT_EQ(told->severity, Problem::Severity::Error);
  EXPECT_EQ(told->where, path + ":4");
  EXPECT_EQ(told->message,
            "saved as UTF-8, and the character U+1F600 (column 9) has no Shift_JIS form: the "
            "file was not read. Replace or remove what Shift_JIS cannot write, and save the "
            "file as Shift_JIS.");
}

TEST(KnowledgeFile, ScramblingRefusesBytesThatWouldNotReadBack) {
  std::string scrambled = "left";
  std::size_t failed = 0;
  // 0xF5 complements to a line feed, which would end the read early.
  EXPECT_FALSE(scrambleKnowledgeText(kHeader + "ok\nbad \xf5 byte\n", scrambled, &failed));
  EXPECT_EQ(failed, 3u);
  EXPECT_TRUE(scrambled.empty());
  // 0xF2 0xF5 complements to CR LF.
  EXPECT_FALSE(scrambleKnowledgeText(kHeader + "a\xf2\xf5z\n", scrambled, &failed));
  EXPECT_EQ(failed, 2u);
  // The last byte of a read is not complemented, so 0xF5 there is safe.
  EXPECT_TRUE(scrambleKnowledgeText(kHeader + "end\xf5", scrambled));
}

TEST(KnowledgeFile, AddKnowledgeEntryNeedsTwoWordsAndKeepsFileOrder) {
  KnowledgeBase base;
  EXPECT_FALSE(addKnowledgeEntry("f.tlk", u" 0 ", u"1", u"", u"s", base));    // empty token
  EXPECT_FALSE(addKnowledgeEntry("f.tlk", u"Only", u"1", u"", u"s", base));
  EXPECT_TRUE(addKnowledgeEntry("f.tlk", u"B 1 ", u"1", u"", u"first", base));
  EXPECT_TRUE(addKnowledgeEntry("f.tlk", u"A\t7", u"x  y", u"", u"z", base));
  EXPECT_TRUE(addKnowledgeEntry("g.tlk", u"B 2 ", u"1", u"", u"second", base));
  auto [first, last] = base.equal_range("B");
  std::vector<std::string> order;
  for (auto it = first; it != last; ++it) order.push_back(it->second.script);
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
  auto a = base.find("A");
  ASSERT_NE(a, base.end());
  EXPECT_EQ(a->second.emotionLimit, 7);
  EXPECT_EQ(a->second.conditional, "x y");
}

TEST(KnowledgeFile, HostileInputIsBoundedAndNeverCrashes) {
  Mt19937 random(12345);
  for (int round = 0; round < 20; ++round) {
    std::string content = kHeader;
    std::size_t size = 1000 + random.next() % 120000;
    for (std::size_t i = 0; i < size; ++i) {
      std::uint32_t r = random.next();
      // Mostly the characters the walk cares about, plus any byte at all.
      static const char kInteresting[] = "{}\"/\\\n\r\t :abcdefghijklmnopqrstuvwxyz";
      content += (r & 3) ? kInteresting[(r >> 8) % (sizeof kInteresting - 1)]
                         : static_cast<char>(r >> 16);
    }
    if (round % 2) content += std::string(100 * 1024, 'x');  // one 100 KiB line
    for (const std::string& keyword : {std::string("\ntoken: "), std::string("\nscript: ")}) {
      content.insert(content.size() / 2, keyword);
    }
    Parsed p = parseText(content, round % 3 == 0);
    (void)p;
  }
  // Deep nesting is only a counter.
  Parsed deep = parseText(kHeader + std::string(200000, '{') + "\n");
  EXPECT_TRUE(deep.ok);
  EXPECT_EQ(deep.report.unclosedBraces, 200000u);
}

}  // namespace
}  // namespace zelka
