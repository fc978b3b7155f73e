#include "log/console.h"

#include <cstdarg>
#include <cstdio>

#include "platform/monitoring.h"
#include "platform/text.h"

namespace {

// Room for a full run log line and a driver message of up to 999 characters.
constexpr std::size_t kConsoleLineSize = 2048;
constexpr std::size_t kProgressLabelWidth = 64;

struct ProgressLine {
    int terminal;  // -1 not yet asked, 0 no, 1 yes
    bool shown;    // a line without its line end stands on the terminal
    bool active;   // between Begin and End
    char label[kProgressLabelWidth];
    long rows;
    long long startMs;
    long long drawnMs;
};
ProgressLine Progress = {-1, false, false, {}, 0, 0, 0};

// Asked once: standard error does not change from terminal to pipe during
// a run, and a non-terminal then costs one comparison per row.
bool onTerminal() {
    if (Progress.terminal < 0)
        Progress.terminal = platformStandardErrorIsTerminal() ? 1 : 0;
    return Progress.terminal == 1;
}

// Driver messages may carry line ends (and end with one); on standard error
// each report must stay one line, without blanks at its end.
void makeOneLine(char* text) {
    std::size_t end = 0;
    for (std::size_t i = 0; text[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f)
            text[i] = ' ';
        if (text[i] != ' ')
            end = i + 1;
    }
    text[end] = '\0';
}

// Erases a progress line standing on the terminal; the next update draws
// it again below whatever was written in between.
void eraseProgress() {
    if (!Progress.shown)
        return;
    std::fputs("\r\033[K", stderr);
    Progress.shown = false;
}

void drawProgress(long long nowMs) {
    long long elapsedMs = nowMs - Progress.startMs;
    long rate = elapsedMs > 0 ? static_cast<long>(Progress.rows * 1000LL / elapsedMs) : 0;
    long seconds = static_cast<long>(elapsedMs / 1000);
    std::fprintf(stderr, "\r%s: %ld rows, %ld rows/s, %ld:%02ld\033[K", Progress.label,
                 Progress.rows, rate, seconds / 60, seconds % 60);
    std::fflush(stderr);
    Progress.shown = true;
    Progress.drawnMs = nowMs;
}

}  // namespace

void consoleLine(const char* format, ...) {
    char line[kConsoleLineSize];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    // The cut may have split a character; the line keeps only whole ones.
    if (length >= static_cast<int>(sizeof line))
        dropCutCharacter(line);
    makeOneLine(line);
    eraseProgress();
    std::fprintf(stderr, "vendrak: %s\n", line);
    std::fflush(stderr);
}

void consoleProgressBegin(const char* label) {
    if (!onTerminal())
        return;
    eraseProgress();
    copyField(Progress.label, label);
    Progress.rows = 0;
    Progress.startMs = platformMonotonicMs();
    Progress.active = true;
    drawProgress(Progress.startMs);
}

void consoleProgressRows(long rows) {
    if (!onTerminal() || !Progress.active)
        return;
    Progress.rows = rows;
    long long nowMs = platformMonotonicMs();
    if (nowMs - Progress.drawnMs >= kProgressIntervalMs)
        drawProgress(nowMs);
}

void consoleProgressEnd() {
    if (!onTerminal() || !Progress.active)
        return;
    drawProgress(platformMonotonicMs());
    std::fputs("\n", stderr);
    std::fflush(stderr);
    Progress.shown = false;
    Progress.active = false;
}
