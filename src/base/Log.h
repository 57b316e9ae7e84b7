// The diagnostic log as every part of the service sees it: a line, the debug switch, and a
// line written only in debug mode. Copied freely; the copies write to the same place and
// ask the same switch, so a collaborator never keeps a switch of its own.
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace zirvo {

class Log {
 public:
  using Sink = std::function<void(const std::string& line)>;
  using DebugSwitch = std::function<bool()>;

  // Writes nothing.
  Log() = default;
  // A log whose debug switch is off unless `debug` says otherwise at each use.
  explicit Log(Sink sink, DebugSwitch debug = {})
      : sink_(std::move(sink)), debug_(std::move(debug)) {}

  void Line(const std::string& message) const {
    if (sink_) sink_(message);
  }
  bool Debug() const { return debug_ && debug_(); }
  void DebugLine(const std::string& message) const {
    if (Debug()) Line(message);
  }

  // The same lines under another switch (a settings read follows the value it is reading).
  Log WithDebug(DebugSwitch debug) const { return Log(sink_, std::move(debug)); }
  // For an interface that takes a plain line writer.
  Sink Writer() const {
    return [sink = sink_](const std::string& line) {
      if (sink) sink(line);
    };
  }

 private:
  Sink sink_;
  DebugSwitch debug_;
};

}  // namespace zirvo
