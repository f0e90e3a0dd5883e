#pragma once
// The program run against the virtual console: a folder of its own per test,
// the console serving it, and what the program left in "Log.txt".

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "virtual_console.h"

namespace ravelin::testing {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t e = text.find_first_of("\r\n", pos);
        if (e == std::string::npos) e = text.size();
        out.push_back(text.substr(pos, e - pos));
        pos = text.find_first_not_of("\r\n", e);
        if (pos == std::string::npos) break;
    }
    return out;
}

class ConsoleFixture : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("ravelin-run-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        config.hexLines = 60;
        config.writeSimLog = false;
    }
    void TearDown() override {
        console.reset();
        fs::remove_all(folder);
    }
    void Serve() {
        console = std::make_unique<sim::VirtualConsole>(config);
        console->start();
        ASSERT_TRUE(console->writeFolder(folder)) << console->lastError();
    }
    std::vector<std::string> Ravelin(std::vector<std::string> args) {
        std::vector<std::string> argv = {RAVELIN_EXE, "--folder", folder.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    std::vector<std::string> Log() { return Lines(ReadFile(folder / "Log.txt")); }
    bool LogHas(const std::string& text) {
        for (auto& l : Log())
            if (l.size() > 31 && l.substr(31) == text) return true;
        return false;
    }

    fs::path folder;
    sim::ConsoleConfig config;
    std::unique_ptr<sim::VirtualConsole> console;
};

} // namespace ravelin::testing
