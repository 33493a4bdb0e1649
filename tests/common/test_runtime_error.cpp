#include "runtime_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string>
#include <cmath>
#include <limits>

using rt::ConvertError;
using rt::FloatError;
using rt::InOutError;

namespace {

std::string convertMessage(const std::string& text)
{
    try {
        rt::strToInt(text);
    } catch (const ConvertError& e) {
        return e.what();
    }
    return "(converted)";
}

}  // namespace

TEST(IoErrorText, NamedCodesHaveTheirTextsOthersTheirNumber)
{
    EXPECT_EQ(rt::ioErrorText(2), "File not found");
    EXPECT_EQ(rt::ioErrorText(3), "Invalid filename");
    EXPECT_EQ(rt::ioErrorText(4), "Too many open files");
    EXPECT_EQ(rt::ioErrorText(5), "File access denied");
    EXPECT_EQ(rt::ioErrorText(100), "Read beyond end of file");
    EXPECT_EQ(rt::ioErrorText(101), "Disk full");
    EXPECT_EQ(rt::ioErrorText(106), "Invalid numeric input");
    EXPECT_EQ(rt::ioErrorText(103), "I/O error 103");
    EXPECT_EQ(rt::ioErrorText(104), "I/O error 104");
    EXPECT_EQ(rt::ioErrorText(27), "I/O error 27");
}

TEST(IoErrorText, InOutErrorCarriesCodeAndText)
{
    const InOutError error(101);
    EXPECT_EQ(error.code(), 101);
    EXPECT_STREQ(error.what(), "Disk full");
    const rt::Error& base = error;  // one handler catches every runtime error
    EXPECT_STREQ(base.what(), "Disk full");
}

TEST(IoErrorText, ErrnoValuesMapToTheirCodes)
{
    EXPECT_EQ(rt::ioCodeFromErrno(ENOENT), 2);
    for (int err : {ENOTDIR, ENAMETOOLONG, EISDIR, ELOOP})
        EXPECT_EQ(rt::ioCodeFromErrno(err), 3) << err;
    for (int err : {EMFILE, ENFILE})
        EXPECT_EQ(rt::ioCodeFromErrno(err), 4) << err;
    for (int err : {EACCES, EPERM, EROFS, ETXTBSY})
        EXPECT_EQ(rt::ioCodeFromErrno(err), 5) << err;
    for (int err : {ENOSPC, EDQUOT, EFBIG})
        EXPECT_EQ(rt::ioCodeFromErrno(err), 101) << err;
}

TEST(IoErrorText, UnnamedErrnoValuesNeverShowANamedText)
{
    // EIO is 5 and ENETDOWN 100 on this system: passed through they would read
    // "File access denied" and "Read beyond end of file".
    EXPECT_EQ(rt::ioCodeFromErrno(EIO), rt::IoErrorBase + EIO);
    EXPECT_EQ(rt::ioErrorText(rt::ioCodeFromErrno(EIO)), "I/O error " + std::to_string(1000 + EIO));
    EXPECT_EQ(rt::ioCodeFromErrno(0), rt::IoErrorBase);
    EXPECT_EQ(rt::ioCodeFromErrno(-3), rt::IoErrorBase);
    const int named[] = {ENOENT, ENOTDIR, ENAMETOOLONG, EISDIR, ELOOP, EMFILE, ENFILE, EACCES, EPERM,
                         EROFS, ETXTBSY, ENOSPC, EDQUOT, EFBIG};
    for (int err = 1; err < 4096; ++err) {
        if (std::find(std::begin(named), std::end(named), err) != std::end(named))
            continue;
        const int code = rt::ioCodeFromErrno(err);
        EXPECT_EQ(rt::ioErrorText(code), "I/O error " + std::to_string(code)) << err;
        EXPECT_GE(code, 1000) << err;  // clear of every code the programs name or raise themselves
    }
}

