// The version resource of CustomHooks.dll and kxhost.exe, read back the way
// installers and Explorer read it (GetFileVersionInfoW, VerQueryValueW): its
// versions must be the project version and build number the build was made
// from, and it names the maker, the copyright and the commit of CMakeLists.txt.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The folder of this test program, where the build puts the DLL and kxhost.
std::wstring BinaryFolder() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  path.resize(length);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class VersionInfo {
 public:
  explicit VersionInfo(const std::wstring& file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return;
    data_.resize(size);
    if (!GetFileVersionInfoW(file.c_str(), 0, size, data_.data())) data_.clear();
  }

  bool present() const { return !data_.empty(); }

  const VS_FIXEDFILEINFO* Fixed() const {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data_.data(), L"\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) return nullptr;
    return static_cast<const VS_FIXEDFILEINFO*>(value);
  }

  // A value of the string table of the first translation; "<none>" when absent.
  std::wstring String(const wchar_t* name) const {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4) {
      return L"<no translation>";
    }
    const WORD* translation = static_cast<const WORD*>(value);
    wchar_t query[64];
    swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], name);
    if (!VerQueryValueW(data_.data(), query, &value, &length) || length == 0) return L"<none>";
    return std::wstring(static_cast<const wchar_t*>(value));
  }

 private:
  std::vector<BYTE> data_;
};

struct Binary {
  const wchar_t* file;
  const wchar_t* description;
  const wchar_t* internalName;
  DWORD fileType;
};

class VersionResourceTest : public ::testing::TestWithParam<Binary> {};

TEST_P(VersionResourceTest, CarriesTheProjectVersion) {
  const Binary& binary = GetParam();
  const VersionInfo info(BinaryFolder() + binary.file);
  ASSERT_TRUE(info.present()) << "no version resource in " << testing::PrintToString(std::wstring(binary.file));

  const VS_FIXEDFILEINFO* fixed = info.Fixed();
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD versionMs = MAKELONG(CH_PROJECT_VERSION_MINOR, CH_PROJECT_VERSION_MAJOR);
  const DWORD versionLs = MAKELONG(CH_BUILD_NUMBER, CH_PROJECT_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, versionMs);
  EXPECT_EQ(fixed->dwFileVersionLS, versionLs);
  EXPECT_EQ(fixed->dwProductVersionMS, versionMs);
  EXPECT_EQ(fixed->dwProductVersionLS, versionLs);
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
  EXPECT_EQ(fixed->dwFileType, binary.fileType);

  const std::wstring version = Wide(CH_FILE_VERSION);
  EXPECT_EQ(info.String(L"FileVersion"), version);
  EXPECT_EQ(info.String(L"ProductVersion"), version);
  EXPECT_EQ(info.String(L"ProductName"), L"CustomHooks");
  EXPECT_EQ(info.String(L"FileDescription"), binary.description);
  EXPECT_EQ(info.String(L"InternalName"), binary.internalName);
  EXPECT_EQ(info.String(L"OriginalFilename"), binary.file);
  EXPECT_EQ(info.String(L"CompanyName"), Wide(CH_COMPANY));
  EXPECT_EQ(info.String(L"LegalCopyright"), Wide(CH_COPYRIGHT));
  EXPECT_EQ(info.String(L"Comments"), Wide("Built from commit " CH_COMMIT));
}

INSTANTIATE_TEST_SUITE_P(
    ShippedBinaries, VersionResourceTest,
    ::testing::Values(Binary{L"CustomHooks.dll", L"CustomHooks installer extension module", L"CustomHooks", VFT_DLL},
                      Binary{L"kxhost.exe", L"CustomHooks host simulator", L"kxhost", VFT_APP}),
    [](const ::testing::TestParamInfo<Binary>& info) { return info.index == 0 ? "dll" : "kxhost"; });

}  // namespace
