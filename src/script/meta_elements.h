// The meta element table: what each element computes once the interpreter has expanded its
// argument and body groups. Rows are matched in order by kind ("%" or backslash) and name;
// the first match handles the element:
//
//   category words (ms mz ml mc mh mt me mp m? dms), unify, the date items, exh, reflex
//   (variable output, also "%" directly before a group), BYTE, ref<N> (event reference
//   pieces), rand, strcmp, formula, here, \ti (talk interval), token, commu (resemblance to
//   the last communication), match, username, \0 and \1 (scope and surface), "% " (a
//   literal percent sign); any other "%" name, the host's own names and backslash names of at
//   most three characters pass through quoted for the host; anything else is error 1.
//
// A handler answers 0 with the result set, or the error code (1: cannot substitute, 2: the
// data type cannot be determined). The rows marked numbered store their result as a numbered
// variable. Text from outside the scripts (references, stored quoted text) is output quoted
// so that the rescan never runs it as script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "script/script_engine.h"

namespace zelka {

// A name the table knows, for author tools that check scripts without running them.
struct MetaElementName {
  std::u16string_view name;
  bool percent = false;      // written with "%"
  bool backslash = false;    // written with a backslash
  bool passThrough = false;  // one of the host's own names: handed to the host unchanged
};

// "%ref" followed by the reference number (any other "%" name beginning so reads as ref0).
inline constexpr std::u16string_view kReferenceElementPrefix = u"ref";
// Backslash names of up to this many characters that the table does not know are the host's
// talk tags and pass through unchanged; longer unknown ones are error 1.
inline constexpr std::size_t kHostTagNameLimit = 3;

// A friend of ScriptEngine: the handlers read the engine's state (variables, event context,
// generator, learned knowledge, configuration, clock, log) directly.
class MetaElementTable {
 public:
  // Computes the element's result from its expanded argument text (parentheses kept) and
  // body text (brackets kept). Answers 0 with result set, or error code 1 or 2 (the caller
  // writes the report). A storing element files its result under the counter and advances it.
  static int dispatch(ScriptEngine& engine, const ScriptElement& element,
                      const std::string& argumentText, const std::string& bodyText,
                      std::uint32_t& counter, std::string& result);

  // Every name of the table and the host's own names that pass through, in table order.
  static std::vector<MetaElementName> names();

 private:
  // One element being computed: its texts, the result to set, the engine it runs in.
  struct Call {
    ScriptEngine& engine;
    const ScriptElement& element;
    bool backslash;
    const std::string& argumentText;
    const std::string& bodyText;
    std::string body;  // the body text without one enclosing "[]" pair
    std::string& result;
    VariableTable& variables();
  };
  using Handler = int (*)(Call&);

  enum : unsigned { kPercent = 1, kBackslash = 2, kBoth = 3 };
  struct Row {
    std::u16string_view name;
    unsigned kinds;
    bool numbered;
    Handler handler;
  };

  static const Row* findRow(const ScriptElement& element);

  static int category(Call& call);
  static int unify(Call& call);
  static int date(Call& call);
  static int exh(Call& call);
  static int reflex(Call& call);
  static int bytes(Call& call);
  static int reference(Call& call);
  static int random(Call& call);
  static int compare(Call& call);
  static int formula(Call& call);
  static int here(Call& call);
  static int talkInterval(Call& call);
  static int token(Call& call);
  static int commu(Call& call);
  static int match(Call& call);
  static int username(Call& call);
  static int scope(Call& call);
  static int percent(Call& call);
  static int passThrough(Call& call);

  static const Row kRows[];
};

}  // namespace zelka
