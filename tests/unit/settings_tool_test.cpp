// Runs the real vendrak-settings binary (path in VENDRAK_SETTINGS_TOOL).

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>

#include "settings/settings.h"

namespace {

struct RunResult {
    int exitCode;
    std::string output;
    std::string errors;  // standard error
};

class SettingsTool : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tool = std::getenv("VENDRAK_SETTINGS_TOOL");
        ASSERT_NE(tool, nullptr) << "VENDRAK_SETTINGS_TOOL names the tool; ctest sets it";
        tool_ = tool;
        char pattern[] = "/tmp/vendrak_tool_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        file_ = dir_ + "/quorvance.ini";
    }
    void TearDown() override {
        if (!dir_.empty()) {
            std::filesystem::remove_all(dir_);
            std::filesystem::remove(dir_ + ".errors");
        }
    }

    // Runs the tool with `arguments` (shell syntax) and `stdinText` (printf
    // syntax) on standard input. Standard error goes to a file beside the
    // test folder, so the folder holds only what the tool writes.
    RunResult run(const std::string& arguments, const std::string& stdinText = "") {
        std::string command = "'" + tool_ + "' " + arguments + " 2>'" + dir_ + ".errors'";
        if (stdinText.empty())
            command += " </dev/null";
        else
            command = "printf '" + stdinText + "' | " + command;
        RunResult result{-1, "", ""};
        std::FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr)
            return result;
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            result.output.append(buffer, n);
        int status = pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream errors(dir_ + ".errors");
        result.errors.assign(std::istreambuf_iterator<char>(errors),
                             std::istreambuf_iterator<char>());
        return result;
    }
    std::string writeArgs(const std::string& passwordOption) {
        return "write '" + file_ + "' --login qvsystem --db-system MSSQL --database 'QVS DSN' " +
               passwordOption;
    }
    std::string read() const {
        std::ifstream in(file_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string tool_;
    std::string dir_;
    std::string file_;
};

TEST_F(SettingsTool, WrittenFileReadsBackThroughShowAndTheReader) {
    ASSERT_EQ(run(writeArgs("--password 'geh;eim 1'")).exitCode, 0);

    RunResult shown = run("show '" + file_ + "'");
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_EQ(shown.output, "LOGIN=qvsystem\nPASS=***\nDB_SYSTEM=MSSQL\nDATABASE=QVS DSN\n");

    loadSettings(file_.c_str());
    EXPECT_STREQ(Settings.login, "qvsystem");
    EXPECT_STREQ(Settings.password, "geh;eim 1");
    EXPECT_STREQ(Settings.dbSystem, "MSSQL");
    EXPECT_STREQ(Settings.database, "QVS DSN");
}

TEST_F(SettingsTool, FileIsWellFormedWithLfLineEndsAndMode0600) {
    ASSERT_EQ(run(writeArgs("--password geheim")).exitCode, 0);
    std::regex layout(
        "(1;[^;\n]+;[^\n]*\n1;LOGIN;[0-9A-F]+\n)"
        "(2;[^;\n]+;[^\n]*\n2;PASS;[0-9A-F]+\n)"
        "(3;[^;\n]+;[^\n]*\n3;DB_SYSTEM;[0-9A-F]+\n)"
        "(4;[^;\n]+;[^\n]*\n4;DATABASE;[0-9A-F]+\n)");
    EXPECT_TRUE(std::regex_match(read(), layout)) << read();

    struct stat info;
    ASSERT_EQ(stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(SettingsTool, ReplacingAnExistingFileLeavesMode0600) {
    std::ofstream(file_) << "old\n";
    ASSERT_EQ(chmod(file_.c_str(), 0644), 0);
    ASSERT_EQ(run(writeArgs("--password geheim")).exitCode, 0);
    struct stat info;
    ASSERT_EQ(stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(std::filesystem::directory_iterator(dir_)->path(), file_) << "temp file left";
}

TEST_F(SettingsTool, PasswordFromStandardInputWithoutItsLineEnd) {
    for (const char* input : {"secret pass\\n", "secret pass\\r\\n", "secret pass"}) {
        ASSERT_EQ(run(writeArgs("--password-stdin"), input).exitCode, 0) << input;
        loadSettings(file_.c_str());
        EXPECT_STREQ(Settings.password, "secret pass") << input;
    }
}

TEST_F(SettingsTool, LongestValuesThatReadBackAreAcceptedOneMoreIsRefused) {
    std::string password(192, 'p');
    ASSERT_EQ(run(writeArgs("--password " + password)).exitCode, 0);
    loadSettings(file_.c_str());
    EXPECT_EQ(std::string(Settings.password), password);
    EXPECT_EQ(run(writeArgs("--password " + password + "p")).exitCode, 2);

    std::string base = "write '" + file_ + "' --password x --login l ";
    EXPECT_EQ(run(base + "--db-system MYSQL --database " + std::string(40, 'd')).exitCode, 0);
    EXPECT_EQ(run(base + "--db-system 1234567890 --database d").exitCode, 2);
    EXPECT_EQ(run(base + "--db-system d --database " + std::string(41, 'd')).exitCode, 2);
}

TEST_F(SettingsTool, UsageErrorsExitWith2AndWriteNothing) {
    const std::string file = "'" + file_ + "'";
    const std::string full = " --login l --db-system MSSQL --database d";
    const std::string cases[] = {
        "",
        "frobnicate",
        "write",
        "write --login l --password p --db-system MSSQL --database d",
        "write " + file + " --password p --db-system MSSQL --database d",
        "write " + file + " --login l --password p --db-system MSSQL",
        "write " + file + full,
        "write " + file + full + " --password p --password-stdin",
        "write " + file + full + " --password",
        "write " + file + full + " --password p --login again",
        "write " + file + full + " --password ''",
        "write " + file + full + " --password 'two\nlines'",
        "write " + file + full + " --password p --colour blue",
        "show",
        "encipher",
        "encipher a b",
    };
    for (const std::string& arguments : cases) {
        EXPECT_EQ(run(arguments).exitCode, 2) << arguments;
        EXPECT_FALSE(std::filesystem::exists(file_)) << arguments;
    }
    EXPECT_EQ(run("write " + file + full + " --password-stdin").exitCode, 2) << "empty stdin";
}

// Values the program could not use as written are refused with a message
// that names the setting, before anything is written.
TEST_F(SettingsTool, ValuesTheProgramCannotUseAreRefused) {
    const std::string file = "'" + file_ + "'";
    const std::string dbSystem = "must be ORACLE, MSSQL or MYSQL";
    const struct {
        std::string options;
        std::string stdinText;
        std::string message;
    } cases[] = {
        {"--login " + std::string(200, 'l') + " --password p --db-system MSSQL --database d", "",
         "the LOGIN value is longer than 192 characters"},
        {"--login l --password " + std::string(200, 'p') + " --db-system MSSQL --database d", "",
         "the PASS value is longer than 192 characters"},
        {"--login l --password-stdin --db-system MSSQL --database d", std::string(200, 'p'),
         "the password on standard input is too long"},
        {"--login l --password p --db-system MSSQL --database " + std::string(41, 'd'), "",
         "the DATABASE value is longer than 40 characters"},
        {"--login l --password p --db-system oracle --database d", "", dbSystem},
        {"--login l --password p --db-system 'MSSQL ' --database d", "", dbSystem},
        {"--login l --password p --db-system SYBASE --database d", "", dbSystem},
    };
    for (const auto& c : cases) {
        RunResult result = run("write " + file + " " + c.options, c.stdinText);
        EXPECT_EQ(result.exitCode, 2) << c.options;
        EXPECT_NE(result.errors.find(c.message), std::string::npos) << result.errors;
        EXPECT_FALSE(std::filesystem::exists(file_)) << c.options;
    }
}

// Secrets on the command line show in the process list: standard input is
// the way for both, and --password still works but warns.
TEST_F(SettingsTool, SecretsComeFromStandardInputOrWithAWarning) {
    RunResult piped = run("encipher -", "pass word;7\\n");
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_EQ(piped.output, run("encipher 'pass word;7'").output);
    EXPECT_EQ(run("encipher -", std::string(200, 'x')).exitCode, 2);

    const std::string warning = "--password shows the password in the process list";
    RunResult given = run(writeArgs("--password geheim"));
    EXPECT_EQ(given.exitCode, 0);
    EXPECT_NE(given.errors.find(warning), std::string::npos) << given.errors;
    EXPECT_EQ(run(writeArgs("--password-stdin"), "geheim\\n").errors, "");
}

// What the terminal shows, up to `until`, or up to the end of the tool (its
// side closed) when `until` is empty; at most 10 seconds between reads.
std::string readTerminal(int master, const std::string& until) {
    std::string text;
    char buffer[512];
    struct pollfd ready = {master, POLLIN, 0};
    ssize_t n = 0;
    while ((until.empty() || text.find(until) == std::string::npos) && poll(&ready, 1, 10000) > 0 &&
           (n = read(master, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

// Typed at a terminal, the password is not echoed, and the terminal has its
// echo back afterwards, also when the input is refused as too long.
TEST_F(SettingsTool, PasswordTypedAtATerminalIsNotEchoed) {
    for (const std::string& typed : {std::string("geheim-am-terminal"), std::string(300, 'q')}) {
        int master = -1;
        pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            execl(tool_.c_str(), tool_.c_str(), "write", file_.c_str(), "--login", "l",
                  "--password-stdin", "--db-system", "MSSQL", "--database", "d", nullptr);
            _exit(127);
        }
        std::string shown = readTerminal(master, "Password: ");
        std::string line = typed + "\n";
        EXPECT_EQ(write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        shown += readTerminal(master, "");
        struct termios after = {};
        EXPECT_EQ(tcgetattr(master, &after), 0);
        close(master);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_EQ(shown.find(typed.substr(0, 10)), std::string::npos) << shown;
        EXPECT_NE(after.c_lflag & ECHO, 0u) << "echo restored";
        EXPECT_EQ(WEXITSTATUS(status), typed.size() < 200 ? 0 : 2) << shown;
    }
    loadSettings(file_.c_str());
    EXPECT_STREQ(Settings.password, "geheim-am-terminal");
}

TEST_F(SettingsTool, HelpPrintsUsageAndExits0) {
    RunResult help = run("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("vendrak-settings write FILE"), std::string::npos);
    EXPECT_NE(help.output.find("PASS=***"), std::string::npos);
    // "--help" as the value of an option is a value, not the option.
    EXPECT_EQ(run(writeArgs("--password --help")).exitCode, 0);
    loadSettings(file_.c_str());
    EXPECT_STREQ(Settings.password, "--help");
}

TEST_F(SettingsTool, FileErrorsExitWith1) {
    EXPECT_EQ(run("show '" + dir_ + "/missing.ini'").exitCode, 1);
    file_ = dir_ + "/missing/quorvance.ini";
    EXPECT_EQ(run(writeArgs("--password geheim")).exitCode, 1);
}

TEST_F(SettingsTool, ShowResolvesAsTheProgramDoes) {
    // A record numbered 0 first: only its key counts, so no lookup takes it.
    RunResult zero = run("encipher zero");
    ASSERT_EQ(zero.exitCode, 0);
    std::ofstream(file_) << "1;DATABASE;CONNECT\n0;OTHER;" << zero.output;
    RunResult shown = run("show '" + file_ + "'");
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_EQ(shown.output, "LOGIN=\nPASS=\nDB_SYSTEM=\nDATABASE=\n");

    std::ofstream(file_) << "";
    EXPECT_EQ(run("show '" + file_ + "'").output, "LOGIN=\nPASS=\nDB_SYSTEM=\nDATABASE=\n");
}

}  // namespace
