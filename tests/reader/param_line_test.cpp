#include "reader/param_line.h"

#include <gtest/gtest.h>

#include "reader/quellar_lines.h"

namespace {

using reader::ClassifyLine;
using reader::LineKind;
using Bytes = std::vector<std::uint8_t>;

TEST(LineClassification, SkipsEmptyBlankAndCommentLines) {
    EXPECT_EQ(ClassifyLine("").kind, LineKind::Skip);
    EXPECT_EQ(ClassifyLine("   \t ").kind, LineKind::Skip);
    EXPECT_EQ(ClassifyLine("; HO_START 1 2 3").kind, LineKind::Skip);
    // Not a comment line by its first character, but only blanks remain without the comment.
    EXPECT_EQ(ClassifyLine("   ; RA_X 4 0 0 6").kind, LineKind::Skip);
    // A keyword with no space after it in the trimmed text is no keyword.
    EXPECT_EQ(ClassifyLine("HO_STOP").kind, LineKind::Skip);
    EXPECT_EQ(ClassifyLine("  HO_STOP   ").kind, LineKind::Skip);
    EXPECT_EQ(ClassifyLine("HO_STOP;255 1 53").kind, LineKind::Skip);
}

TEST(LineClassification, KeywordSelectsTheKind) {
    EXPECT_EQ(ClassifyLine("HO_START 255 0 53").kind, LineKind::Start);
    EXPECT_EQ(ClassifyLine("  HO_STOP 255 1 53").kind, LineKind::Stop);
    EXPECT_EQ(ClassifyLine("R_X &(12E),1,101,0,57,1 230 0 57 1000000 0").kind, LineKind::DataField);
    EXPECT_EQ(ClassifyLine("R_X 53 0 0 8 230 & 57").kind, LineKind::DataField) << "& anywhere";
    EXPECT_EQ(ClassifyLine("R_X 53 0 0 8 230 0 57 ; & in a comment").kind, LineKind::Command);
    EXPECT_EQ(ClassifyLine("RA_TIME 4 0 0 6 230 0 54 10001 0").kind, LineKind::Mailbox);
    EXPECT_EQ(ClassifyLine("RAX 4 0 0 6").kind, LineKind::Mailbox);
    EXPECT_EQ(ClassifyLine("HO_STARTX 1").kind, LineKind::Ignored);
    EXPECT_EQ(ClassifyLine("ho_start 1").kind, LineKind::Ignored);
    EXPECT_EQ(ClassifyLine("X_R 1 2").kind, LineKind::Ignored);
    const auto line = ClassifyLine("  RA_T 4 0 0 6 ; comment");
    EXPECT_EQ(line.keyword, "RA_T");
    EXPECT_EQ(line.text, "  RA_T 4 0 0 6 ");
}

TEST(TagList, FourthPlaceIsBinaryAndLaterBytesHexadecimal) {
    EXPECT_EQ(reader::ParseTagList("255 0 53 1000001 0 30 30 35 2d 30 30 31 2d 30 30 31", false),
              (Bytes{0xFF, 0x00, 0x35, 0x41, 0x00, 0x30, 0x30, 0x35, 0x2D, 0x30, 0x30, 0x31, 0x2D,
                     0x30, 0x30, 0x31}));
    // "-" takes a place: the fourth token is still binary, and the fifth stored byte is the
    // sixth token, read in decimal; hexadecimal starts with the sixth stored byte.
    EXPECT_EQ(reader::ParseTagList("1 2 - 101 5 10 10", false), (Bytes{1, 2, 5, 5, 10, 0x10}));
    EXPECT_EQ(reader::ParseTagList("1 2 - 101", false), (Bytes{1, 2, 5}));
    EXPECT_EQ(reader::ParseTagList("  300   x  -5 11", false), (Bytes{44, 0, 0xFB, 3}));
}

TEST(TagList, LimitsPlaces) {
    std::string many;
    for (int i = 0; i < 30; ++i) {
        many += "1 ";
    }
    EXPECT_EQ(reader::ParseTagList(many, false).size(), 21u);
    EXPECT_EQ(reader::ParseTagList(many, true).size(), 11u);
}

TEST(TagList, MailboxTokensAreDecimalAndSkipTheAt) {
    EXPECT_EQ(reader::ParseTagList("@11 0 36 101001 0 10 20", true),
              (Bytes{11, 0, 36, 41, 0, 10, 20}));
    EXPECT_EQ(reader::ParseTagList("11 0 x@36", true), (Bytes{11, 0, 36}));
}

TEST(MarkLines, StartLineMakesTheNineteenByteRecord) {
    const auto record = reader::MarkRecordFromLine(
        ClassifyLine("HO_START 255 0 53 1000001 0 30 30 35 2d 30 30 31 2d 30 30 31"));
    EXPECT_EQ(record, (Bytes{0x00, 0x11, 0x05, 0xFF, 0x00, 0x35, 0x41, 0x00, 0x30, 0x30, 0x35, 0x2D,
                             0x30, 0x30, 0x31, 0x2D, 0x30, 0x30, 0x31}));
    // Short lists are filled with zeros, long ones cut: the record is always 19 bytes.
    EXPECT_EQ(reader::MarkRecordFromLine(ClassifyLine("HO_STOP 255 1")).size(), 19u);
}

TEST(DataFieldLines, RootGroupSubgroupFieldAndTags) {
    const auto request =
        reader::ParseDataFieldLine(ClassifyLine("R_A &(12E),1,101,0,57,1 230 0 57 1000000 0 1f"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->root, 302);
    EXPECT_EQ(request->group, 101);
    EXPECT_EQ(request->subgroup, 0);
    EXPECT_EQ(request->field, 57);
    EXPECT_EQ(request->tags, (Bytes{230, 0, 57, 64, 0, 0x1F}));
    EXPECT_EQ(reader::ParseDataFieldLine(ClassifyLine("R_A &(0130),1,230,2,30,1 1"))->root, 0x130);
}

TEST(DataFieldLines, MalformedLinesDoNothing) {
    EXPECT_FALSE(reader::ParseDataFieldLine(ClassifyLine("R_A &(12),1,101,0,57,1 1")));
    EXPECT_FALSE(reader::ParseDataFieldLine(ClassifyLine("R_A &(12E45),1,101,0,57,1 1")));
    EXPECT_FALSE(reader::ParseDataFieldLine(ClassifyLine("R_A &(12G),1,101,0,57,1 1")));
    EXPECT_FALSE(reader::ParseDataFieldLine(ClassifyLine("R_A &(12E,1,101,0,57,1 1")));
    EXPECT_FALSE(reader::ParseDataFieldLine(ClassifyLine("R_A &(12E),1,101,0 1")));
    EXPECT_FALSE(reader::ParseDataFieldLine(ClassifyLine("R_A & 1 2 3")));
}

TEST(MailboxAndCommandLines, Parameters) {
    const auto mailbox =
        reader::ParseMailboxLine(ClassifyLine("RA_D 40 1 1f 48 @11 0 36 101001 0"));
    EXPECT_EQ(mailbox.command[0], 40);
    EXPECT_EQ(mailbox.command[1], 1);
    EXPECT_EQ(mailbox.command[2], 0x1F);
    EXPECT_EQ(mailbox.answerLength, 48);
    EXPECT_TRUE(mailbox.opensPair);
    EXPECT_EQ(mailbox.tags, (Bytes{11, 0, 36, 41, 0}));
    EXPECT_FALSE(reader::ParseMailboxLine(ClassifyLine("RA_D 40 1 1 48")).opensPair);

    const auto command =
        reader::ParseCommandLine(ClassifyLine("R_N 53 10 whatever 8 230 0 57 1000000 1 ff"));
    EXPECT_EQ(command.command[0], 53);
    EXPECT_EQ(command.command[1], 10);
    EXPECT_EQ(command.answerLength, 8);
    EXPECT_EQ(command.tags, (Bytes{230, 0, 57, 64, 1, 0xFF}));
}

TEST(RecordHeaders, CountTagsTagLengthByteAndData) {
    EXPECT_EQ(reader::RecordHeader({230, 0, 54, 17, 0}, 6),
              (Bytes{0x00, 0x0C, 0x05, 230, 0, 54, 17, 0}));
    EXPECT_EQ(reader::RecordHeader({11, 0, 36, 41, 0}, 96)[1], 5 + 1 + 96);
}

std::vector<std::string> AllLines(std::string content) {
    reader::QuellarLines lines(std::move(content));
    std::vector<std::string> result;
    while (!lines.AtEnd()) {
        result.push_back(lines.Next());
    }
    return result;
}

TEST(QuellarLines, StepsOverEachLineEndAsItIs) {
    EXPECT_EQ(AllLines("AB\r\nC\r\n"), (std::vector<std::string>{"AB", "C"}));
    EXPECT_EQ(AllLines("AB\nCD\nEF\n"), (std::vector<std::string>{"AB", "CD", "EF"}));
    EXPECT_EQ(AllLines("A\r\n\nB\n\r\nC"), (std::vector<std::string>{"A", "", "B", "", "C"}));
    // A lone CR is text.
    EXPECT_EQ(AllLines("A\rB\n"), (std::vector<std::string>{"A\rB"}));
    EXPECT_TRUE(AllLines("").empty());
}

TEST(QuellarLines, LongLinesAreCutAtTheLimit) {
    // A line of more than 199 characters is taken in pieces, two characters lost at each cut.
    const std::string longLine(250, 'x');
    for (const char* end : {"\r\n", "\n"}) {
        const auto pieces = AllLines(longLine + end + "NEXT" + end);
        ASSERT_EQ(pieces.size(), 3u);
        EXPECT_EQ(pieces[0].size(), 199u);
        EXPECT_EQ(pieces[1], std::string(49, 'x'));
        EXPECT_EQ(pieces[2], "NEXT");
    }
    // A line of exactly 199 characters ends where its line end is.
    for (const char* end : {"\r\n", "\n"}) {
        const auto lines = AllLines(std::string(199, 'y') + end + "NEXT" + end);
        EXPECT_EQ(lines, (std::vector<std::string>{std::string(199, 'y'), "NEXT"}));
    }
}

TEST(MailboxPairs, EveryAtLineHasItsContinuation) {
    const std::string opener = "RA_A 40 1 0 48 @11 0 36 101001 0";
    const std::string second = "RA_B 40 1 1 48";
    const std::string command = "R_T 4 0 0 6 230 0 54 10001 0";
    struct Case {
        std::vector<std::string> lines;
        std::string problem;
    };
    const std::vector<Case> cases = {
        {{opener, second, opener, "; between", "", "UNKNOWN 1", second}, ""},
        {{command, "RA_X 4 0 0 6 230 0 54 10001 0"}, "RA_X continues no @ line"},
        {{opener}, "RA_A has no continuation"},
        {{opener, command, second}, "RA_A has no continuation"},
        {{opener, "HO_STOP 255 1 53", second}, "RA_A has no continuation"},
        {{opener, opener, second}, "RA_A has no continuation"},
        {{opener, second, second}, "RA_B continues no @ line"},
        {{opener, "RA_B 40 1 1 47"}, "RA_B differs in length from RA_A"},
        // A "@" in a comment opens nothing.
        {{"RA_C 4 0 0 6 ; @ not here"}, "RA_C continues no @ line"},
    };
    for (const Case& c : cases) {
        std::string content;
        for (const std::string& line : c.lines) {
            content += line + "\r\n";
        }
        EXPECT_EQ(reader::MailboxPairProblem(content), c.problem) << content;
    }
}

}  // namespace
