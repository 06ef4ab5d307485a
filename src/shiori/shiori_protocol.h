// The text layer of the protocol: parses request text into the header list and renders the
// response header list through the template table. Everything works on bytes; nothing is
// decoded. A byte 0x01 acts as a line end in requests and templates. Work is linear in the
// text and bounded in depth, whatever bytes arrive.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shiori/shiori_message.h"

namespace zelka {

class ShioriProtocol {
 public:
  ShioriProtocol() = default;
  virtual ~ShioriProtocol() = default;
  ShioriProtocol(const ShioriProtocol&) = delete;
  ShioriProtocol& operator=(const ShioriProtocol&) = delete;

  // Renders the response in the header list (consuming the entries its placeholders use).
  // nullopt when there is no response key or template, or when no line has a value.
  virtual std::optional<std::string> render();
  // Clears the header list and files the request's command line and headers in it. True
  // exactly when a command line (the first line that contains a space) was seen.
  virtual bool parse(std::optional<std::string_view> text);
  // Stores the directory and fills the template table; false for an absent directory.
  virtual bool load(std::optional<std::string_view> directory);

  // Sets "sstp_status:" to the status text of the code; false (nothing set) for code 0 or a
  // code without a status text.
  bool setStatus(int code);
  // "sstp_command:" + " " + "sstp_type:", when both have values.
  std::optional<std::string> responseKey() const;

  ShioriMessage& message() { return message_; }
  const ShioriMessage& message() const { return message_; }
  TemplateTable& templates() { return templates_; }
  const TemplateTable& templates() const { return templates_; }
  const std::string& protocolDirectory() const { return directory_; }

  // Splits text into its CR LF terminated lines, stopping at the first empty line or where no
  // CR LF follows.
  static std::vector<std::string_view> splitLines(std::string_view text);
  // Replaces every byte 0x01 by CR LF.
  static std::string expandSoh(std::string_view text);

  // Expands one template line against the header list: placeholders are replaced by header
  // values (each consuming the earliest entry of its header) and a value that brings line
  // ends is expanded again piece by piece. nullopt when a placeholder has no value or the
  // result is empty.
  std::optional<std::string> expandLine(std::string_view line, int depth = 0);

 protected:
  ShioriMessage message_;
  TemplateTable templates_;
  std::string directory_;
};

}  // namespace zelka
