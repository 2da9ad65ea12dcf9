#include "core/profile/profile_document.h"
#include "core/profile/profile_escape.h"

#include <gtest/gtest.h>
#include <optional>

namespace {

using qv::ProfileDocument;

// What a reader finds in a file as a plain profile writer (or a person with an editor) leaves it.
struct ReadCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class ProfileRead : public testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, FindsWhatAPlainReaderFinds) {
    const ReadCase& c = GetParam();
    EXPECT_EQ(ProfileDocument::Parse(c.file).Value(c.section, c.key), c.expected);
}

const ReadCase kReadCases[] = {
    {"Plain", "[S]\r\nk=v\r\n", "S", "k", "v"},
    {"HighBytesRaw", "[S]\r\nk=\xA8\xA4\xA6\xFF\x80\r\n", "S", "k", "\xA8\xA4\xA6\xFF\x80"},
    {"LfOnlyLines", "[S]\nk=v\nj=w\n", "S", "j", "w"},
    {"NoFinalLineBreak", "[S]\r\nk=value", "S", "k", "value"},
    {"SectionAndKeyIgnoreCase", "[Quorvane]\r\nMyKey=1\r\n", "qUORVANE", "mykey", "1"},
    {"BlanksAroundKeyAndValueTrimmed", "[S]\r\n \tk \t=  v w \t\r\n", "S", "k", "v w"},
    {"BlanksInsideSectionBracketsTrimmed", "  [ S ]  \r\nk=v\r\n", "S", "k", "v"},
    {"DoubleQuotesRemoved", "[S]\r\nk=\" v \"\r\n", "S", "k", " v "},
    {"SingleQuotesRemoved", "[S]\r\nk='v'\r\n", "S", "k", "v"},
    {"MismatchedQuotesKept", "[S]\r\nk=\"v'\r\n", "S", "k", "\"v'"},
    {"LoneQuoteKept", "[S]\r\nk=\"\r\n", "S", "k", "\""},
    {"ValueAfterFirstEquals", "[S]\r\nk=a=b;c\r\n", "S", "k", "a=b;c"},
    {"EmptyValueIsThere", "[S]\r\nk=\r\n", "S", "k", ""},
    {"MissingKey", "[S]\r\nk=v\r\n", "S", "j", std::nullopt},
    {"MissingSection", "[S]\r\nk=v\r\n", "T", "k", std::nullopt},
    {"KeyOfAnotherSection", "[S]\r\na=1\r\n[T]\r\nk=2\r\n", "S", "k", std::nullopt},
    {"KeyBeforeAnySectionIgnored", "k=v\r\n[S]\r\n", "S", "k", std::nullopt},
    {"CommentIsNoKey", "[S]\r\n;k=v\r\n", "S", "k", std::nullopt},
    {"LineWithoutEqualsIgnored", "[S]\r\nk\r\nk=v\r\n", "S", "k", "v"},
    {"DuplicateKeyFirstWins", "[S]\r\nk=1\r\nK=2\r\n", "S", "k", "1"},
    {"DuplicateSectionFirstWins", "[S]\r\nk=1\r\n[s]\r\nk=2\r\nj=3\r\n", "S", "j", std::nullopt},
    {"SectionWithoutClosingBracket", "[S\r\nk=v\r\n", "S", "k", "v"},
    {"ForeignDelKeptWhenNoHexFollows", "[S]\r\nk=a\x7Fzz\r\n", "S", "k", "a\x7Fzz"},
    {"EscapedBytes",
     "[S]\r\nk=\x7F"
     "20a\x7F"
     "0Db\x7F"
     "0a\x7F"
     "00\x7F"
     "7f\r\n",
     "S", "k", std::string(" a\rb\n\0\x7F", 7)},
    {"EmptyFile", "", "S", "k", std::nullopt},
    {"BinaryJunk", std::string("\0\xFF[\0]\n=\r\r\n\x7F", 11), "S", "k", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Files, ProfileRead, testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Changes touch only their own line; everything else stays byte for byte.
struct ChangeCase {
    const char* name;
    std::string before;
    std::string after;
};

void PrintTo(const ChangeCase& c, std::ostream* os) {
    *os << c.name;
}

class ProfileSet : public testing::TestWithParam<ChangeCase> {};

TEST_P(ProfileSet, SetsKeyLeavingTheRestAsItWas) {
    ProfileDocument document = ProfileDocument::Parse(GetParam().before);
    document.Set("S", "k", "new");
    EXPECT_EQ(document.Serialise(), GetParam().after);
    EXPECT_EQ(document.Value("S", "k"), "new");
}

const ChangeCase kSetCases[] = {
    {"NewFile", "", "[S]\r\nk=new\r\n"},
    {"ReplacesValueKeepsKeySpelling", "; top\r\n[s]\r\n  K = old\r\nj=1\r\n",
     "; top\r\n[s]\r\n  K =new\r\nj=1\r\n"},
    {"NewKeyAfterLastKeyOfSection", "[S]\r\na=1\r\nb=2\r\n\r\n;c\r\n[T]\r\nx=9\r\n",
     "[S]\r\na=1\r\nb=2\r\nk=new\r\n\r\n;c\r\n[T]\r\nx=9\r\n"},
    {"NewKeyInEmptySection", "[S]\r\n[T]\r\n", "[S]\r\nk=new\r\n[T]\r\n"},
    {"NewSectionAtEnd", "[T]\r\nx=9\r\n", "[T]\r\nx=9\r\n[S]\r\nk=new\r\n"},
    {"LastLineGetsItsBreak", "[T]\r\nx=9", "[T]\r\nx=9\r\n[S]\r\nk=new\r\n"},
    {"LastKeyWithoutBreak", "[S]\na=1", "[S]\na=1\r\nk=new\r\n"},
    {"LfLinesKept", "[S]\nk=old\nz\n", "[S]\nk=new\nz\n"},
    {"FirstOfDuplicateKeys", "[S]\r\nk=1\r\nk=2\r\n", "[S]\r\nk=new\r\nk=2\r\n"},
    {"FirstOfDuplicateSections", "[S]\r\n[S]\r\nk=2\r\n", "[S]\r\nk=new\r\n[S]\r\nk=2\r\n"},
    {"PreambleNotASection", "k=0\r\n", "k=0\r\n[S]\r\nk=new\r\n"},
};

INSTANTIATE_TEST_SUITE_P(Files, ProfileSet, testing::ValuesIn(kSetCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileDocument, KeysAndSectionsKeepFirstWriteOrder) {
    ProfileDocument document;
    document.Set("B", "z", "1");
    document.Set("A", "y", "2");
    document.Set("B", "a", "3");
    document.Set("b", "Z", "4"); // the same key, however spelt
    EXPECT_EQ(document.Serialise(), "[B]\r\nz=4\r\na=3\r\n[A]\r\ny=2\r\n");
}

TEST(ProfileDocument, RemoveTakesEveryCopyInTheVisibleSectionOnly) {
    ProfileDocument document =
        ProfileDocument::Parse("[S]\r\nk=1\r\nj=2\r\nK=3\r\n[T]\r\nk=4\r\n[S]\r\nk=5\r\n");
    EXPECT_TRUE(document.Remove("s", "k"));
    EXPECT_EQ(document.Serialise(), "[S]\r\nj=2\r\n[T]\r\nk=4\r\n[S]\r\nk=5\r\n");
    EXPECT_EQ(document.Value("S", "k"), std::nullopt);
    EXPECT_FALSE(document.Remove("S", "k"));
    EXPECT_FALSE(document.Remove("None", "k"));
    EXPECT_EQ(document.Value("T", "k"), "4");
}

TEST(ProfileDocument, ParseThenSerialiseGivesTheSameBytes) {
    for (const std::string& bytes :
         {std::string(""), std::string("\n"), std::string("\r\n\r\n"), std::string("a\r\r\nb"),
          std::string("[S]\nk=v\r\n; x\n\0\xFF", 15), std::string("no break")})
        EXPECT_EQ(ProfileDocument::Parse(bytes).Serialise(), bytes);
}

TEST(ProfileEscape, WritesOnlyTheBytesALineFileWouldLoseEscaped) {
    EXPECT_EQ(qv::EscapeProfileValue("plain =;[] \xA8\xFF text"), "plain =;[] \xA8\xFF text");
    EXPECT_EQ(qv::EscapeProfileValue(" a b\t"), "\x7F"
                                                "20a b\x7F"
                                                "09");
    EXPECT_EQ(qv::EscapeProfileValue(std::string("\"'\r\n\0\x7F", 6)), "\x7F"
                                                                       "22\x7F"
                                                                       "27\x7F"
                                                                       "0D\x7F"
                                                                       "0A\x7F"
                                                                       "00\x7F"
                                                                       "7F");
    EXPECT_EQ(qv::EscapeProfileValue(" "), "\x7F"
                                           "20");
    EXPECT_EQ(qv::EscapeProfileValue(""), "");
}

TEST(ProfileEscape, EveryByteValueInEveryPositionSurvivesTheFile) {
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        for (const std::string& value : {std::string(1, c), std::string(2, c), std::string(3, c),
                                         "x" + std::string(1, c) + "y", std::string(1, c) + "7F"}) {
            ProfileDocument document;
            document.Set("S", "k", value);
            const std::string file = document.Serialise();
            EXPECT_EQ(ProfileDocument::Parse(file).Value("S", "k"), value) << "byte " << b;
            EXPECT_EQ(file.find('\0'), std::string::npos);
        }
    }
}

} // namespace
