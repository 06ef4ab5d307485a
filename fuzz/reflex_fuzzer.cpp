// Fuzz target: the variable file reflex.txt read by VariableTable::loadVariables. What is
// read is saved again; from then on saving and reading must be a fixed point: the table read
// from the saved file, saved and read once more, is the same table.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "script/variable_table.h"

namespace {

zelka::fuzz::ScratchDir& scratch() {
  static auto* dir = new zelka::fuzz::ScratchDir();
  return *dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = scratch().file("reflex.txt");
  zelka::fuzz::writeFile(path, zelka::fuzz::asText(data, size));

  zelka::VariableTable table;
  table.setVariable("__Kept", "1");
  if (!table.loadVariables(path)) zelka::fuzz::fail("an existing file did not load");

  const std::string first = scratch().file("first.txt");
  const std::string second = scratch().file("second.txt");
  if (!table.saveVariables(first)) zelka::fuzz::fail("saving failed");
  zelka::VariableTable again;
  if (!again.loadVariables(first)) zelka::fuzz::fail("a saved file did not load");
  if (!again.saveVariables(second)) zelka::fuzz::fail("saving again failed");
  zelka::VariableTable third;
  if (!third.loadVariables(second)) zelka::fuzz::fail("a saved file did not load");
  if (third.entries() != again.entries()) zelka::fuzz::fail("a saved file reads back differently");
  return 0;
}
