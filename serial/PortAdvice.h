#pragma once
// What the operator can do about a modem port that would not open, for the
// initialisation error boxes: a port the user may not open names the group
// and the new login it takes, a port held by another program names that
// program where the system tells.
#include <exception>
#include <string>

namespace kv {

// Station text to put under the box's first line; empty when the failure
// was no refused open.
std::string PortAdvice(int systemError, const std::string& portName);
// The same for the failure being handled (inside a catch block).
std::string PortAdvice(const std::exception_ptr& failure, const std::string& portName);

} // namespace kv
