// ddtool run in this process, as its Linux build runs: a simulated machine
// with one card in the reader, made afresh for every run. What it printed is
// kept whole and as "key: value" lines.
#pragma once

#include "ddtool.h"
#include "sim_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

class DdtoolTest : public ::testing::Test {
  protected:
    struct Run {
        int exitCode = -1;
        std::string out, err, progress;
        std::map<std::string, std::string> values; // each "key: value" line of out
        std::vector<std::string> keys;             // the keys in order
    };

    // `input`: what standard input holds for FILE -.
    Run ddtool(std::vector<std::string> args, bool terminal = false, const std::string& input = "") {
        Run r;
        host = std::make_unique<ddtool::SimHost>(terminal, &r.progress, &input, betweenCalls);
        const ddtool::Outcome o = ddtool::run(*host, args);
        r.exitCode = o.exitCode;
        r.out = o.out;
        r.err = o.err;
        std::size_t start = 0;
        while (start < r.out.size()) {
            const auto end = r.out.find('\n', start);
            const std::string line = r.out.substr(start, end - start);
            const auto colon = line.find(": ");
            if (colon != std::string::npos) {
                r.keys.push_back(line.substr(0, colon));
                r.values[r.keys.back()] = line.substr(colon + 2);
            }
            start = end == std::string::npos ? r.out.size() : end + 1;
        }
        return r;
    }

    // A file in the test's own folder, holding `bytes`.
    std::string file(const std::string& name, const std::vector<std::uint8_t>& bytes = {}) {
        const std::string path = ::testing::TempDir() + "ddtool_" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
    static std::vector<std::uint8_t> contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    // A new empty folder of the test's own, for files ddtool makes.
    static std::string folder(const std::string& name) {
        const std::string path = ::testing::TempDir() + "ddtool_" + name;
        std::filesystem::remove_all(path);
        std::filesystem::create_directory(path);
        return path + "/";
    }

    // The host of the last run: its machine and reader stay for inspection.
    std::unique_ptr<ddtool::SimHost> host;
    // What happens between a read's library calls, in the runs that follow.
    std::function<void()> betweenCalls;
};
