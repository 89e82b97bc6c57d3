#pragma once
// Two stations working in one folder would write the same journals and logs:
// the first to lock "korvalen.lock" there keeps it for as long as it lives
// (the lock goes with the process, also when it is killed).
namespace kv {

// In the current directory. False when another process holds it (or the file
// cannot be made).
bool LockWorkingFolder();

} // namespace kv
