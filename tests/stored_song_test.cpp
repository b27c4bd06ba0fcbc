// Checks the stored tune against the rules the player and the ear rely on.
#include "song/stored_song.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// One 6-character token, decoded here independently of the program's parser.
struct Step {
    std::string_view text;
    int block = -1;
    std::string_view length;  // "L2" or "L4"
    bool rest = false;
    int semitone = -1;  // 0 = C .. 11 = B; -1 for rests and bad pitches
    int Pitch() const { return block * 12 + semitone; }
};

Step Decode(std::string_view t) {
    Step s{t, -1, t.substr(2, 2)};
    if (t[0] == 'O' && t[1] >= '0' && t[1] <= '7') s.block = t[1] - '0';
    s.rest = t[4] == 'P' && (t[5] == '4' || t[5] == ' ');
    static constexpr std::string_view kLetters = "C D EF G A B";  // semitone index
    const std::size_t at = kLetters.find(t[4]);
    if (!s.rest && at != std::string_view::npos && t[4] != ' ') {
        if (t[5] == ' ') s.semitone = static_cast<int>(at);
        // No E# or B#: those letters have no sharp slot in the table above.
        if (t[5] == '#' && at + 1 < kLetters.size() && kLetters[at + 1] == ' ')
            s.semitone = static_cast<int>(at) + 1;
    }
    return s;
}

std::vector<Step> Track(int voice) {  // voice 1 = upper, 2 = lower
    std::vector<Step> steps;
    for (std::size_t i = static_cast<std::size_t>(voice - 1); i < song::kStoredSong.size(); i += 2)
        for (std::size_t at = 0; at + 6 <= song::kStoredSong[i].size(); at += 6)
            steps.push_back(Decode(song::kStoredSong[i].substr(at, 6)));
    return steps;
}

constexpr std::array<std::size_t, 8> kPairTokens = {7, 8, 8, 11, 10, 11, 9, 10};
const std::set<std::size_t> kRestSteps = {19, 38, 74};  // 1-based

bool Dissonant(const Step& hi, const Step& lo) {
    const int ic = (hi.Pitch() - lo.Pitch()) % 12;
    return ic != 0 && ic != 3 && ic != 4 && ic != 7 && ic != 8 && ic != 9;
}

}  // namespace

TEST(StoredSong, OpensWithTheGivenFigure) {
    EXPECT_EQ(song::kStoredSong[0], "O3L2B O3L4G O3L2A O3L4F#O3L4G O3L4A O3L4B ");
}

TEST(StoredSong, EveryStringIsWholeWellFormedTokens) {
    for (std::string_view s : song::kStoredSong) {
        ASSERT_EQ(s.size() % 6, 0u) << s;
        for (std::size_t at = 0; at < s.size(); at += 6) {
            const Step t = Decode(s.substr(at, 6));
            EXPECT_NE(t.block, -1) << "bad octave in " << t.text;
            EXPECT_TRUE(t.length == "L2" || t.length == "L4") << t.text;
            EXPECT_TRUE(t.rest || t.semitone >= 0) << "bad pitch in " << t.text;
        }
    }
}

TEST(StoredSong, PairedStringsCarryTheListedTokenCounts) {
    for (std::size_t p = 0; p < kPairTokens.size(); ++p) {
        EXPECT_EQ(song::kStoredSong[2 * p].size(), kPairTokens[p] * 6) << "pair " << p + 1;
        EXPECT_EQ(song::kStoredSong[2 * p + 1].size(), kPairTokens[p] * 6) << "pair " << p + 1;
    }
}

TEST(StoredSong, TracksAlignStepForStepWith22LongLengthFields) {
    const auto up = Track(1), low = Track(2);
    ASSERT_EQ(up.size(), 74u);
    ASSERT_EQ(low.size(), 74u);
    int l2 = 0;
    for (std::size_t k = 0; k < up.size(); ++k) {
        EXPECT_EQ(up[k].length, low[k].length) << "step " << k + 1;
        l2 += up[k].length == "L2";
    }
    EXPECT_EQ(l2, 22);
}

TEST(StoredSong, UpperUsesBlocks3And4LowerUses2To4) {
    std::set<int> up_blocks, low_blocks;
    for (const Step& s : Track(1)) up_blocks.insert(s.block);
    for (const Step& s : Track(2)) low_blocks.insert(s.block);
    EXPECT_EQ(up_blocks, (std::set<int>{3, 4}));
    EXPECT_EQ(low_blocks, (std::set<int>{2, 3, 4}));
}

TEST(StoredSong, RestsFallOnSteps19_38And74) {
    for (int voice : {1, 2}) {
        const auto steps = Track(voice);
        for (std::size_t k = 1; k <= steps.size(); ++k) {
            const Step& s = steps[k - 1];
            EXPECT_EQ(s.rest, kRestSteps.count(k) == 1) << "voice " << voice << " step " << k;
            if (!s.rest) continue;
            // The closing rest is spelt differently from the two inner ones.
            EXPECT_EQ(s.text.substr(4), k == 74 ? "P " : "P4")
                << "voice " << voice << " step " << k;
        }
    }
}

TEST(StoredSong, StaysInGMajorAndClosesOnGBeforeEachRest) {
    const auto up = Track(1), low = Track(2);
    const std::set<int> g_major = {7, 9, 11, 0, 2, 4, 6};
    for (const auto* steps : {&up, &low})
        for (const Step& s : *steps)
            if (!s.rest) {
                EXPECT_EQ(g_major.count(s.semitone), 1u) << s.text;
            }
    for (std::size_t rest : kRestSteps) {
        EXPECT_EQ(up[rest - 2].semitone, 7) << "upper before step " << rest;
        EXPECT_EQ(low[rest - 2].semitone, 7) << "lower before step " << rest;
    }
}

TEST(StoredSong, LowerPartStaysBelowUpperPart) {
    const auto up = Track(1), low = Track(2);
    ASSERT_EQ(up.size(), low.size());
    for (std::size_t k = 0; k < up.size(); ++k)
        if (!up[k].rest && !low[k].rest) {
            EXPECT_LT(low[k].Pitch(), up[k].Pitch()) << "step " << k + 1;
        }
}

TEST(StoredSong, DissonancesAreBriefPassingNotesOnly) {
    const auto up = Track(1), low = Track(2);
    ASSERT_EQ(up.size(), low.size());
    std::set<std::size_t> string_starts;  // 0-based step where each pair begins
    std::size_t start = 0;
    for (std::size_t n : kPairTokens) string_starts.insert(std::exchange(start, start + n));
    int count = 0;
    bool previous = false;
    for (std::size_t k = 0; k < up.size(); ++k) {
        const bool clash = !up[k].rest && !low[k].rest && Dissonant(up[k], low[k]);
        EXPECT_FALSE(clash && previous) << "two dissonant steps in a row at step " << k + 1;
        EXPECT_FALSE(clash && string_starts.count(k))
            << "string opens on a dissonance, step " << k + 1;
        count += clash;
        previous = clash;
    }
    EXPECT_LE(count, 8);
}
