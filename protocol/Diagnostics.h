#pragma once
// Where the protocol side sends its diagnostic texts. The engine implements it (message box
// and/or vepMessage event); the codec only reports through it. Called on the engine's main
// thread.
#include <string>

namespace scoutor {

class TVEPDiagnostics {
 public:
  virtual ~TVEPDiagnostics() = default;
  virtual void ReportMessage(const std::string& text) = 0;
};

}  // namespace scoutor
