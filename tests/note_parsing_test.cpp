// Note strings become the voice tables: 2-character fields, 6-character tokens, two tracks.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "chip_fakes.h"
#include "song/song.h"

namespace {

using common::Int16;

struct Field {
    const char* text;
    int value;
};

// One step of a track as (voice, block, length, F-number).
struct Step {
    int voice, block, length, fnumber;
    friend bool operator==(const Step&, const Step&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Step& s) {
        return os << "{" << s.voice << "," << s.block << "," << s.length << "," << s.fnumber << "}";
    }
};

Step track1(const song::Song& s, int i) {
    const Int16 k{i};
    return {s.VoiceNo1[k].value(), s.Octave1[k].value(), s.NoteLength1[k].value(),
            s.FNumber1[k].value()};
}

Step track2(const song::Song& s, int i) {
    const Int16 k{i};
    return {s.VoiceNo2[k].value(), s.Octave2[k].value(), s.NoteLength2[k].value(),
            s.FNumber2[k].value()};
}

std::string tokens(int n) {
    std::string line;
    for (int i = 0; i < n; ++i) line += "O3L2B ";
    return line;
}

std::string send(song::Song& s, int voice, const std::string& line) {
    return fakes::faultOf([&] { s.StringSend(Int16{voice}, line); });
}

}  // namespace

TEST(NoteParsing, KnownFieldsMapToTheirValues) {
    const Field table[] = {
        {"A ", 577}, {"A#", 611}, {"B ", 647}, {"C ", 341}, {"C#", 363}, {"D ", 385},
        {"D#", 408}, {"E ", 432}, {"F ", 458}, {"F#", 485}, {"G ", 514}, {"G#", 544},
        {"L2", 2},   {"L4", 2},   {"O0", 0},   {"O1", 1},   {"O2", 2},   {"O3", 3},
        {"O4", 4},   {"O5", 5},   {"O6", 6},   {"O7", 7},   {"P4", 0},
    };
    for (const Field& f : table) {
        std::string a = f.text;
        EXPECT_EQ(song::Song::Tune(a).value(), f.value) << '"' << f.text << '"';
    }
}

TEST(NoteParsing, UnknownOrMalformedFieldsGiveZero) {
    for (const char* text :
         {"", "B", "04", "BB", "E#", "B#", "P ", "O8", "L8", " B", "B  ", "o", "H "}) {
        std::string a = text;
        EXPECT_EQ(song::Song::Tune(a).value(), 0) << '"' << text << '"';
    }
}

TEST(NoteParsing, LowerCaseTokensMatch) {
    const Field table[] = {{"a ", 577}, {"f#", 485}, {"g#", 544}, {"o3", 3}, {"l4", 2}, {"o7", 7}};
    for (const Field& f : table) {
        std::string a = f.text;
        EXPECT_EQ(song::Song::Tune(a).value(), f.value) << '"' << f.text << '"';
    }
    song::Song s;
    s.StringSend(Int16{1}, "o3l2f#");
    EXPECT_EQ(track1(s, 1), (Step{1, 3, 2, 485}));
}

TEST(NoteParsing, LookupUpperCasesTheCallersVariable) {
    std::string known = "f#";
    std::string unknown = "b";
    std::string empty;
    song::Song::Tune(known);
    song::Song::Tune(unknown);
    song::Song::Tune(empty);
    EXPECT_EQ(known, "F#");
    EXPECT_EQ(unknown, "B");
    EXPECT_EQ(empty, "");
}

TEST(NoteParsing, LineIsCutIntoSixCharacterTokens) {
    song::Song s;
    s.StringSend(Int16{1}, "O3L2B O4L4C#O2L2P4");
    ASSERT_EQ(s.Count1.value(), 3);
    EXPECT_EQ(track1(s, 1), (Step{1, 3, 2, 647}));
    EXPECT_EQ(track1(s, 2), (Step{1, 4, 2, 363}));
    EXPECT_EQ(track1(s, 3), (Step{1, 2, 2, 0}));
    EXPECT_EQ(s.Count2.value(), 0);
}

