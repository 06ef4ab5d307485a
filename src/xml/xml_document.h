// One XML document bound to the file it was read from: every store and the configuration go
// through it. Opening gives a fresh document when the file is missing, and never overwrites a
// file that exists but is not well-formed; saving is crash-safe and writes back to the file
// the document came from, in the encoding its declaration names (Shift_JIS, or UTF-8 when it
// names none). The elements are reached through XmlNode handles (xml_node.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "xml/xml_node.h"

namespace zelka {

enum class XmlOpenResult : int { Failed = 0, Loaded = 1, Created = -1 };

// What open does with a file that exists but does not parse.
enum class BrokenFilePolicy {
  KeepAside,  // rename it aside ("<file>.broken-<time>") and start a fresh document (stores)
  Fail,       // leave it untouched and report Failed (the configuration)
};

// What the last open found wrong with an existing file, for messages to the author. Empty
// after an open that loaded the file or found none.
struct XmlOpenProblem {
  std::string reason;            // what is wrong and where ("line 3, column 12: ..."), narrow
  std::u16string keptAsidePath;  // where the broken file was moved aside, when it was
  bool empty() const { return reason.empty(); }
};

// One XML document bound to the file it was loaded from.
class XmlDocument {
 public:
  XmlDocument();
  virtual ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Opens the file. Loaded: the file parsed; the document is bound to it. Created: the file
  // was missing (or broken and kept aside by the policy); the document holds only the
  // declaration version='1.0' encoding='<encoding>' and is bound to no file. Failed: no path,
  // a file that exists but cannot be read, or a broken file under BrokenFilePolicy::Fail.
  // Under KeepAside, leftover temporary files of an interrupted save of this path are
  // removed. A file parses when it is a well-formed XML 1.0 document as a conforming reader
  // reads it, in one of the encodings of xml_encoding.h (Shift_JIS decoded leniently); bytes
  // not in the declared encoding, an encoding we do not read, and a document that declares
  // entities (which are never expanded) count as a file that does not parse. A file read in
  // an encoding we do not write (UTF-16, US-ASCII, ISO-8859-1, EUC-JP) is declared Shift_JIS
  // and written back so.
  XmlOpenResult open(const std::u16string& path, const std::u16string& encoding = u"Shift_JIS",
                     BrokenFilePolicy policy = BrokenFilePolicy::KeepAside);
  // Same, from text already in memory (tests and tools); the document is bound to no file.
  XmlOpenResult openFromText(std::string_view bytes);
  // Reads the file for looking only (tools that report what a ghost learned): Loaded, or
  // Failed for a file that is missing, unreadable or broken, which is left exactly as it is
  // (nothing created, moved aside or cleaned up). The document then refuses every save, to a
  // path too, and so the one a store makes when it is destroyed, until it is opened again.
  XmlOpenResult openReadOnly(const std::u16string& path);
  bool readOnly() const;
  // Why the last open did not load an existing file, and where it was kept aside.
  const XmlOpenProblem& openProblem() const;

  // Writes the document crash-safely to the path, or without a path to the file it is bound
  // to; false when there is no document or no known file. The file is written in the encoding
  // its declaration names; characters that encoding cannot hold become character references
  // (in names '_', in comments and processing instructions '?', where XML has no way to write
  // them). A declaration naming an encoding we cannot write makes the save fail (false).
  // A save to a path binds the document to it. Virtual so that a document that must never
  // be written (the configuration's) refuses every save, also one through this base.
  virtual bool save(const std::optional<std::u16string>& path = std::nullopt);
  // The serialised bytes a save would write; empty when there is nothing we can write.
  std::string serialize() const;

  bool hasDocument() const;
  // Edits made since the document was opened (through its handles or appendDocumentElement),
  // and whether its file holds them all. A save makes the file hold every edit so far;
  // markSaved(n) records that the bound file was written by someone else from serialize()
  // when editCount() was n. Reordering a hand-edited list, which keyed lookups do, is not an
  // edit: the file reads back the same. Not to be asked while another thread edits.
  std::uint64_t editCount() const;
  bool hasUnsavedEdits() const;
  void markSaved(std::uint64_t editCount);
  const std::u16string& boundPath() const;
  // Drops the document without writing it: afterwards there is no document, the document is
  // bound to no file, and save (also the one on destruction) writes nothing. For an owner
  // that has saved explicitly and reported the outcome.
  void close();

  // Top-level elements of the document.
  XmlNode documentElement(std::u16string_view tag) const;  // first top-level with tag
  XmlNode documentElementWithAttribute(std::u16string_view tag, std::u16string_view attribute,
                                       std::u16string_view value) const;
  // Throws XmlError when there is no document or it already has its element.
  XmlNode appendDocumentElement(std::u16string_view tag);

 protected:
  // How every store opens its file: open; a fresh document gets its skeleton (its root element,
  // made by `buildSkeleton`), is saved to the path and opened again. True when the file ends up
  // loaded. openProblem() then tells what the first open found (a broken file kept aside).
  bool openStore(const std::u16string& path, const std::u16string& encoding,
                 const std::function<void(XmlDocument&)>& buildSkeleton);
  // A store's destructor writes it back to its file; errors are left to the explicit saves.
  void saveOnDestruction() noexcept;

 private:
  std::unique_ptr<XmlDocumentImpl> impl_;
};

}  // namespace zelka
