#pragma once
// A write held up on another thread must end when the port closes, on every
// platform: the pty tests and the link tests through a real driver share it.
#include "serial/CPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace kv::test {

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
