// The sentence handler (GET Sentence and TEST). For now it answers that there is nothing to
// say; the event handling replaces this body.
#include "shiori/shiori_server.h"

namespace zelka {

bool ShioriServer::sentenceHandler() {
  beginResponse();
  setStatus(204);
  return true;
}

}  // namespace zelka
