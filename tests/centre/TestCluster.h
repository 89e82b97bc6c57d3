#pragma once
// The throw-away cluster that tests/centre/with-postgres.sh starts: where it
// is (KV_TEST_PG), how to stop and start it (KV_TEST_PG_CTL), and a fresh
// database of its own for each test.
#include "centre/Pg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

namespace kv::test {

inline std::string TestServer()
{
    const char* server = std::getenv("KV_TEST_PG");
    return server ? server : "";
}

// pg_ctl with `args` on the cluster ("stop -m immediate", "start -w -l server.log").
inline void ControlServer(const std::string& args)
{
    const char* ctl = std::getenv("KV_TEST_PG_CTL");
    ASSERT_NE(ctl, nullptr);
    ASSERT_EQ(std::system((std::string(ctl) + " " + args).c_str()), 0) << args;
}

// The connection string of a database made afresh for the running test: `prefix` and its name.
inline std::string FreshTestDatabase(const std::string& prefix)
{
    std::string name = prefix;
    for (char c : std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    name.resize(std::min<std::size_t>(name.size(), 63)); // the server's limit
    pg::Connection admin(TestServer() + " dbname=postgres");
    admin.Connect();
    // A name is no parameter: the server quotes it.
    admin.ExecScript(admin.Exec("SELECT format('DROP DATABASE IF EXISTS %I', $1::text)", {name}).Text(0, 0));
    admin.ExecScript(admin.Exec("SELECT format('CREATE DATABASE %I', $1::text)", {name}).Text(0, 0));
    return TestServer() + " dbname=" + name;
}

} // namespace kv::test
