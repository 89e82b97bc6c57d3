#include "core/FolderLock.h"

#include <windows.h>

namespace kv {

bool LockWorkingFolder()
{
    // Opened without sharing: a second station's open fails until this
    // process ends. Left open on purpose.
    const HANDLE file = ::CreateFileW(L"korvalen.lock", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
}

} // namespace kv
