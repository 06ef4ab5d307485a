// SHIORI/3.0 beside 2.x. A 3.0 request ("GET SHIORI/3.0" or "NOTIFY SHIORI/3.0" with ID,
// Sender, SecurityLevel, Charset and Reference0.. headers) is checked, its text brought into
// narrow form (Charset: UTF-8 is converted; Shift_JIS is taken as it is), and its header list
// rewritten in place into the 2.x request it stands for, so that the 2.x handlers answer it
// exactly as they answer that request:
//
//   ID                      handled as
//   version                 GET Version SHIORI/2.0
//   OnCommunicate           GET Sentence SHIORI/2.3: Sender from Reference0, Sentence from
//                           Reference1, Age as sent, further references shifted down by two
//   OnTeach                 TEACH SHIORI/2.4: Word from Reference0, references shifted by one
//   OnTranslate             TRANSLATE Sentence SHIORI/2.6
//   ownerghostname          NOTIFY OwnerGhostName SHIORI/2.3: Ghost from Reference0
//   otherghostname          NOTIFY OtherGhostName SHIORI/2.3: one GhostEx per reference
//   other, first letter     GET String SHIORI/2.5 with the ID (a resource name)
//     in lower case
//   any other ID            GET Sentence SHIORI/2.2 with Event: the ID and the references
//
// A NOTIFY of a resource name has no 2.x form: it is answered 204 and nothing runs.
//
// The 2.x response is then rendered as the 3.0 answer: the status line of version 3.0, the
// talk, string or word as Value, To as Reference0, the other response headers, Charset (the
// request's), Sender, and the session's pending problems as ErrorLevel / ErrorDescription.
// A 2.x 501 (TEACH and TRANSLATE have no 2.x handler) is answered 204: a 3.0 host sends every
// event whether or not the module knows it, and 204 is its "nothing to say"; 501 is no 3.0
// status at all.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "shiori/shiori_message.h"
#include "util/problem_list.h"

namespace zelka {

enum class Shiori3Charset { kShiftJis, kUtf8 };

// What the mapping found out about a 3.0 request, kept to shape the answer.
struct Shiori3Request {
  Shiori3Charset charset = Shiori3Charset::kShiftJis;
  // 0 when the header list now holds the 2.x request; otherwise the status to answer with
  // (the request is refused: nothing of it may reach a handler).
  int refusal = 0;
  std::string_view refusalReason;  // ASCII; empty when not refused
  // True for a NOTIFY that has no 2.x form: answered 204 without running anything.
  bool nothingToRun = false;
  // The 2.x response header whose text becomes the Value.
  std::string_view valueKey = "Sentence:";
};

// Buffers reused from request to request, so that the mapping allocates nothing per header.
struct Shiori3Scratch {
  std::string text;
  std::vector<std::pair<unsigned, ByteMultimap::node_type>> references;
};

// References beyond this many make a request refused (no host event carries that many).
inline constexpr std::size_t kMaxShiori3References = 128;

inline constexpr std::string_view kShiori3Version = "SHIORI/3.0";

// Whether the parsed request is a 3.0 request (its command line ends with SHIORI/3.0).
bool isShiori3Request(const ShioriMessage& message);

// Checks and rewrites the 3.0 request in the header list (see above). A refused request's
// list must not be dispatched (its values may be half converted).
Shiori3Request mapShiori3Request(ShioriMessage& message, std::string_view ownerGhostName,
                                 Shiori3Scratch& scratch);

// Appends the 3.0 answer for the 2.x response in the header list to out. Sender is the
// owner ghost name; every problem still pending in the list is taken and reported, in the
// order reported, and a refusal's reason after them.
void renderShiori3Response(const ShioriMessage& response, const Shiori3Request& request,
                           std::string_view sender, ProblemList& problems, std::string& out);

// The 3.0 status text for a 2.x status text ("501 Not Implemented" becomes "204 No Content").
std::string_view shiori3StatusText(std::string_view status2);

}  // namespace zelka
