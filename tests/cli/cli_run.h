#pragma once
// A test that runs quillmark-cli with a temporary folder of its own, keeping what it printed.
#include <string>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

class CliRunTest : public ::testing::Test {
protected:
    qmtest::TempDir dir;
    qmtest::TempDir temp;  // the program's temporary folder
    std::string out;       // stdout and stderr of the last run

    int Cli(const std::string &args) {
        return qmtest::RunCommand("TMPDIR=" + qmtest::ShellQuote(temp.Path()) + " " + QM_CLI_PATH + " " + args +
                                      " </dev/null",
                                  &out);
    }
    std::string Q(const std::string &name) { return qmtest::ShellQuote(dir.File(name)); }
};
