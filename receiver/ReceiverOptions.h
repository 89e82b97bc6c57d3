#pragma once
// The receiver's command line: "korvalen-receiver --data DIR [--config FILE]".
#include <string>
#include <vector>

namespace kv {

struct ReceiverOptions {
    std::string data;   // the tables' folder, which becomes the working directory
    std::string config; // "config.ini"; empty: the one in the data folder
    bool help = false;
    std::string error;  // station text; empty when the line was understood
};

// `args` without the program's name.
ReceiverOptions ParseReceiverArgs(const std::vector<std::string>& args);
// The usage text (station text).
std::string ReceiverUsage();

} // namespace kv
