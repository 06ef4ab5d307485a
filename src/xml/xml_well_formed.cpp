#include "xml/xml_well_formed.h"

#include <expat.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>

#include "platform/text_codec.h"

namespace zelka {

namespace {

struct Check {
  XML_Parser parser = nullptr;
  std::set<std::string> entities;  // the general entities the document type declares
  bool inSection = false;          // inside a CDATA section
  std::string problem;             // set by a handler that stops the parse
};

void stopWith(Check& check, const std::string& what) {
  if (!check.problem.empty()) return;
  check.problem = "line " + std::to_string(XML_GetCurrentLineNumber(check.parser)) +
                  ", column " + std::to_string(XML_GetCurrentColumnNumber(check.parser) + 1) +
                  ": " + what;
  XML_StopParser(check.parser, XML_FALSE);
}

bool isNameByte(char c) {
  return c == '_' || c == ':' || c == '-' || c == '.' || (c >= '0' && c <= '9') ||
         (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || static_cast<unsigned char>(c) >= 0x80;
}

// A name from the document for a message, which is narrow text (names are UTF-8 here).
std::string narrowName(const std::string& utf8) { return toNarrow(utf8ToUtf16(utf8)); }

std::string usedEntity(const std::string& name) {
  return "the entity \"" + narrowName(name) + "\" is used; entities are never expanded";
}

// Once entities are declared, the markup and text that no other handler takes come here as
// they stand in the file: start tags with their attribute values (where references to
// declared entities are sought), text, and comments, sections and declarations (passed over).
void XMLCALL onUnhandled(void* data, const XML_Char* text, int length) {
  Check& check = *static_cast<Check*>(data);
  std::string_view raw(text, static_cast<std::size_t>(length));
  if (raw == "<![CDATA[") check.inSection = true;
  if (raw == "]]>") check.inSection = false;
  if (check.inSection || raw.substr(0, 2) == "<!" || raw.substr(0, 2) == "<?") return;
  for (std::size_t at = raw.find('&'); at != std::string_view::npos; at = raw.find('&', at + 1)) {
    std::size_t end = at + 1;
    while (end < raw.size() && isNameByte(raw[end])) ++end;
    if (end < raw.size() && raw[end] == ';' &&
        check.entities.count(std::string(raw.substr(at + 1, end - at - 1))) != 0) {
      stopWith(check, usedEntity(std::string(raw.substr(at + 1, end - at - 1))));
      return;
    }
  }
}

void XMLCALL onEntityDeclaration(void* data, const XML_Char* name, int isParameterEntity,
                                 const XML_Char*, int, const XML_Char*, const XML_Char*,
                                 const XML_Char*, const XML_Char*) {
  if (isParameterEntity) return;
  Check& check = *static_cast<Check*>(data);
  // Setting the default handler keeps references to the entity unexpanded from here on.
  if (check.entities.empty()) XML_SetDefaultHandler(check.parser, onUnhandled);
  check.entities.insert(name);
}

// A reference in text to a declared entity (kept unexpanded once the default handler is set),
// or to one a non-validating reader may skip: declared, if at all, in an external part of the
// document type that is never read.
void XMLCALL onSkippedEntity(void* data, const XML_Char* name, int) {
  Check& check = *static_cast<Check*>(data);
  stopWith(check, check.entities.count(name) != 0
                      ? usedEntity(name)
                      : "undefined entity (\"" + narrowName(name) + "\")");
}

}  // namespace

std::string wellFormednessProblem(std::string_view utf8) {
  // The text is UTF-8 already; the encoding named here overrides the declaration's.
  std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate("UTF-8"),
                                                                 XML_ParserFree);
  if (!parser) return "out of memory while checking the file";
  Check check;
  check.parser = parser.get();
  XML_SetUserData(parser.get(), &check);
  XML_SetEntityDeclHandler(parser.get(), onEntityDeclaration);
  XML_SetSkippedEntityHandler(parser.get(), onSkippedEntity);
  // No external entity is ever read: expat reads none without a handler, and parameter
  // entities are not parsed.
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

  constexpr std::size_t kChunk = std::size_t{1} << 30;  // XML_Parse takes an int length
  std::size_t at = 0;
  XML_Status status = XML_STATUS_OK;
  do {
    std::size_t length = std::min(kChunk, utf8.size() - at);
    bool last = at + length == utf8.size();
    status = XML_Parse(parser.get(), utf8.data() + at, static_cast<int>(length), last);
    at += length;
  } while (status == XML_STATUS_OK && at < utf8.size());
  if (!check.problem.empty()) return check.problem;
  if (status == XML_STATUS_OK) return {};
  return "line " + std::to_string(XML_GetCurrentLineNumber(parser.get())) + ", column " +
         std::to_string(XML_GetCurrentColumnNumber(parser.get()) + 1) + ": " +
         XML_ErrorString(XML_GetErrorCode(parser.get()));
}

}  // namespace zelka
