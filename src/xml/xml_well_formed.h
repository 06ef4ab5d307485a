// Whether UTF-8 text is a well-formed XML 1.0 document, decided by a conforming reader (expat)
// before the DOM parses it: a second root element, text after the root, a duplicated
// attribute, an undefined entity, "--" inside a comment, a misplaced declaration and every
// other well-formedness error are found where a conforming reader finds them. A document that
// uses an entity its document type declares is refused too: the DOM never expands entities
// (nothing is fetched or multiplied), so such a document cannot be held as it means. Used by
// the xml layer only.
#pragma once

#include <string>
#include <string_view>

namespace zelka {

// Empty when the text is a well-formed document; otherwise where and what the first error is
// ("line 3, column 12: duplicate attribute"). The text is UTF-8 whatever its declaration says.
std::string wellFormednessProblem(std::string_view utf8);

}  // namespace zelka
