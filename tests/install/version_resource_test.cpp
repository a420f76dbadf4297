// TARNSCSI.dll's version resource, read as Explorer and applications read
// it: the fixed version numbers and the product, description and copyright
// strings.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class VersionResource : public ::testing::Test {
protected:
    void SetUp() override {
        char path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        ASSERT_GT(length, 0u);
        std::string dll(path, length);
        dll = dll.substr(0, dll.find_last_of("\\/") + 1) + "TARNSCSI.dll";
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeA(dll.c_str(), &handle);
        ASSERT_GT(size, 0u) << dll << " has no version resource (error " << GetLastError() << ")";
        data.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(dll.c_str(), 0, size, data.data()));
    }

    std::string Text(const char* name) {
        char* value = nullptr;
        UINT length = 0;
        const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || length == 0) {
            return "(missing)";
        }
        return std::string(value);
    }

    std::vector<char> data;
};

TEST_F(VersionResource, FixedVersionIsTheProjectVersion) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(TARNSCSI_VERSION_MINOR, TARNSCSI_VERSION_MAJOR)));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, TARNSCSI_VERSION_PATCH)));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(VersionResource, StringsNameProductVersionAndCopyright) {
    struct Expected {
        const char* name;
        std::string value;
    };
    const Expected strings[] = {
        {"ProductName", "tarnscsi"},
        {"FileVersion", TARNSCSI_VERSION},
        {"ProductVersion", TARNSCSI_VERSION},
        {"OriginalFilename", "TARNSCSI.dll"},
        {"LegalCopyright", TARNSCSI_COPYRIGHT},
    };
    for (const Expected& expected : strings) EXPECT_EQ(Text(expected.name), expected.value) << expected.name;
    EXPECT_NE(Text("FileDescription"), "(missing)");
}

}  // namespace