TEST(IoErrorText, OpenFailuresTellAMissingFileFromAPathThatCannotNameOne)
{
    // The folder part is looked at only for ENOENT; "/" and "." exist here.
    EXPECT_EQ(rt::ioCodeFromOpenErrno(ENOENT, "/absent-file-of-this-test"), 2);
    EXPECT_EQ(rt::ioCodeFromOpenErrno(ENOENT, "absent-file-of-this-test"), 2);
    EXPECT_EQ(rt::ioCodeFromOpenErrno(ENOENT, "/no-such-folder-of-this-test/x.txt"), 3);
    EXPECT_EQ(rt::ioCodeFromOpenErrno(ENOENT, "/dev/null/x.txt"), 3);  // a component that is no folder
    EXPECT_EQ(rt::ioCodeFromOpenErrno(ENOENT, ""), 3);
    EXPECT_EQ(rt::ioCodeFromOpenErrno(ENOENT, "/tmp/"), 3);
    EXPECT_EQ(rt::ioCodeFromOpenErrno(EINVAL, "/tmp/a:b"), 3);
    EXPECT_EQ(rt::ioCodeFromOpenErrno(EACCES, "/root/x"), 5);
    EXPECT_EQ(rt::ioCodeFromOpenErrno(EIO, "/tmp/x"), 1000 + EIO);
}

TEST(StrToInt, AcceptsLeadingBlanksSignAndTheFullRange)
{
    EXPECT_EQ(rt::strToInt("42"), 42);
    EXPECT_EQ(rt::strToInt("   42"), 42);
    EXPECT_EQ(rt::strToInt("+7"), 7);
    EXPECT_EQ(rt::strToInt("-70"), -70);
    EXPECT_EQ(rt::strToInt("0"), 0);
    EXPECT_EQ(rt::strToInt("2147483647"), 2147483647);
    EXPECT_EQ(rt::strToInt("-2147483648"), std::numeric_limits<int32_t>::min());
}

TEST(StrToInt, RejectsTrailingBlanksEmptyTextsGarbageAndOutOfRange)
{
    for (const char* text : {"42 ", "", "   ", "-", "+", "12a", "1 2", "4.0", "2147483648", "-2147483649",
                             "99999999999999999999999"})
        EXPECT_THROW(rt::strToInt(text), ConvertError) << '"' << text << '"';
}

TEST(StrToInt, MessageNamesTheTextAsTyped)
{
    EXPECT_EQ(convertMessage("12a"), "'12a' is not a valid integer value");
    EXPECT_EQ(convertMessage(""), "'' is not a valid integer value");
    EXPECT_EQ(convertMessage(" 5 "), "' 5 ' is not a valid integer value");
}

TEST(CheckedArithmetic, LogarithmOfZeroIsADivisionByZero)
{
    try {
        rt::log10Checked(0.0);
        FAIL() << "no error";
    } catch (const FloatError& e) {
        EXPECT_EQ(e.kind(), FloatError::Kind::DivisionByZero);
        EXPECT_STREQ(e.what(), "Floating point division by zero");
    }
}

TEST(CheckedArithmetic, NegativeOrNanLogarithmIsAnInvalidOperation)
{
    for (double x : {-1.0, std::numeric_limits<double>::quiet_NaN()}) {
        try {
            rt::log10Checked(x);
            FAIL() << "no error for " << x;
        } catch (const FloatError& e) {
            EXPECT_EQ(e.kind(), FloatError::Kind::InvalidOperation);
            EXPECT_STREQ(e.what(), "Invalid floating point operation");
        }
    }
    EXPECT_DOUBLE_EQ(rt::log10Checked(1000.0), 3.0);
}

TEST(CheckedArithmetic, DivisionFaults)
{
    EXPECT_DOUBLE_EQ(rt::divideChecked(6.0, 3.0), 2.0);
    try {
        rt::divideChecked(0.0, 0.0);
        FAIL() << "0/0 passed";
    } catch (const FloatError& e) {
        EXPECT_EQ(e.kind(), FloatError::Kind::InvalidOperation);
    }
    try {
        rt::divideChecked(-1.0, 0.0);
        FAIL() << "-1/0 passed";
    } catch (const FloatError& e) {
        EXPECT_EQ(e.kind(), FloatError::Kind::DivisionByZero);
    }
}
