// Fuzzes the statement formatter. Input: the pattern, then one value per
// line: "#<number>" is an integer (read as strtol reads it), any other line
// a text; a last line feed only ends the last line. Every input is formatted
// for ORACLE and for MYSQL (which doubles backslashes as well).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "db/statement.h"
#include "fuzz_check.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace {

// A piece of a statement as an SQL lexer reads it: code outside literals,
// or the content of one string literal with its escapes undone.
struct Token {
    bool literal;
    std::string text;
    bool operator==(const Token& other) const {
        return literal == other.literal && text == other.text;
    }
};

// Reads statement text by the literal rules of the DB system: a quote opens
// a literal, '' inside it is one quote, and for MYSQL a backslash takes the
// next character as it is.
class Lexer {
  public:
    explicit Lexer(bool mysql) : mysql_(mysql) {}

    void feed(char c) {
        switch (state_) {
            case State::Code:
                if (c == '\'') {
                    tokens_.push_back({true, ""});
                    state_ = State::Literal;
                } else {
                    if (tokens_.empty() || tokens_.back().literal)
                        tokens_.push_back({false, ""});
                    tokens_.back().text += c;
                }
                return;
            case State::Literal:
                if (escaped_) {
                    tokens_.back().text += c;
                    escaped_ = false;
                } else if (mysql_ && c == '\\') {
                    escaped_ = true;
                } else if (c == '\'') {
                    state_ = State::Closing;
                } else {
                    tokens_.back().text += c;
                }
                return;
            case State::Closing:
                if (c == '\'') {
                    tokens_.back().text += c;
                    state_ = State::Literal;
                    return;
                }
                state_ = State::Code;
                feed(c);
                return;
        }
    }

    // What a text value must read as where its placeholder stands: one
    // literal, or the continuation of a literal that has just closed (the
    // quotes meet as ''). False inside a literal, where the value's own
    // quotes would end it: the pattern, not the value, decides that.
    bool feedValue(const char* value) {
        if (state_ == State::Literal)
            return false;
        if (state_ == State::Code)
            tokens_.push_back({true, ""});
        else
            tokens_.back().text += '\'';
        tokens_.back().text += value;
        state_ = State::Closing;
        return true;
    }

    const std::vector<Token>& tokens() const { return tokens_; }

  private:
    enum class State { Code, Literal, Closing };
    bool mysql_;
    State state_ = State::Code;
    bool escaped_ = false;
    std::vector<Token> tokens_;
};

enum class Expectation { Refused, Tokens, ValueInsideLiteral };

// Walks the pattern as the placeholder rules read it ('%s' a text, %ld an
// integer, any other '%' refused) and feeds `lexer` the tokens the formatted
// statement must read as.
Expectation expect(const char* pattern, const std::vector<SqlValue>& values, Lexer& lexer) {
    std::size_t next = 0;
    bool valuesInCode = true;
    for (const char* p = pattern; *p != '\0';) {
        bool text = std::strncmp(p, "'%s'", 4) == 0;
        bool integer = !text && std::strncmp(p, "%ld", 3) == 0;
        if (!text && !integer) {
            if (*p == '%')
                return Expectation::Refused;
            lexer.feed(*p++);
            continue;
        }
        SqlValue::Kind kind = text ? SqlValue::Kind::Text : SqlValue::Kind::Integer;
        if (next == values.size() || values[next].kind != kind)
            return Expectation::Refused;
        if (text) {
            valuesInCode = lexer.feedValue(values[next].text) && valuesInCode;
            p += 4;
        } else {
            for (char c : std::to_string(values[next].integer))
                lexer.feed(c);
            p += 3;
        }
        ++next;
    }
    if (next != values.size())
        return Expectation::Refused;
    return valuesInCode ? Expectation::Tokens : Expectation::ValueInsideLiteral;
}

long countOf(const char* text, char c) {
    return std::count(text, text + std::strlen(text), c);
}

// Quotes (and for MYSQL backslashes) are never lost or added: the output
// holds the pattern's own plus every value's twice over.
void checkEscapesDoubled(const std::string& out, const std::string& pattern,
                         const std::vector<SqlValue>& values, char c) {
    long expected = countOf(pattern.c_str(), c);
    for (const SqlValue& value : values) {
        if (value.kind == SqlValue::Kind::Text)
            expected += 2 * countOf(value.text, c);
    }
    FUZZ_CHECK(countOf(out.c_str(), c) == expected);
}

// Formats `pattern` with `values` for one DB system into exactly sized
// buffers and checks the result against what the lexer expects.
void checkFormat(const std::string& pattern, const std::vector<SqlValue>& values, bool mysql) {
    copyField(Settings.dbSystem, mysql ? "MYSQL" : "ORACLE");
    SqlValues list(values.data(), values.size());
    // Room for any result: each text value at most doubled plus its quotes.
    std::size_t roomySize = pattern.size() + 1;
    for (const SqlValue& value : values)
        roomySize += value.kind == SqlValue::Kind::Text ? 2 * std::strlen(value.text) + 2 : 21;

    std::vector<char> roomy(roomySize, 'x');
    bool formatted = formatStatement(roomy.data(), roomy.size(), pattern.c_str(), list);
    Lexer expected(mysql);
    Expectation expectation = expect(pattern.c_str(), values, expected);
    FUZZ_CHECK(formatted == (expectation != Expectation::Refused));
    if (!formatted) {
        FUZZ_CHECK(roomy[0] == '\0');
        return;
    }
    const std::string out(roomy.data());
    checkEscapesDoubled(out, pattern, values, '\'');
    if (mysql)
        checkEscapesDoubled(out, pattern, values, '\\');
    if (expectation == Expectation::Tokens) {
        Lexer actual(mysql);
        for (char c : out)
            actual.feed(c);
        FUZZ_CHECK(actual.tokens() == expected.tokens());
    }

    // The same text fits exactly its length plus the terminator; one byte
    // less is refused and leaves the buffer empty, never a cut statement.
    std::vector<char> exact(out.size() + 1, 'x');
    FUZZ_CHECK(formatStatement(exact.data(), exact.size(), pattern.c_str(), list));
    FUZZ_CHECK(out == exact.data());
    std::vector<char> tooSmall(out.size(), 'x');
    FUZZ_CHECK(!formatStatement(tooSmall.data(), tooSmall.size(), pattern.c_str(), list));
    FUZZ_CHECK(tooSmall.empty() || tooSmall[0] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    if (!input.empty() && input.back() == '\n')
        input.pop_back();
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = input.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(input.substr(start, end - start));
    lines.push_back(input.substr(start));

    std::vector<SqlValue> values;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const char* line = lines[i].c_str();
        values.push_back(line[0] == '#' ? sqlInt(std::strtol(line + 1, nullptr, 10))
                                        : sqlText(line));
    }
    checkFormat(lines[0], values, false);
    checkFormat(lines[0], values, true);
    return 0;
}
