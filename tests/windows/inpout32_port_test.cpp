// The Windows port backend against a stand-in inpout32.dll: what reaches the library, and the
// libraries it must refuse.
#include "fm/ports/inpout32_port.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/int16.h"
#include "common/run_error.h"
#include "fm/blaster.h"

namespace {

namespace fs = std::filesystem;

fs::path exeDir() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return fs::path(std::string(path, length)).parent_path();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The stand-in libraries sit in folders of their own beside the test, never beside it: where
// the library is looked for is part of each case. A process keeps the first inpout32.dll it
// loads, so each case needs a process of its own, which ctest gives it.
class Inpout32Port : public testing::Test {
protected:
    void SetUp() override {
        if (GetModuleHandleA("inpout32.dll") != nullptr)
            GTEST_SKIP() << "inpout32.dll is already loaded: run each case in its own process";
        trace_ = fs::temp_directory_path() /
                 ("vesk_inpout_" + std::to_string(GetCurrentProcessId()) + ".txt");
        fs::remove(trace_);
        SetEnvironmentVariableA("VESK_INPOUT_TRACE", trace_.string().c_str());
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove(trace_, ignored);
    }

    // "" leaves the current folder out of the search too, so no library is found at all.
    static void searchLibraryIn(const std::string& folder) {
        const std::string dir = folder.empty() ? "" : (exeDir() / folder).string();
        ASSERT_TRUE(SetDllDirectoryA(dir.c_str()));
    }

    fs::path trace_;
};

}  // namespace

TEST_F(Inpout32Port, HandsEveryAccessToTheLibraryAsItIs) {
    searchLibraryIn("standin");
    fm::Inpout32Port port;
    port.out(0x388, 0x00B0);
    port.out(0x389, -7);  // a 16-bit value goes over whole, sign and all
    EXPECT_EQ(port.in(0x388), 0x06);
    fm::Blaster(port).Blasterwritereg(common::Int16{0x20}, common::Int16{0x01});

    std::string expected = "out 0388 00b0\nout 0389 fff9\nin 0388\n";
    // A register write: the address, 6 status reads, the data, 35 status reads.
    expected += "out 0388 0020\n";
    for (int i = 0; i < 6; ++i) expected += "in 0388\n";
    expected += "out 0389 0001\n";
    for (int i = 0; i < 35; ++i) expected += "in 0388\n";
    EXPECT_EQ(readFile(trace_), expected);
}

TEST_F(Inpout32Port, LibraryWithoutInp32IsARunErrorNamingIt) {
    searchLibraryIn("standin_no_inp32");
    fm::Inpout32Port port;
    try {
        port.out(0x388, 0x01);
        FAIL() << "a library without Inp32 was taken";
    } catch (const common::RunError& e) {
        EXPECT_EQ(e.kind(), common::RunError::Kind::PortLibraryMissing);
        EXPECT_STREQ(e.what(), "cannot load inpout32.dll: it has no entry point Inp32");
    }
    // The program's advice, where it gives some, follows the reason.
    fm::Inpout32Port advised("try this instead");
    try {
        advised.in(0x388);
        FAIL() << "a library without Inp32 was taken the second time";
    } catch (const common::RunError& e) {
        EXPECT_STREQ(e.what(),
                     "cannot load inpout32.dll: it has no entry point Inp32 (try this instead)");
    }
    // Refused before the first access reached it.
    EXPECT_FALSE(fs::exists(trace_));
}

TEST_F(Inpout32Port, LibraryWhoseDriverIsNotRunningIsARunErrorSayingSo) {
    // As when Windows' driver blocklist or memory integrity refused the driver.
    searchLibraryIn("standin_driver_off");
    fm::Inpout32Port port;
    try {
        port.out(0x388, 0x01);
        FAIL() << "accesses went to a library whose driver is not running";
    } catch (const common::RunError& e) {
        EXPECT_STREQ(e.what(),
                     "cannot load inpout32.dll: its driver is not running (run vesk.exe once as "
                     "administrator)");
    }
    EXPECT_FALSE(fs::exists(trace_));
}

TEST_F(Inpout32Port, MissingLibraryIsARunErrorAtTheFirstAccess) {
    searchLibraryIn("");
    fm::Inpout32Port port;
    try {
        port.in(0x388);
        FAIL() << "no library, yet a read went somewhere";
    } catch (const common::RunError& e) {
        EXPECT_EQ(e.kind(), common::RunError::Kind::PortLibraryMissing);
        // Then Windows' reason follows, in the system's language.
        const std::string message = e.what();
        EXPECT_EQ(message.rfind("cannot load inpout32.dll: ", 0), 0u) << message;
        EXPECT_GT(message.size(), std::string("cannot load inpout32.dll: ").size()) << message;
    }
}
