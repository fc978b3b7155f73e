#include "runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "test_config.h"

extern char** environ;

namespace {

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// A child started by spawnProcess: its process and the parent's ends of the
// pipes to its standard input and from its standard output.
struct Child {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
};

// Starts `argv` in `directory` with `extraEnv` added to the inherited
// environment. Standard error goes to the file `errorPath`, or is passed on
// when that is empty.
Child spawnProcess(const std::vector<std::string>& argv, const std::string& directory,
                   const std::vector<std::string>& extraEnv, const std::string& errorPath) {
    int toChild[2];
    int fromChild[2];
    // Close-on-exec, so that only the duplicates on 0 and 1 reach the
    // program: a server that a hook starts from it must not hold the output
    // pipe open after the program has ended.
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        return Child{};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        if (!errorPath.empty()) {
            int errorFile = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (errorFile < 0 || dup2(errorFile, 2) < 0)
                _exit(125);
        }
        close(toChild[1]);
        close(fromChild[0]);
        if (chdir(directory.c_str()) != 0)
            _exit(126);
        for (const std::string& assignment : extraEnv)
            putenv(const_cast<char*>(assignment.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execve(args[0], args.data(), environ);
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    return Child{pid, toChild[1], fromChild[0]};
}

// Feeds `input` to the child's standard input, collects its standard output
// into `output` and waits for its end; returns the exit code.
int finishProcess(const Child& child, const std::string& input, std::string* output) {
    if (child.pid < 0)
        return -1;
    if (!input.empty() && write(child.input, input.data(), input.size()) < 0) {
        ADD_FAILURE() << "could not write to the child";
    }
    close(child.input);
    char buffer[4096];
    ssize_t n;
    while ((n = read(child.output, buffer, sizeof buffer)) > 0) {
        if (output != nullptr)
            output->append(buffer, static_cast<std::size_t>(n));
    }
    close(child.output);
    int status = 0;
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    // A child ended by a signal (a sanitizer abort, a crash) reports 128 + the
    // signal number, as a shell would, so that it never passes for an exit code.
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `argv` to its end; see spawnProcess and finishProcess.
int runProcess(const std::vector<std::string>& argv, const std::string& directory,
               const std::vector<std::string>& extraEnv, const std::string& input,
               std::string* output, const std::string& errorPath = "") {
    return finishProcess(spawnProcess(argv, directory, extraEnv, errorPath), input, output);
}

}  // namespace

ProgramRun::ProgramRun() {
    char dirTemplate[] = "/tmp/vendrak-run-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
        return;
    }
    root_ = dirTemplate;
    for (const char* sub : {"/files", "/Quorvance_php/log", "/app/bin"}) {
        std::filesystem::create_directories(root_ + sub);
    }
}

ProgramRun::~ProgramRun() {
    if (!root_.empty())
        std::filesystem::remove_all(root_);
}

void ProgramRun::writeSettings(const std::string& login, const std::string& password,
                               const std::string& dbSystem, const std::string& database) {
    std::vector<std::string> argv = {VENDRAK_SETTINGS_TOOL,
                                     "write",
                                     root_ + "/files/quorvance.ini",
                                     "--login",
                                     login,
                                     "--password-stdin",
                                     "--db-system",
                                     dbSystem,
                                     "--database",
                                     database};
    ASSERT_EQ(runProcess(argv, root_, {}, password + "\n", nullptr), 0);
}

void ProgramRun::setRules(const std::string& rules) {
    std::ofstream(root_ + "/rules.txt") << rules << '\n';
}

ProgramResult ProgramRun::run(const std::vector<std::string>& arguments) {
    return finish(start(arguments, ""));
}

StartedRun ProgramRun::start(const std::vector<std::string>& arguments, const std::string& name) {
    std::vector<std::string> argv = {VENDRAK_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    StartedRun started;
    started.files = root_ + "/" + name;
    std::vector<std::string> env = {
        std::string("LD_PRELOAD=") + VENDRAK_INTERPOSER,
        "VENDRAK_IP_SCRIPT=" + root_ + "/rules.txt",
        "VENDRAK_IP_TRACE=" + started.files + "trace.txt",
        "VENDRAK_IP_WAITS=" + started.files + "waits.txt",
        "VENDRAK_IP_HOOK=" + hook_,
    };
    env.insert(env.end(), environment_.begin(), environment_.end());
    std::filesystem::remove(started.files + "trace.txt");
    std::filesystem::remove(started.files + "waits.txt");
    Child child = spawnProcess(argv, root_ + "/app/bin", env, started.files + "stderr.txt");
    started.pid = child.pid;
    started.input = child.input;
    started.output = child.output;
    return started;
}

ProgramResult ProgramRun::finish(const StartedRun& started) {
    ProgramResult result;
    result.exitCode =
        finishProcess(Child{started.pid, started.input, started.output}, "", &result.output);
    std::ifstream errors(started.files + "stderr.txt");
    result.errors.assign(std::istreambuf_iterator<char>(errors), std::istreambuf_iterator<char>());
    // Passed on as well, so that a sanitizer's report stays in the test output.
    std::fputs(result.errors.c_str(), stderr);

    static const std::regex timestamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d .*)");
    // Only a regular file is a log; reading a FIFO would wait for a writer.
    const std::string logPath = root_ + "/Quorvance_php/log/vendraklog.txt";
    bool regular = std::filesystem::is_regular_file(std::filesystem::symlink_status(logPath));
    for (const std::string& line : regular ? readLines(logPath) : std::vector<std::string>()) {
        if (!std::regex_match(line, timestamp))
            result.timestampsWellFormed = false;
        result.log.push_back(line.size() >= 20 ? line.substr(20) : line);
    }
    result.trace = readLines(started.files + "trace.txt");
    for (const std::string& wait : readLines(started.files + "waits.txt")) {
        result.waits.push_back(std::stol(wait));
    }
    return result;
}
