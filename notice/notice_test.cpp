// Behaviour of BuildNotice, as tables of tails and the text and caption they give.
#include "notice/notice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "notice/guarded_notice.h"

namespace {

// Stands for the built-in text or caption in the tables below.
constexpr char kDefault[] = "<default>";

// Bytes before the first zero, or the whole buffer if it has none.
template <std::size_t N>
std::size_t TerminatedLength(const char (&buffer)[N]) {
    return static_cast<std::size_t>(std::find(buffer, buffer + N, '\0') - buffer);
}

struct Row {
    std::string tail;
    std::string text;
    std::string caption;
};

std::string Shown(const char* szPart, const char* szDefault) {
    return std::strcmp(szPart, szDefault) == 0 ? kDefault : std::string(szPart);
}

void ExpectRows(const Row* rows, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i) + ", tail <" + row.tail + ">");
        NOTICE notice = {};
        BuildNotice(row.tail.c_str(), &notice);
        EXPECT_EQ(Shown(notice.szText, DEFAULT_NOTICE_TEXT), row.text);
        EXPECT_EQ(Shown(notice.szCaption, DEFAULT_NOTICE_CAPTION), row.caption);
    }
}

template <std::size_t N>
void ExpectRows(const Row (&rows)[N]) {
    ExpectRows(rows, N);
}

TEST(BuildNotice, SplitsAtTheFirstUnescapedComma) {
    const Row rows[] = {
        {"Hello", "Hello", kDefault},
        {",Title", kDefault, "Title"},
        {"Hello,", "Hello", kDefault},
        {"a,b,c", "a", "b,c"},
        {R"(a\,b,c)", "a,b", "c"},
        {R"(a,b\,c)", "a", "b,c"},  // after the separator an escaped comma is just a comma
        {R"(\,)", ",", kDefault},
        {",,", kDefault, ","},
        // Nothing is trimmed and quotes are ordinary bytes.
        {"  sp , cap  ", "  sp ", " cap  "},
        {R"("Hello, World")", "\"Hello", " World\""},
        {"\t,\t", "\t", "\t"},
    };
    ExpectRows(rows);
}

TEST(BuildNotice, TranslatesEscapes) {
    const Row rows[] = {
        {R"(L1\nL2\tX\rY,T\,U)", "L1\nL2\tX\rY", "T,U"},
        {R"(\\x\q)", R"(\xq)", kDefault},
        {R"(\\r)", R"(\r)", kDefault},
        {R"(\\\n)", "\\\n", kDefault},
        // Escape letters are lower case only; there are no numeric escapes.
        {R"(\R\N\T)", "RNT", kDefault},
        {R"(\0\x41)", "0x41", kDefault},
        {R"(,\n)", kDefault, "\n"},
        {R"(\r\n,\t)", "\r\n", "\t"},
        // A backslash that ends the tail is dropped.
        {R"(abc\)", "abc", kDefault},
        {R"(x,\)", "x", kDefault},
        {R"(x,y\)", "x", "y"},
    };
    ExpectRows(rows);
}

TEST(BuildNotice, BytesAreNotCharacters) {
    const Row rows[] = {
        // Code page 932: 0x95 0x5C is one character whose second byte is a backslash.
        {"\x95\x5Cn", "\x95\n", kDefault},
        // ... and 0x82 0x2C one whose second byte is a comma.
        {"\x82,b", "\x82", "b"},
        {"\xFF,\x80", "\xFF", "\x80"},
        {"\x01\x7F", "\x01\x7F", kDefault},
    };
    ExpectRows(rows);
}

TEST(BuildNotice, EmptyPartsTakeTheirDefaults) {
    const Row rows[] = {
        {"", kDefault, kDefault},
        {",", kDefault, kDefault},
        {R"(\)", kDefault, kDefault},
        {R"(,\)", kDefault, kDefault},
    };
    ExpectRows(rows);
}

