// The interposer's event log: the statement numbers, the fetches gathered
// into runs, the clock and usage columns and the escaping of statement texts.
#include "odbc_interposer_events.h"

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include "odbc_interposer.h"

namespace {

// The event log: its file, the statement numbers given so far, and the
// fetches not yet written (a run of fetches on one statement is one event).
struct EventLog {
    std::FILE* events = nullptr;
    std::map<SQLHANDLE, long> eventNumbers;
    long nextEventNumber = 1;
    long pendingFetchNumber = 0;
    long pendingFetches = 0;
};

EventLog& eventLog() {
    static EventLog* log = new EventLog;  // never destroyed: calls may come during exit
    return *log;
}

constexpr std::size_t kEventBufferSize = 1 << 20;

// The statement's number in the event log, given at its first event.
long eventNumber(SQLHANDLE handle) {
    EventLog& s = eventLog();
    auto found = s.eventNumbers.find(handle);
    if (found != s.eventNumbers.end())
        return found->second;
    long number = s.nextEventNumber++;
    s.eventNumbers[handle] = number;
    return number;
}

void flushFetches() {
    EventLog& s = eventLog();
    if (s.pendingFetches > 0)
        std::fprintf(s.events, "F %ld %ld\n", s.pendingFetchNumber, s.pendingFetches);
    s.pendingFetches = 0;
}

// " T U Y M": the clock, the CPU times and the peak memory of the process.
void writeUsage(std::FILE* out) {
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(out, " %lld %lld %lld %ld",
                 static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                 static_cast<long long>(usage.ru_utime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec,
                 static_cast<long long>(usage.ru_stime.tv_sec) * 1000000LL + usage.ru_stime.tv_usec,
                 usage.ru_maxrss);
}

// Writes `text` with its backslashes and line breaks escaped, in runs between them.
void writeEscaped(std::FILE* out, const std::string& text) {
    std::size_t start = 0;
    for (;;) {
        std::size_t special = text.find_first_of("\\\n", start);
        std::size_t end = special == std::string::npos ? text.size() : special;
        std::fwrite(text.data() + start, 1, end - start, out);
        if (special == std::string::npos)
            return;
        std::fputs(text[special] == '\n' ? "\\n" : "\\\\", out);
        start = special + 1;
    }
}

void endEvents() {
    EventLog& s = eventLog();
    if (s.events == nullptr)
        return;
    flushFetches();
    std::fputc('Q', s.events);
    writeUsage(s.events);
    std::fputc('\n', s.events);
    std::fclose(s.events);
    s.events = nullptr;
    s.eventNumbers.clear();
}

bool startEvents(const char* path) {
    EventLog& s = eventLog();
    s.events = std::fopen(path, "w");
    if (s.events == nullptr)
        return false;
    std::setvbuf(s.events, nullptr, _IOFBF, kEventBufferSize);
    s.nextEventNumber = 1;
    s.pendingFetches = 0;
    std::fputc('S', s.events);
    writeUsage(s.events);
    std::fputc('\n', s.events);
    return true;
}

__attribute__((destructor)) void endEventsAtExit() {
    endEvents();
}

}  // namespace

bool eventLogFromEnvironment() {
    const char* events = std::getenv("VENDRAK_IP_EVENTS");
    if (events == nullptr)
        return false;
    if (!startEvents(events))
        std::fprintf(stderr, "odbc interposer: cannot write %s\n", events);
    return true;
}

void eventAttribute(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value) {
    EventLog& s = eventLog();
    if (s.events == nullptr)
        return;
    flushFetches();
    std::fprintf(s.events, "A %ld %ld %ld\n", eventNumber(stmt), static_cast<long>(attribute),
                 static_cast<long>(reinterpret_cast<SQLLEN>(value)));
}

void eventExec(SQLHSTMT stmt, const std::string& text) {
    EventLog& s = eventLog();
    if (s.events == nullptr)
        return;
    flushFetches();
    std::fprintf(s.events, "E %ld", eventNumber(stmt));
    writeUsage(s.events);
    std::fputc(' ', s.events);
    writeEscaped(s.events, text);
    std::fputc('\n', s.events);
}

void eventFetch(SQLHSTMT stmt) {
    EventLog& s = eventLog();
    if (s.events == nullptr)
        return;
    long number = eventNumber(stmt);
    if (s.pendingFetches > 0 && s.pendingFetchNumber != number)
        flushFetches();
    s.pendingFetchNumber = number;
    ++s.pendingFetches;
}

void eventFree(SQLHANDLE stmt) {
    EventLog& s = eventLog();
    if (s.events == nullptr)
        return;
    auto found = s.eventNumbers.find(stmt);
    if (found == s.eventNumbers.end())
        return;
    flushFetches();
    std::fprintf(s.events, "X %ld\n", found->second);
    s.eventNumbers.erase(found);
}

extern "C" int ipSetEventFile(const char* path) {
    endEvents();
    if (path == nullptr || *path == '\0')
        return 0;
    return startEvents(path) ? 0 : -1;
}
