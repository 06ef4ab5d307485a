// The knowledge-file part of zelka-host check. Each file is read by the module's own reader
// (parseKnowledgeFile) with an observer that sees every block, brace, keyword and stored line,
// so the findings say what the module does with the file, not what a second grammar thinks:
// blocks never closed (with the blocks they swallowed), text outside blocks that moves into
// the next block, blocks without a script line, misspelt and misplaced keywords, text that is
// not Shift_JIS. Once every file is read, each entry's script and conditional are parsed by
// the module's script parser (never run): unknown meta element names, groups and quotes left
// open, conditions that are not formulas; and every token is compared with the events the
// module and the host raise and the tokens scripts call.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/zelka_config.h"
#include "lint_findings.h"
#include "script/knowledge_base.h"
#include "script/knowledge_file.h"

namespace zelka::host {

class KnowledgeLint {
 public:
  // ghostDirectory ends with its separator; file names in findings are relative to it.
  KnowledgeLint(std::string ghostDirectory, const ZelkaConfig& config, Findings& findings);
  ~KnowledgeLint();

  // Reads one file into the knowledge base as a load would, with its file findings.
  KnowledgeFileReport readFile(const std::string& path, bool scrambled);
  // The findings over every entry read; call once, after the last file.
  void checkEntries();

  const KnowledgeBase& base() const { return base_; }

 private:
  struct FileText;  // a file's lines, for columns
  std::string relative(const std::string& path) const;
  void checkEncoding(const FileText& text, const std::string& file);

  std::string dir_;
  const ZelkaConfig& config_;
  Findings& findings_;
  KnowledgeBase base_;
  // By the file name entries carry: the file's name relative to the ghost, its lines, and
  // per block (by the line of its "{") the line of its conditional and whether the structure
  // findings already cover it.
  struct FileInfo {
    std::string relative;
    std::shared_ptr<FileText> text;
    std::map<std::size_t, std::size_t> conditionalLines;
    std::map<std::size_t, bool> blocksWithErrors;
  };
  std::map<std::string, FileInfo> files_;
};

}  // namespace zelka::host
