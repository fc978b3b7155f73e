// Runs the real vendrak binary the way it is deployed: from a working
// directory two levels below a root that holds the settings file and the log
// folder, with the test interposer preloaded.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
    int exitCode = -1;             // 128 + signal when ended by a signal
    std::string output;            // standard output
    std::string errors;            // standard error
    std::vector<std::string> log;  // run log lines without their timestamps
    bool timestampsWellFormed = true;
    std::vector<std::string> trace;  // statement texts sent
    std::vector<long> waits;         // waits in milliseconds
};

// A run started in the background (ProgramRun::start).
struct StartedRun {
    int pid = -1;
    int input = -1;  // the parent's ends of its standard input and output
    int output = -1;
    std::string files;  // prefix of its trace, waits and standard error files
};

class ProgramRun {
  public:
    ProgramRun();  // a fresh root with files/, Quorvance_php/log/ and app/bin/
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Writes the settings file with the settings tool.
    void writeSettings(const std::string& login, const std::string& password,
                       const std::string& dbSystem, const std::string& database);
    // Interposer rules for the next run (see odbc_interposer.h).
    void setRules(const std::string& rules);
    // The command line that the rules' hooks run (empty: none).
    void setHook(const std::string& command) { hook_ = command; }
    // A further NAME=VALUE for the program's environment.
    void addEnvironment(const std::string& assignment) { environment_.push_back(assignment); }

    ProgramResult run(const std::vector<std::string>& arguments);

    // The same run in two steps, so that runs can overlap and be signalled:
    // start returns at once; finish waits for the end and collects the
    // result. Runs started together need their own `name`, which keeps their
    // trace, waits and standard error apart; the run log is shared.
    StartedRun start(const std::vector<std::string>& arguments, const std::string& name);
    ProgramResult finish(const StartedRun& started);

    const std::string& root() const { return root_; }

  private:
    std::string root_;
    std::string hook_;
    std::vector<std::string> environment_;
};
