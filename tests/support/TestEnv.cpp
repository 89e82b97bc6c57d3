// Compiled into every test program: makes the build's folders known through
// the environment, as the station's tools and child processes expect them.
#include <cstdlib>

namespace {
#ifdef _WIN32
// setenv's "keep what is set" on Windows.
void setenv(const char* name, const char* value, int)
{
    if (!std::getenv(name))
        _putenv_s(name, value);
}
#endif

struct TestEnv {
    TestEnv()
    {
        setenv("KORVALEN_SOURCE_DIR", KORVALEN_TEST_SOURCE_DIR, 0);
        setenv("KORVALEN_BIN_DIR", KORVALEN_TEST_BIN_DIR, 0);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
} g_testEnv;
} // namespace
