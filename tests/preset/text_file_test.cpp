#include "platform/text_file.h"

#include <gtest/gtest.h>

namespace pv2 {
namespace {

struct LineCase {
    const char *name;
    QByteArray bytes;
    QStringList lines;
};

class DecodeLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(DecodeLines, SplitsAtCrLfAndLf) {
    EXPECT_EQ(decodeText(GetParam().bytes).lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeLines,
    ::testing::Values(
        LineCase{"empty", "", {}}, LineCase{"mixedLastWithoutEnd", "a\r\nb\nc", {"a", "b", "c"}},
        LineCase{"emptyLinesKept", "a\r\n\r\n\nb\n", {"a", "", "", "b"}},
        LineCase{"onlyLineEnd", "\r\n", {""}}, LineCase{"loneCrStaysInLine", "a\rb\r\n", {"a\rb"}},
        LineCase{"crBeforeCrLf", "a\r\r\n", {"a\r"}}, LineCase{"crAtTheEnd", "a\r", {"a\r"}},
        LineCase{"utf8BomDropped", "\xEF\xBB\xBFtimer=5\r\n", {"timer=5"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DecodeText, ChoosesUtf8OnlyWhenTheBytesAreValidUtf8) {
    const QString title = QStringLiteral("表拍ソロ");
    const DecodedText fromUtf8 = decodeText(title.toUtf8() + "\r\n");
    EXPECT_EQ(fromUtf8.encoding, TextEncoding::Utf8);
    EXPECT_FALSE(fromUtf8.pureAscii);
    EXPECT_EQ(fromUtf8.lines, QStringList{title});

    const DecodedText fromCp932 = decodeText(*encodeText(title + "\r\n", TextEncoding::Cp932));
    EXPECT_EQ(fromCp932.encoding, TextEncoding::Cp932);
    EXPECT_FALSE(fromCp932.pureAscii);
    EXPECT_EQ(fromCp932.lines, QStringList{title});

    // A UTF-8 sequence cut off at the end of the file is not UTF-8.
    EXPECT_EQ(decodeText("ab\xE3\x81").encoding, TextEncoding::Cp932);
    EXPECT_TRUE(decodeText("timer=5\r\n").pureAscii);
    // An invalid lead byte does not swallow the line end after it.
    EXPECT_EQ(decodeText("a\x81\nb\r\n").lines.value(1), QStringLiteral("b"));
}

TEST(EncodeText, RefusesCharactersTheEncodingLacks) {
    EXPECT_EQ(encodeText(QStringLiteral("ワルツ"), TextEncoding::Cp932),
              QByteArray("\x83\x8F\x83\x8B\x83\x63"));
    EXPECT_EQ(encodeText(QStringLiteral("ソ"), TextEncoding::Cp932), QByteArray("\x83\x5C"));
    EXPECT_FALSE(encodeText(QStringLiteral("drum 🥁"), TextEncoding::Cp932));
    EXPECT_FALSE(encodeText(QStringLiteral("é"), TextEncoding::Cp932));
    EXPECT_TRUE(encodeText(QStringLiteral("drum 🥁"), TextEncoding::Utf8));
    EXPECT_FALSE(encodeText(QStringLiteral("a") + QChar(0xD800), TextEncoding::Utf8));
}

} // namespace
} // namespace pv2
