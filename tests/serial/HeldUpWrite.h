#pragma once
// A write held up must end at its time-out, or when the port closes from
// another thread, on every platform: the pty tests and the link tests through
// a real driver share these.
#include "serial/CPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace kv::test {

// Writes until one comes back short (nobody reads, or the other end sent
// XOFF); false when every write went out.
inline bool HoldUpTheLine(TComPort& port)
{
    TComTimeouts quick;
    quick.WriteTotalMultiplier = 0;
    quick.WriteTotalConstant = 30;
    port.SetTimeouts(quick);
    const std::string chunk(4096, 'x');
    for (int i = 0; i < 1000; ++i) {
        if (port.WriteText(chunk) < static_cast<int>(chunk.size()))
            return true;
    }
    return false;
}

// `port`'s line is held up already: 20 bytes at 200 ms + 10 ms a byte.
inline void ExpectAHeldUpWriteEndsAtItsTimeOut(TComPort& port)
{
    TComTimeouts limit;
    limit.WriteTotalConstant = 200;
    limit.WriteTotalMultiplier = 10;
    port.SetTimeouts(limit);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(port.WriteText(std::string(20, 'a')), 20);
    const double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, 390.0);
    EXPECT_LT(elapsed, 1500.0);
}

// `port`'s line is held up already; waits `settle` to see the write stay.
inline void ExpectCloseEndsAHeldUpWrite(TComPort& port, std::chrono::milliseconds settle)
{
    TComTimeouts unlimited;
    unlimited.WriteTotalConstant = 0;
    unlimited.WriteTotalMultiplier = 0;
    port.SetTimeouts(unlimited);
    std::atomic<bool> returned{false};
    std::thread writer([&] {
        try {
            port.WriteText("ATD+79000000000;\r");
        } catch (const EComPort&) {
        }
        returned = true;
    });
    std::this_thread::sleep_for(settle);
    EXPECT_FALSE(returned) << "the line was not held up";
    const auto start = std::chrono::steady_clock::now();
    port.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    writer.join();
    EXPECT_TRUE(returned);
}

} // namespace kv::test
