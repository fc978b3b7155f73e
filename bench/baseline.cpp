// The benchmark's baseline: replays the driver calls that a vendrak run made,
// as the test interposer recorded them in its event log (VENDRAK_IP_EVENTS),
// through the same driver manager, driver and data source, with as little
// client code as possible. Each recorded statement text is executed with
// SQLExecDirect on a handle of its own, a query's columns are bound once as
// text, and every handle fetches exactly as often as the program's did at the
// same point of the sequence, so cursors stay open while the other
// statements run, as in the program (the driver's transactions then come out
// the same). The connection keeps the driver's defaults, auto-commit
// included, as the program's does. What this costs is the limit for the
// statement sequence on this driver.
//
//   vendrak_bench_baseline EVENTS DSN [MARK...]
//
// The user and password come from VENDRAK_BENCH_USER and
// VENDRAK_BENCH_PASSWORD. For every MARK, at the first statement whose text
// begins with it, a line "mark I T U Y N" is printed (I the mark's index from
// 0, T seconds since the start, U and Y the user and system CPU seconds, N
// the statements executed before it); at the end "end T U Y N FAILED M" (M
// the peak resident memory in KiB). Exit code 0, 1 when the connection or
// the event log cannot be opened, 2 on a wrong command line.
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Wide enough for every column the program reads (a terminal name of 255
// characters is the widest).
constexpr SQLLEN kColumnWidth = 256;

struct Replayed {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    std::vector<char> columns;
    std::vector<SQLLEN> indicators;
};

struct Clock {
    struct timespec start = {};
};

double secondsSince(const Clock& clock) {
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - clock.start.tv_sec) +
           static_cast<double>(now.tv_nsec - clock.start.tv_nsec) / 1e9;
}

void printUsage(const Clock& clock, long statements) {
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf(" %.6f %.6f %.6f %ld", secondsSince(clock),
                static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6,
                static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6,
                statements);
}

// The statement text of an E event: the rest of the line after the sixth
// blank, with the interposer's escapes undone.
std::string eventText(const std::string& line) {
    std::size_t position = 0;
    for (int blank = 0; blank < 6 && position != std::string::npos; ++blank)
        position = line.find(' ', position + 1);
    std::string text;
    if (position == std::string::npos)
        return text;
    for (std::size_t i = position + 1; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            text += line[i + 1] == 'n' ? '\n' : line[i + 1];
            ++i;
        } else {
            text += line[i];
        }
    }
    return text;
}

class Replay {
  public:
    explicit Replay(SQLHDBC connection) : connection_(connection) {}

    Replayed& statement(long number) {
        Replayed& replayed = statements_[number];
        if (replayed.handle == SQL_NULL_HSTMT)
            SQLAllocHandle(SQL_HANDLE_STMT, connection_, &replayed.handle);
        return replayed;
    }

    // Executes the text; a query gets its columns bound once, as text.
    bool execute(long number, const std::string& text) {
        Replayed& replayed = statement(number);
        SQLRETURN rc = SQLExecDirect(
            replayed.handle, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
        if (rc == SQL_ERROR)
            return false;
        SQLSMALLINT count = 0;
        SQLNumResultCols(replayed.handle, &count);
        if (count > 0) {
            replayed.columns.assign(static_cast<std::size_t>(count) * kColumnWidth, '\0');
            replayed.indicators.assign(static_cast<std::size_t>(count), 0);
            for (SQLSMALLINT column = 0; column < count; ++column) {
                SQLBindCol(replayed.handle, static_cast<SQLUSMALLINT>(column + 1), SQL_C_CHAR,
                           replayed.columns.data() + column * kColumnWidth, kColumnWidth,
                           replayed.indicators.data() + column);
            }
        }
        return true;
    }

    void fetch(long number, long count) {
        SQLHSTMT handle = statement(number).handle;
        for (long i = 0; i < count; ++i)
            SQLFetch(handle);
    }

    void free(long number) {
        auto found = statements_.find(number);
        if (found == statements_.end())
            return;
        SQLFreeHandle(SQL_HANDLE_STMT, found->second.handle);
        statements_.erase(found);
    }

  private:
    SQLHDBC connection_;
    std::unordered_map<long, Replayed> statements_;
};

SQLCHAR* odbcText(const char* text) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: vendrak_bench_baseline EVENTS DSN [MARK...]\n");
        return 2;
    }
    Clock clock;
    clock_gettime(CLOCK_MONOTONIC, &clock.start);
    std::ifstream events(argv[1]);
    if (!events) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const char* user = std::getenv("VENDRAK_BENCH_USER");
    const char* password = std::getenv("VENDRAK_BENCH_PASSWORD");
    SQLHENV environment = SQL_NULL_HENV;
    SQLHDBC connection = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment);
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  SQL_IS_INTEGER);
    SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection);
    if (!SQL_SUCCEEDED(SQLConnect(connection, odbcText(argv[2]), SQL_NTS,
                                  odbcText(user != nullptr ? user : ""), SQL_NTS,
                                  odbcText(password != nullptr ? password : ""), SQL_NTS))) {
        std::fprintf(stderr, "cannot connect to %s\n", argv[2]);
        return 1;
    }

    std::vector<bool> marked(static_cast<std::size_t>(argc - 3), false);
    Replay replay(connection);
    long statements = 0;
    long failed = 0;
    std::string line;
    while (std::getline(events, line)) {
        if (line.size() < 3)
            continue;
        // Every event but S and Q names its statement first.
        char* rest = nullptr;
        long number = std::strtol(line.c_str() + 2, &rest, 10);
        if (line[0] == 'E') {
            std::string text = eventText(line);
            for (int mark = 3; mark < argc; ++mark) {
                std::size_t index = static_cast<std::size_t>(mark - 3);
                if (!marked[index] && text.compare(0, std::strlen(argv[mark]), argv[mark]) == 0) {
                    marked[index] = true;
                    std::printf("mark %zu", index);
                    printUsage(clock, statements);
                    std::printf("\n");
                }
            }
            ++statements;
            if (!replay.execute(number, text))
                ++failed;
        } else if (line[0] == 'F') {
            replay.fetch(number, std::strtol(rest, nullptr, 10));
        } else if (line[0] == 'A') {
            long attribute = std::strtol(rest, &rest, 10);
            long value = std::strtol(rest, nullptr, 10);
            SQLSetStmtAttr(replay.statement(number).handle, static_cast<SQLINTEGER>(attribute),
                           reinterpret_cast<SQLPOINTER>(value), SQL_IS_INTEGER);
        } else if (line[0] == 'X') {
            replay.free(number);
        }
    }
    SQLDisconnect(connection);
    SQLFreeHandle(SQL_HANDLE_DBC, connection);
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("end");
    printUsage(clock, statements);
    std::printf(" %ld %ld\n", failed, usage.ru_maxrss);
    return 0;
}
