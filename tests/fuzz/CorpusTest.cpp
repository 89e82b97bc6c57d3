// Every committed corpus file and every crash input the fuzzers found goes
// through its harness in each test run, so what once broke stays mended and
// the corpora keep exercising the properties in the plain and sanitizer builds.
#include "tests/fuzz/Harnesses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace kv::fuzz {
namespace {

namespace fs = std::filesystem;

struct HarnessFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Throw(const std::string& message) { throw HarnessFailure(message); }

using Harness = int (*)(const std::uint8_t*, std::size_t);

std::vector<fs::path> InputsOf(const std::string& target, const char* kind)
{
    std::vector<fs::path> files;
    const fs::path dir = fs::path(std::getenv("KORVALEN_SOURCE_DIR")) / "tests" / "fuzz" / kind / target;
    if (fs::is_directory(dir))
        for (const fs::directory_entry& e : fs::directory_iterator(dir))
            if (e.is_regular_file())
                files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

void Replay(const std::string& target, Harness harness)
{
    SetFailureHandler(&Throw);
    const std::vector<fs::path> corpus = InputsOf(target, "corpus");
    // A corpus that went missing would make this test pass on nothing.
    ASSERT_GE(corpus.size(), 5u) << "corpus of " << target << " missing";
    std::vector<fs::path> inputs = corpus;
    const std::vector<fs::path> regressions = InputsOf(target, "regressions");
    inputs.insert(inputs.end(), regressions.begin(), regressions.end());
    for (const fs::path& file : inputs) {
        std::ifstream in(file, std::ios::binary);
        ASSERT_TRUE(in) << "cannot read " << file;
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        try {
            harness(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        } catch (const HarnessFailure& e) {
            ADD_FAILURE() << file.string() << ": " << e.what();
        } catch (const std::exception& e) {
            ADD_FAILURE() << file.string() << ": exception escaped the harness: " << e.what();
        }
    }
    SetFailureHandler(nullptr);
}

TEST(FuzzCorpus, TableLoader) { Replay("fuzz_table_loader", &FuzzTableLoader); }
TEST(FuzzCorpus, Ucs2) { Replay("fuzz_ucs2", &FuzzUcs2); }
TEST(FuzzCorpus, ReadReply) { Replay("fuzz_read_reply", &FuzzReadReply); }
TEST(FuzzCorpus, ReplyDispatch) { Replay("fuzz_reply_dispatch", &FuzzReplyDispatch); }
TEST(FuzzCorpus, SmsPdu) { Replay("fuzz_sms_pdu", &FuzzSmsPdu); }
TEST(FuzzCorpus, LastContacts) { Replay("fuzz_last_contacts", &FuzzLastContacts); }

} // namespace
} // namespace kv::fuzz
