#pragma once
// Reading single items from texts held in memory, for the reader tests.

#include "runtime_error.h"
#include "text_io.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <string>

namespace reader_test {

using rt::InOutError;
using rt::TextReader;

// Code of the InOutError that check() throws, 0 when it throws none.
inline int checkCode(TextReader& reader)
{
    try {
        reader.check();
    } catch (const InOutError& e) {
        return e.code();
    }
    return 0;
}

struct IntItem {
    int32_t value;
    int code;
};
struct RealItem {
    double value;
    int code;
};

inline IntItem readIntItem(const std::string& text)
{
    TextReader reader;
    reader.openMemory(text);
    const int32_t value = reader.readInt();
    reader.readLn();
    return {value, checkCode(reader)};
}

// A short text ends within a token's reach of its end; a long one does not. Both
// ways of reading a real must agree, so each real is read both ways.
inline RealItem readRealItem(const std::string& token)
{
    RealItem results[2];
    const std::string tails[2] = {"\r\n", "\r\n" + std::string(200, ' ') + "\r\n"};
    for (int i = 0; i < 2; ++i) {
        TextReader reader;
        reader.openMemory(token + tails[i]);
        results[i].value = reader.readReal();
        reader.readLn();
        results[i].code = checkCode(reader);
    }
    EXPECT_EQ(results[0].code, results[1].code) << token;
    EXPECT_EQ(std::memcmp(&results[0].value, &results[1].value, sizeof(double)), 0) << token;
    return results[0];
}

inline double correctlyRounded(const std::string& text)
{
    double value = 0;
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    std::from_chars(first, text.data() + text.size(), value);
    return value;
}

}  // namespace reader_test