// Overlong parts keep their first bytes; the scan still finds the caption.
TEST(BuildNotice, KeepsEachPartWithinItsBuffer) {
    const std::string t1023(1023, 't');
    const std::string c255(255, 'c');
    const Row rows[] = {
        {t1023, t1023, kDefault},
        {t1023 + "u", t1023, kDefault},
        {std::string(5000, 't') + ",Setup", t1023, "Setup"},
        {std::string(10, 't') + "," + c255, std::string(10, 't'), c255},
        {"x," + c255 + "d,e", "x", c255},
        // Limits count bytes after translation: 1023 escapes give 1023 bytes.
        {std::string(std::size_t{1023} * 2, '\\') + ",c", std::string(1023, '\\'), "c"},
        {std::string(1022, 't') + R"(\n\n,c)", std::string(1022, 't') + "\n", "c"},
        // An escaped comma past the limit is still no separator.
        {t1023 + R"(\,more,c)", t1023, "c"},
    };
    ExpectRows(rows);
}

// Random tails up to 40 KiB with every byte but zero never break the buffers.
TEST(BuildNoticeProperty, AnyTailLeavesBothPartsTerminatedAndNonEmpty) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> anyByte(1, 255);
    std::uniform_int_distribution<int> pick(0, 7);
    std::uniform_int_distribution<std::size_t> length(0, std::size_t{40} * 1024);
    for (int round = 0; round < 400; ++round) {
        std::string tail(length(random), '\0');
        for (char& b : tail) {
            // Favour the bytes that steer the scan so that they meet often.
            const int p = pick(random);
            b = p == 0 ? ',' : p == 1 ? '\\' : static_cast<char>(anyByte(random));
        }
        GUARDED_NOTICE guarded = {};
        FillWithGuard(&guarded);
        BuildNotice(tail.c_str(), &guarded.notice);

        SCOPED_TRACE("round " + std::to_string(round) + ", tail length " + std::to_string(tail.size()));
        const std::size_t cchText = TerminatedLength(guarded.notice.szText);
        const std::size_t cchCaption = TerminatedLength(guarded.notice.szCaption);
        ASSERT_GT(cchText, 0u);
        ASSERT_LT(cchText, NOTICE_TEXT_SIZE);
        ASSERT_GT(cchCaption, 0u);
        ASSERT_LT(cchCaption, NOTICE_CAPTION_SIZE);
        ASSERT_TRUE(GuardsAreUntouched(guarded));
    }
}

// The escaping a caller would apply, so that any text and caption survive the trip.
std::string Escape(const std::string& part) {
    std::string escaped;
    for (char c : part) {
        switch (c) {
            case '\\': escaped += R"(\\)"; break;
            case ',': escaped += R"(\,)"; break;
            case '\r': escaped += R"(\r)"; break;
            case '\n': escaped += R"(\n)"; break;
            case '\t': escaped += R"(\t)"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

TEST(BuildNoticeProperty, EscapedTextAndCaptionComeBackUnchanged) {
    std::mt19937 random(1208);
    std::uniform_int_distribution<int> anyByte(1, 255);
    std::uniform_int_distribution<int> pick(0, 9);
    const char steering[] = {',', '\\', '\r', '\n', '\t'};
    auto randomPart = [&](std::size_t cbMax) {
        std::string part(std::uniform_int_distribution<std::size_t>(1, cbMax)(random), '\0');
        for (char& b : part) {
            const int p = pick(random);
            b = p < 5 ? steering[p] : static_cast<char>(anyByte(random));
        }
        return part;
    };
    for (int round = 0; round < 2000; ++round) {
        const std::string text = randomPart(NOTICE_TEXT_SIZE - 1);
        const std::string caption = randomPart(NOTICE_CAPTION_SIZE - 1);
        const std::string tail = Escape(text) + "," + Escape(caption);
        SCOPED_TRACE("round " + std::to_string(round));
        NOTICE notice = {};
        BuildNotice(tail.c_str(), &notice);
        ASSERT_EQ(std::string(notice.szText), text);
        ASSERT_EQ(std::string(notice.szCaption), caption);
    }
}

}  // namespace
