// A render depends on its options alone.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "sound_test_support.h"

namespace {

std::string bytesOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RenderDeterminism, SameOptionsGiveTheSameBytes) {
    const auto& first = sound_test::defaultRender();
    const auto second = sound_test::renderSong(sound::Emulator::Nuked, 48000, "again.wav");
    const std::string a = bytesOf(first.path);
    ASSERT_GT(a.size(), 44u);
    EXPECT_EQ(std::hash<std::string>{}(a), std::hash<std::string>{}(bytesOf(second.path)));
}

}  // namespace
