#pragma once
// What a modem worker needs of its port: bytes out, and closing and reopening
// after a link loss or when its device went away. TComPort implements it;
// worker tests use a fake port.
#include <string>

namespace kv {

class ISerialIo {
public:
    virtual ~ISerialIo() = default;
    // Writes the bytes; returns how many went out. Throws EComPort on failure.
    virtual int WriteText(const std::string& text) = 0;
    // Nothing when already open. Throws EComPort when the device cannot be opened.
    virtual void Open() = 0;
    // Nothing when already closed.
    virtual void Close() = 0;
    virtual bool Connected() const = 0;
    // The device went away while the port was open (unplugged, powered off):
    // the port stays "connected" but hears nothing until it is reopened.
    virtual bool DeviceLost() const { return false; }
};

} // namespace kv
