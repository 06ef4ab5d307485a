#include "config/config_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace zelka {
namespace {

using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

// The configuration belongs to the ghost's author: whatever is asked of the document, the
// file keeps its bytes and nothing appears beside it, also when the document was edited in
// memory and is saved through its base, to its own file or to another.
TEST(ConfigDocument, NeverWrites) {
  TempDir dir;
  const std::string bytes =
      "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n"
      "<ZelkaConfiguration><GhostProfile ghost_name=\"x\"/></ZelkaConfiguration>";
  writeBytes(dir.file("zelkaconf.xml"), bytes);

  ConfigDocument missing;
  EXPECT_FALSE(missing.load(dir.wide("absent.xml")));  // Created is not Loaded
  EXPECT_FALSE(missing.save(dir.wide("absent.xml")));

  ConfigDocument document;
  ASSERT_TRUE(document.load(dir.wide("zelkaconf.xml")));
  document.documentElement(u"ZelkaConfiguration").appendChild(u"Added");
  ASSERT_NE(document.serialize(), bytes);  // a real save would change the file
  XmlDocument& base = document;
  EXPECT_FALSE(document.save());
  EXPECT_FALSE(document.save(dir.wide("zelkaconf.xml")));
  EXPECT_FALSE(base.save());
  EXPECT_FALSE(base.save(dir.wide("copy.xml")));

  EXPECT_EQ(readBytes(dir.file("zelkaconf.xml")), bytes);
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    ++files;
  }
  EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace zelka
