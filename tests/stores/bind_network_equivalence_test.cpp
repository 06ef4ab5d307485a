// The bind network's arithmetic must write the same bytes however it is carried out. This
// test keeps a plain rendering of it (the general wrapper calls, strtod, std::to_chars, a
// prune walk that restarts after each removal) and drives it and the store through one long
// random sequence of additions, reinforcements and lookups on a tree whose root holds
// hundreds of children, starting from a hand-edited file with odd entries. The serialised
// documents and the saved files must stay identical throughout.
#include "stores/bind_network.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/xmllint.h"

namespace zelka {
namespace {

using testing::TempDir;

namespace plain {

constexpr std::u16string_view kBind = u"Bind";
constexpr std::u16string_view kName = u"name";
constexpr std::u16string_view kDistance = u"distance";
constexpr std::u16string_view kTotal = u"total";

std::u16string widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string format(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                              std::chars_format::scientific, 15);
  std::string text(buffer, result.ptr);
  std::size_t e = text.find('e');
  std::size_t digits = text.size() - (e + 2);
  if (digits < 3) text.insert(e + 2, 3 - digits, '0');
  return text;
}

void write(XmlNode& e, std::u16string_view name, double value) {
  e.setAttribute(name, widen(format(value)));
}

double read(XmlNode& e, std::u16string_view name) {
  if (std::optional<std::u16string> text = e.attribute(name)) {
    std::string ascii;
    for (char16_t c : *text) ascii.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    double value = std::strtod(ascii.c_str(), nullptr);
    if (std::isfinite(value)) return value;
  }
  write(e, name, 0.0);
  return 0.0;
}

double finite(double d) { return std::isfinite(d) ? d : 1.0e300; }

// A distance that is not a finite number is a link never followed.
double readDistance(XmlNode& e) {
  if (std::optional<std::u16string> text = e.attribute(kDistance)) {
    std::string ascii;
    for (char16_t c : *text) ascii.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    double value = std::strtod(ascii.c_str(), nullptr);
    if (std::isfinite(value)) return value;
    write(e, kDistance, 1.0e300);
    return 1.0e300;
  }
  write(e, kDistance, 0.0);
  return 0.0;
}

struct Network {
  int pruned = 0;

  void rescale(XmlNode& parent, const XmlNode& skip, double T) {
    for (XmlNode s = parent.firstChild(); !s.empty(); s = s.nextSibling()) {
      if (s == skip || s.tagName() != kBind) continue;
      double count = T * std::pow(10.0, -readDistance(s));
      write(s, kDistance, finite(std::fabs(std::log10(count / (T + 1.0)))));
    }
  }

  void prune(XmlNode& node) {
    XmlNode c = node.firstChild();
    while (!c.empty()) {
      if (c.tagName() == kBind && c.attribute(kName) != std::optional<std::u16string>(u"root") &&
          readDistance(c) > 1.5) {
        c.remove();
        ++pruned;
        c = node.firstChild();
      } else {
        c = c.nextSibling();
      }
    }
  }

  void passage(XmlNode& node, XmlNode& parent, double T, double distance) {
    rescale(parent, node, T);
    prune(node);
    write(parent, kTotal, T + 1.0);
    write(node, kDistance, finite(distance));
  }

  bool add(XmlNode parent, std::u16string_view name) {
    XmlNode child = parent.insertSorted(kBind, kName, name);
    if (child.empty()) return false;
    write(child, kDistance, 1.0);
    write(child, kTotal, 0.0);
    double T = read(parent, kTotal);
    passage(child, parent, T, std::fabs(std::log10(1.0 / (T + 1.0))));
    return true;
  }

  bool reinforce(XmlNode node) {
    XmlNode parent = node.parent();
    if (parent.empty()) return false;
    double T = read(parent, kTotal);
    double count = T * std::pow(10.0, -readDistance(node));
    passage(node, parent, T, std::fabs(std::log10((count + 1.0) / (T + 1.0))));
    return true;
  }

