#pragma once
// The process-wide debug flag, switched on by the start-up option "-d": diagnostics become log
// lines only while it is on.
namespace scoutor {

bool DebugMode();
void SetDebugMode(bool on);

}  // namespace scoutor
