// A script-layer file that reaches up into the protocol front: the layer check must refuse it.
#include "script/script_engine.h"
#include "shiori/diagnostic_log.h"
