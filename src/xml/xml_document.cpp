#include "xml/xml_document.h"

#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include <pugixml.hpp>

#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"
#include "xml/xml_child_index.h"
#include "xml/xml_document_impl.h"
#include "xml/xml_encoding.h"
#include "xml/xml_well_formed.h"

namespace zelka {

namespace {

// Parse flags: keep the declaration (its encoding decides how the file is written back),
// comments and processing instructions (hand edits survive a save). Document type
// declarations are skipped, never interpreted: no entity is expanded or fetched.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_declaration |
                                 pugi::parse_comments | pugi::parse_pi;

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, std::size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

}  // namespace

XmlDocument::XmlDocument() : impl_(std::make_unique<XmlDocumentImpl>()) {}

XmlDocument::~XmlDocument() = default;

namespace {

// Path text of a path; nullopt when it has a character the path encoding cannot hold (a
// shortened path would name another file).
std::optional<std::string> narrowPath(const std::u16string& path) { return pathFromWide(path); }

// Removes the temporary files a killed save of this path left beside it.
void removeLeftoverTemporaries(const std::u16string& path) {
  std::size_t slash = path.find_last_of(u"/\\");
  std::u16string directory = slash == std::u16string::npos ? u"." : path.substr(0, slash + 1);
  std::u16string base = slash == std::u16string::npos ? path : path.substr(slash + 1);
  auto narrowDirectory = narrowPath(directory);
  auto narrowBase = narrowPath(base);
  if (!narrowDirectory || !narrowBase || narrowBase->empty()) return;
  auto entries = listDirectory(*narrowDirectory, "*");
  if (!entries) return;
  std::string stem = *narrowBase + kTemporarySuffix;
  for (const auto& entry : *entries) {
    if (!entry.isDirectory && entry.name.compare(0, stem.size(), stem) == 0) {
      std::string full = slash == std::u16string::npos ? entry.name : *narrowDirectory + entry.name;
      deleteFile(full);
    }
  }
}

}  // namespace

XmlOpenResult XmlDocument::open(const std::u16string& path, const std::u16string& encoding,
                                BrokenFilePolicy policy) {
  impl_->reset();
  impl_->openProblem = {};
  if (path.empty()) return XmlOpenResult::Failed;
  auto narrow = narrowPath(path);
  if (!narrow) return XmlOpenResult::Failed;
  if (policy == BrokenFilePolicy::KeepAside) removeLeftoverTemporaries(path);

  if (fileExists(*narrow)) {
    auto bytes = readFile(*narrow);
    if (!bytes) {
      impl_->openProblem.reason = "the file cannot be read";
      return XmlOpenResult::Failed;
    }
    if (openFromText(*bytes) == XmlOpenResult::Loaded) {
      impl_->boundPath = path;
      return XmlOpenResult::Loaded;
    }
    // The file is there but is not a document we can read: never overwrite it.
    if (policy == BrokenFilePolicy::Fail) return XmlOpenResult::Failed;
    std::optional<std::string> aside = moveAside(*narrow);
    if (!aside) {
      impl_->openProblem.reason += "; it cannot be moved aside";
      return XmlOpenResult::Failed;
    }
    impl_->openProblem.keptAsidePath = pathToWide(*aside).value_or(std::u16string());
  }

  impl_->reset();
  pugi::xml_node declaration = impl_->doc.append_child(pugi::node_declaration);
  std::string encodingName = encoding.empty() ? std::string("Shift_JIS") : toXmlUtf8(encoding);
  if (!declaration || !declaration.append_attribute("version").set_value("1.0") ||
      !declaration.append_attribute("encoding").set_value(encodingName.c_str())) {
    impl_->reset();
    return XmlOpenResult::Failed;
  }
  impl_->hasDocument = true;
  return XmlOpenResult::Created;
}

namespace {

// A document read in an encoding we do not write is written back as Shift_JIS: its declaration
// says so from now on (one is added when it had none).
void declareShiftJis(pugi::xml_document& doc) {
  pugi::xml_node declaration = doc.first_child();
  if (declaration.type() != pugi::node_declaration) {
    declaration = doc.prepend_child(pugi::node_declaration);
    declaration.append_attribute("version").set_value("1.0");
  }
  pugi::xml_attribute encoding = declaration.attribute("encoding");
  if (!encoding) encoding = declaration.append_attribute("encoding");
  encoding.set_value("Shift_JIS");
}

}  // namespace

XmlOpenResult XmlDocument::openFromText(std::string_view bytes) {
  impl_->reset();
  impl_->openProblem = {};
  DecodedXml decoded = decodeFileBytes(bytes);
  if (decoded.problem.empty()) decoded.problem = wellFormednessProblem(decoded.text);
  if (!decoded.problem.empty()) {
    impl_->openProblem.reason = std::move(decoded.problem);
    return XmlOpenResult::Failed;
  }
  impl_->buffer = std::move(decoded.text);
  pugi::xml_parse_result parsed = impl_->doc.load_buffer_inplace(
      impl_->buffer.data(), impl_->buffer.size(), kParseFlags, pugi::encoding_utf8);
  if (!parsed || !impl_->doc.document_element()) {
    // Only what the conforming check let through gets here. The parser worked in place: the
    // text is decoded again to tell where it stopped.
    impl_->openProblem.reason =
        !parsed ? positionOf(decodeFileBytes(bytes).text, static_cast<std::size_t>(parsed.offset)) +
                      ": " + parsed.description()
                : std::string("the file holds no element");
    impl_->reset();
    return XmlOpenResult::Failed;
  }
  if (decoded.encoding != XmlFileEncoding::Utf8 && decoded.encoding != XmlFileEncoding::ShiftJis) {
    declareShiftJis(impl_->doc);
  }
  impl_->hasDocument = true;
  return XmlOpenResult::Loaded;
}

XmlOpenResult XmlDocument::openReadOnly(const std::u16string& path) {
  impl_->reset();
  impl_->openProblem = {};
  XmlOpenResult result = XmlOpenResult::Failed;
  auto narrow = narrowPath(path);
  if (!narrow || !fileExists(*narrow)) {
    impl_->openProblem.reason = "there is no such file";
  } else if (auto bytes = readFile(*narrow)) {
    result = openFromText(*bytes);
  } else {
    impl_->openProblem.reason = "the file cannot be read";
  }
  impl_->readOnly = true;
  return result;
}

bool XmlDocument::readOnly() const { return impl_->readOnly; }

const XmlOpenProblem& XmlDocument::openProblem() const { return impl_->openProblem; }

namespace {

// "1." followed by digits, the only version numbers XML knows.
bool isVersionNumber(const char* text) {
  if (text[0] != '1' || text[1] != '.' || text[2] == '\0') return false;
  for (const char* p = text + 2; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

}  // namespace

std::string XmlDocument::serialize() const {
  if (!impl_->hasDocument) return {};
  std::string utf8;
  StringWriter writer(utf8);
  XmlFileEncoding encoding = XmlFileEncoding::Utf8;
  for (pugi::xml_node node = impl_->doc.first_child(); node; node = node.next_sibling()) {
    if (node.type() == pugi::node_declaration) {
      // The declaration is written as the system has always written it: single quotes. Only
      // what a declaration may hold is written back, in the order XML requires, so that a
      // lenient read of an odd declaration never turns into a file no reader accepts.
      utf8 += "<?xml version='";
      const char* version = node.attribute("version").value();
      utf8 += isVersionNumber(version) ? version : "1.0";
      utf8 += '\'';
      if (pugi::xml_attribute a = node.attribute("encoding")) {
        char q = std::strchr(a.value(), '\'') ? '"' : '\'';
        utf8 += " encoding=";
        utf8 += q;
        utf8 += a.value();
        utf8 += q;
        encoding = encodingFromName(a.value());
      }
      const char* standalone = node.attribute("standalone").value();
      if (std::strcmp(standalone, "yes") == 0 || std::strcmp(standalone, "no") == 0) {
        utf8 += " standalone='";
        utf8 += standalone;
        utf8 += '\'';
      }
      utf8 += "?>\n";
      continue;
    }
    node.print(writer, "\t", pugi::format_indent, pugi::encoding_utf8, 0);
  }
  switch (encoding) {
    case XmlFileEncoding::Utf8:
      return utf8;
    case XmlFileEncoding::ShiftJis:
      return encodeShiftJis(utf8);
    default:
      break;  // an encoding we read but do not write
  }
  return {};
}

bool XmlDocument::save(const std::optional<std::u16string>& path) {
  if (!impl_->hasDocument || impl_->readOnly) return false;
  const std::u16string& target = path ? *path : impl_->boundPath;
  if (target.empty()) return false;
  auto narrow = narrowPath(target);
  if (!narrow) return false;
  std::string bytes = serialize();
  // An encoding we cannot write gives no bytes at all; never write a file that lies about it.
  if (bytes.empty()) return false;
  if (!replaceFileAtomically(*narrow, bytes)) return false;
  if (path) impl_->boundPath = *path;
  impl_->savedEdits = impl_->edits;
  return true;
}

bool XmlDocument::hasDocument() const { return impl_->hasDocument; }

std::uint64_t XmlDocument::editCount() const { return impl_->edits; }

bool XmlDocument::hasUnsavedEdits() const { return impl_->edits != impl_->savedEdits; }

void XmlDocument::markSaved(std::uint64_t editCount) {
  // A count past the document's own (taken before it was opened again) or not past the last
  // save changes nothing.
  if (editCount <= impl_->edits && editCount > impl_->savedEdits) impl_->savedEdits = editCount;
}

const std::u16string& XmlDocument::boundPath() const { return impl_->boundPath; }

void XmlDocument::close() { impl_->reset(); }

XmlNode XmlDocument::documentElement(std::u16string_view tag) const {
  if (!impl_->hasDocument) return {};
  std::string name = toXmlUtf8(tag);
  for (pugi::xml_node node = firstElement(impl_->doc); node; node = nextElement(node)) {
    if (name.empty() || name == node.name()) return XmlDocumentImpl::wrap(impl_.get(), node);
  }
  return {};
}

XmlNode XmlDocument::documentElementWithAttribute(std::u16string_view tag,
                                                  std::u16string_view attribute,
                                                  std::u16string_view value) const {
  if (!impl_->hasDocument) return {};
  std::string name = toXmlUtf8(tag);
  std::string key = toXmlUtf8(attribute);
  std::string wanted = toXmlUtf8(value);
  for (pugi::xml_node node = firstElement(impl_->doc); node; node = nextElement(node)) {
    if (!name.empty() && name != node.name()) continue;
    pugi::xml_attribute found = node.attribute(key.c_str());
    if (found && wanted == found.value()) return XmlDocumentImpl::wrap(impl_.get(), node);
  }
  return {};
}

XmlNode XmlDocument::appendDocumentElement(std::u16string_view tag) {
  if (!impl_->hasDocument) fail("appendDocumentElement without a document");
  if (firstElement(impl_->doc)) fail("the document already has its element");
  std::string name = toXmlUtf8(tag);
  if (name.empty()) fail("appendDocumentElement without a tag");
  pugi::xml_node node = impl_->doc.append_child(name.c_str());
  if (!node) fail("appendDocumentElement failed");
  ++impl_->edits;
  return XmlNode(impl_.get(), node.internal_object());
}

bool XmlDocument::openStore(const std::u16string& path, const std::u16string& encoding,
                            const std::function<void(XmlDocument&)>& buildSkeleton) {
  switch (open(path, encoding)) {
    case XmlOpenResult::Failed: return false;
    case XmlOpenResult::Loaded: return true;
    case XmlOpenResult::Created: break;
  }
  // The reopen of the fresh file must not hide why the first open did not load the old one.
  XmlOpenProblem first = impl_->openProblem;
  buildSkeleton(*this);
  save(path);
  const bool loaded = open(path, encoding) == XmlOpenResult::Loaded;
  if (impl_->openProblem.empty()) impl_->openProblem = std::move(first);
  return loaded;
}

void XmlDocument::saveOnDestruction() noexcept {
  try {
    save();
  } catch (...) {
    // Destruction never fails; the explicit saves report errors.
  }
}

}  // namespace zelka
