#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/version_marker.h"
#include "support/temp_dir.h"
#include "support/write_failure.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

struct MarkerCase {
    const char* name;
    std::string file;
    bool current;
};

void PrintTo(const MarkerCase& c, std::ostream* os) {
    *os << c.name;
}

class VersionCheck : public testing::TestWithParam<MarkerCase> {};

TEST_P(VersionCheck, ComparesTheStoredBytesWithTheScrambledMarker) {
    qvtest::TempDir dir;
    const std::string path = dir.File("DataQRVN.qrvd");
    qvtest::WriteAll(path, GetParam().file);
    EXPECT_EQ(qv::IsCurrentVersion(path), GetParam().current);
}

const MarkerCase kMarkers[] = {
    {"Scrambled", "[QuorvaneDataMapping]\r\nVQRVNV=\xA8\xA4\xA6\r\n", true},
    {"AmongOtherKeysLfLines", "[QuorvaneDataMapping]\nIncommingPort=\xAE\nVQRVNV=\xA8\xA4\xA6", true},
    {"Plain", "[QuorvaneDataMapping]\r\nVQRVNV=2.0\r\n", false},
    {"OtherShiftKey", "[QuorvaneDataMapping]\r\nVQRVNV=\x99\x95\x97\r\n", false},
    {"LongerValue", "[QuorvaneDataMapping]\r\nVQRVNV=\xA8\xA4\xA6\xA6\r\n", false},
    {"Shorter", "[QuorvaneDataMapping]\r\nVQRVNV=\xA8\xA4\r\n", false},
    {"OtherSection", "[QuorvaneDataSettings]\r\nVQRVNV=\xA8\xA4\xA6\r\n", false},
    {"NoMarker", "[QuorvaneDataMapping]\r\nIncommingPort=\xAE\r\n", false},
    {"EmptyFile", "", false},
};

INSTANTIATE_TEST_SUITE_P(Files, VersionCheck, testing::ValuesIn(kMarkers),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VersionMarker, MissingFileIsNotCurrent) {
    qvtest::TempDir dir;
    EXPECT_FALSE(qv::IsCurrentVersion(dir.File("DataQRVN.qrvd")));
}

TEST(VersionMarker, WrittenMarkerIsCurrentAndKeepsOtherKeys) {
    qvtest::TempDir dir;
    const std::string path = dir.File("DataQRVN.qrvd");
    qv::WriteString(path, qv::kMappingSection, "IncommingPort", "\xAE");
    qv::WriteVersionMarker(path);
    EXPECT_TRUE(qv::IsCurrentVersion(path));
    EXPECT_EQ(qvtest::ReadAll(path),
              "[QuorvaneDataMapping]\r\nIncommingPort=\xAE\r\nVQRVNV=\xA8\xA4\xA6\r\n");
    EXPECT_EQ(qv::UnscrambleText(qv::ReadString(path, qv::kMappingSection, qv::kVersionKey),
                                 qv::kMappingDataShiftKey),
              "2.0");
}

TEST(VersionMarker, BatchCarriesTheMarker) {
    qvtest::TempDir dir;
    const std::string path = dir.File("DataQRVN.qrvd");
    qv::ProfileBatch batch(path);
    qv::WriteVersionMarker(batch);
    EXPECT_FALSE(qv::IsCurrentVersion(path));
    batch.Commit();
    EXPECT_TRUE(qv::IsCurrentVersion(path));
}

TEST(VersionMarker, WriteFailureIsReported) {
    qvtest::TempDir dir;
    const std::string path = dir.File("DataQRVN.qrvd");
    std::filesystem::permissions(dir.Path(),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    qvtest::RunWithoutPermissionOverride([&] {
        EXPECT_THROW(qv::WriteVersionMarker(path), qv::WriteError);
        EXPECT_FALSE(qv::IsCurrentVersion(path));
    });
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
