// The configuration part of zelka-host check: reads zelkaconf.xml as a load does (through
// ZelkaConfig and the XML layer's own verdict on well-formedness), reports its values with
// the defaults marked, and finds what a load would read differently from what is written: a
// file that is missing or not XML, text saved in another encoding than the declared one, a
// wrong root element, element and attribute names the reader passes over (compared with the
// config layer's own layout), directory and category keys it never asks for.
#pragma once

#include <ostream>
#include <string>

#include "config/zelka_config.h"
#include "lint_findings.h"

namespace zelka::host {

// ghostDirectory ends with its separator. False when a load would fail for want of a
// configuration (`config` then stays empty).
bool lintConfiguration(const std::string& ghostDirectory, ZelkaConfig& config,
                       Findings& findings, std::ostream& report);

}  // namespace zelka::host