TEST(NoteParsing, ShortLastTokenStillMakesAStepWithMissingFieldsZero) {
    const struct {
        const char* tail;
        Step step;
    } table[] = {
        {"O4L4", {1, 4, 2, 0}}, {"O4L4B", {1, 4, 2, 0}}, {"O4L", {1, 4, 0, 0}},
        {"O4", {1, 4, 0, 0}},   {"O", {1, 0, 0, 0}},     {"O4L4G#", {1, 4, 2, 544}},
    };
    for (const auto& row : table) {
        song::Song s;
        s.StringSend(Int16{1}, std::string("O3L2B ") + row.tail);
        ASSERT_EQ(s.Count1.value(), 2) << row.tail;
        EXPECT_EQ(track1(s, 2), row.step) << row.tail;
    }
}

TEST(NoteParsing, VoiceOneFillsTrackOneAnyOtherVoiceTrackTwo) {
    song::Song s;
    s.StringSend(Int16{2}, "O2L2G ");
    s.StringSend(Int16{3}, "O2L4A ");
    s.StringSend(Int16{0}, "O3L4C ");
    s.StringSend(Int16{-5}, "O3L4D ");
    s.StringSend(Int16{1}, "O4L2E ");
    ASSERT_EQ(s.Count2.value(), 4);
    EXPECT_EQ(track2(s, 1), (Step{2, 2, 2, 514}));
    EXPECT_EQ(track2(s, 2), (Step{3, 2, 2, 577}));
    EXPECT_EQ(track2(s, 3), (Step{0, 3, 2, 341}));
    EXPECT_EQ(track2(s, 4), (Step{-5, 3, 2, 385}));
    ASSERT_EQ(s.Count1.value(), 1);
    EXPECT_EQ(track1(s, 1), (Step{1, 4, 2, 432}));
}

TEST(NoteParsing, CountersCarryOnAcrossCallsAndEmptyLinesAddNothing) {
    song::Song s;
    s.StringSend(Int16{1}, "O3L2B O3L4G ");
    s.StringSend(Int16{1}, "");
    s.StringSend(Int16{2}, "");
    EXPECT_EQ(s.Count2.value(), 0);
    s.StringSend(Int16{2}, "O2L2G ");
    s.StringSend(Int16{1}, "O3L2A ");
    EXPECT_EQ(s.Count1.value(), 3);
    EXPECT_EQ(s.Count2.value(), 1);
    EXPECT_EQ(track1(s, 3), (Step{1, 3, 2, 577}));
}

TEST(NoteParsing, SeventyFifthTokenOverrunsWithTheCounterAlreadyAdvanced) {
    song::Song s;
    EXPECT_EQ(send(s, 1, tokens(74)), "");
    EXPECT_EQ(send(s, 1, "O4L2C "), "Subscript out of range");
    EXPECT_EQ(s.Count1.value(), 75);
    EXPECT_EQ(track1(s, 74), (Step{1, 3, 2, 647}));

    song::Song one_line;  // the same within a single line, and only on that track
    EXPECT_EQ(send(one_line, 2, tokens(75)), "Subscript out of range");
    EXPECT_EQ(one_line.Count2.value(), 75);
    EXPECT_EQ(one_line.Count1.value(), 0);
}

TEST(NoteParsing, LineLongerThan32767CharactersOverflowsBeforeAnyStore) {
    song::Song s;
    EXPECT_EQ(send(s, 1, std::string(32768, ' ')), "Overflow");
    EXPECT_EQ(s.Count1.value(), 0);
    // One character shorter is a legal length; it fails only on running out of steps.
    EXPECT_EQ(send(s, 1, std::string(32767, ' ')), "Subscript out of range");
    EXPECT_EQ(s.Count1.value(), 75);
}

TEST(StoredSongLoad, FillsBothTracksTo74Steps) {
    song::Song s;
    s.MakeMusic();
    EXPECT_EQ(s.Count1.value(), 74);
    EXPECT_EQ(s.Count2.value(), 74);
    for (int i = 1; i <= 74; ++i) {
        EXPECT_EQ(s.VoiceNo1[Int16{i}].value(), 1) << "step " << i;
        EXPECT_EQ(s.VoiceNo2[Int16{i}].value(), 2) << "step " << i;
    }
    EXPECT_EQ(track1(s, 1), (Step{1, 3, 2, 647}));
}

TEST(StoredSongLoad, SecondLoadFailsAtItsFirstToken) {
    song::Song s;
    s.MakeMusic();
    EXPECT_EQ(fakes::faultOf([&] { s.MakeMusic(); }), "Subscript out of range");
    EXPECT_EQ(s.Count1.value(), 75);
    EXPECT_EQ(s.Count2.value(), 74);
}