  XmlNode find(const XmlNode& parent, std::u16string_view name, int mode) {
    double limit = mode == 1 ? 0.5 : mode == 2 ? 1.5 : 100.0;
    XmlNode child = parent.findChildByKey(kName, name).match;
    if (child.empty() || readDistance(child) > limit) return {};
    return child;
  }
};

}  // namespace plain

constexpr char kHandEdited[] =
    "<?xml version='1.0' encoding='Shift_JIS'?>\n"
    "<Bind name=\"root\" total=\"12\">\n"
    "  <!-- kept by hand -->\n"
    "  <Bind name=\"a\" distance=\"0.5\" total=\"3\">\n"
    "    <Bind name=\"root\" distance=\"2.0\" total=\"0\"/>\n"
    "    <Bind name=\"x\" distance=\"1.9\" total=\"0\"/>\n"
    "    <Bind name=\"y\" distance=\"0.2\" total=\"0\"/>\n"
    "  </Bind>\n"
    "  <Note name=\"b\" distance=\"0.1\"/>\n"
    "  <Bind name=\"c\" total=\"1\"/>\n"
    "  <Bind name=\"d\" distance=\"abc\" total=\"0\"/>\n"
    "  <Bind name=\"e\" distance=\"inf\" total=\"x\"/>\n"
    "  text between\n"
    "</Bind>\n";

std::u16string nameFor(std::uint32_t n) {
  // Letters, then hiragana and kanji, so that keys of one, two and three UTF-8 bytes mix.
  if (n < 26) return std::u16string(1, static_cast<char16_t>(u'a' + n));
  if (n < 26 + 80) return std::u16string(1, static_cast<char16_t>(0x3041 + (n - 26)));
  return std::u16string(1, static_cast<char16_t>(0x4E00 + (n - 106) * 7));
}

std::string fileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(BindNetworkEquivalenceTest, LongRandomLearningWritesTheSameFileAsThePlainArithmetic) {
  BindNetworkStore store;
  BindNetworkStore expected;
  ASSERT_EQ(store.openFromText(kHandEdited), XmlOpenResult::Loaded);
  ASSERT_EQ(expected.openFromText(kHandEdited), XmlOpenResult::Loaded);
  plain::Network reference;

  std::mt19937 random(20261208);
  // Names under the root are drawn from a wide alphabet so that the root's list grows long;
  // deeper down a narrower one keeps paths revisited (and their rare children pruned).
  auto draw = [&](int depth) {
    std::uint32_t width = depth == 0 ? 400 : depth == 1 ? 40 : 8;
    return nameFor(random() % width);
  };
  // A random path of existing names from the root, resolved in both documents.
  auto pickPath = [&](std::vector<std::u16string>& path) {
    path.clear();
    XmlNode at = expected.root().element();
    int depth = static_cast<int>(random() % 4);
    for (int d = 0; d < depth; ++d) {
      std::size_t n = at.childCount();
      if (n == 0) break;
      // Skewed towards the first children, so that a few paths are walked often: their
      // totals grow and their rare children fall below the prune limit.
      std::size_t pick = (random() % n) * (random() % n) * (random() % n) / (n * n);
      XmlNode next = at.child(pick);
      std::optional<std::u16string> name = next.attribute(u"name");
      if (!name || next.tagName() != u"Bind") break;
      path.push_back(*name);
      at = next;
    }
    return at;
  };
  auto resolve = [&](const std::vector<std::u16string>& path) {
    BindNode at = store.root();
    for (const auto& name : path) at = BindNode(at.element().findChildByKey(u"name", name).match);
    return at;
  };

  std::vector<std::u16string> path;
  const int kOperations = 6000;
  for (int op = 0; op < kOperations; ++op) {
    XmlNode there = pickPath(path);
    BindNode here = resolve(path);
    ASSERT_EQ(here.empty(), there.empty()) << "operation " << op;
    std::uint32_t kind = random() % 20;
    if (kind < 9) {
      std::u16string name = draw(static_cast<int>(path.size()));
      BindNode added;
      ASSERT_EQ(added.addChild(here, name), reference.add(there, name)) << "operation " << op;
    } else if (kind < 18) {
      ASSERT_EQ(here.reinforce(), reference.reinforce(there)) << "operation " << op;
    } else {
      std::u16string name = draw(static_cast<int>(path.size()));
      int mode = static_cast<int>(random() % 3);
      BindNode found = here.findChild(name, mode);
      XmlNode wanted = reference.find(there, name, mode);
      ASSERT_EQ(found.empty(), wanted.empty()) << "operation " << op;
    }
    if (op % 500 == 0) {
      ASSERT_EQ(store.serialize(), expected.serialize()) << "operation " << op;
    }
  }
  // The sequence did what it is meant to cover: a long list under the root and removals.
  EXPECT_GT(store.root().element().childCount(), 300u);
  EXPECT_GT(reference.pruned, 0);

  TempDir dir("bind-equivalence");
  ASSERT_TRUE(store.save(dir.wide("store.xml")));
  ASSERT_TRUE(expected.save(dir.wide("plain.xml")));
  const std::string written = fileBytes(dir / "store.xml");
  EXPECT_FALSE(written.empty());
  EXPECT_TRUE(written == fileBytes(dir / "plain.xml"));
}

}  // namespace
}  // namespace zelka
