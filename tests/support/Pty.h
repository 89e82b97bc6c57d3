#pragma once
// A pseudo-terminal pair standing in for a serial device: the code under test
// opens SlavePath() like a port, the test plays the device on the master side.
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace kv::test {

class Pty {
public:
    // Opens a master in raw mode (no echo, no line editing, 8 bits clean).
    // Fails the current test (and leaves MasterFd() -1) when none can be had.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // "/dev/pts/N": the name to give the port.
    const std::string& SlavePath() const { return m_slavePath; }
    int MasterFd() const { return m_master; }
    bool MasterOpen() const { return m_master >= 0; }

    // Writes all bytes as the device, waiting while the line is full; false
    // when the deadline passes first or the master fails.
    bool Write(std::string_view bytes, std::chrono::milliseconds deadline = std::chrono::seconds(2));
    // Reads until `count` bytes have come or the deadline passes; returns what came.
    std::string Read(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(2));
    // Everything that arrives within `quiet` of silence after the last byte, at most `limit` in all.
    std::string ReadAll(std::chrono::milliseconds quiet = std::chrono::milliseconds(50),
                        std::chrono::milliseconds limit = std::chrono::seconds(2));

    // The device vanishes: the slave side sees a hang-up.
    void CloseMaster();

private:
    int m_master = -1;
    std::string m_slavePath;
};

} // namespace kv::test
