// The Env and the platform functions on Windows: the shell, security and
// runtime services themselves. Wide strings are UTF-16 on both sides; they
// are cast to wchar_t at each call.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "fs/env.h"
#include "fs/files.h"
#include "fs/platform.h"
#include "fs/text.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace customhooks::fs {
namespace {

using platform::CheckedFolder;
using platform::IsOwnFile;
using platform::IsOwnFolder;
using platform::OpenedFacts;

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* W(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
const wchar_t* W(const std::u16string& text) { return W(text.c_str()); }
std::u16string_view U(const std::wstring& text) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// ---- Error translation (the only place a system error becomes a Code) ----------

Code CodeOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return Code::kNotFound;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return Code::kExists;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return Code::kAccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Code::kSharingViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Code::kDiskFull;
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
      return Code::kBadPath;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return Code::kNoMemory;
    default:
      return Code::kFailed;
  }
}

// The Status of the call `call` that failed on `path` with `error`, with the
// context "<call> <path>: error <error>"; ERROR_SUCCESS is success.
Status Win32Error(const char* call, std::u16string_view path, DWORD error) noexcept {
  if (error == ERROR_SUCCESS) return Status();
  const Code code = CodeOf(error);
  return UnlessOutOfMemory(code, [&] { return CallFailure(code, call, WideToUtf8(path), "error", error); });
}

// The shell's results are HRESULTs; those of the Win32 facility carry an
// error of the table above.
DWORD Win32ErrorOf(HRESULT result) {
  if (SUCCEEDED(result)) return ERROR_SUCCESS;
  return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : ERROR_GEN_FAILURE;
}

// ---- Owned resources ------------------------------------------------------------------

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

UniqueHandle OwnHandle(HANDLE handle) {
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

struct FindCloser {
  void operator()(HANDLE handle) const { ::FindClose(handle); }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

struct SidFreer {
  void operator()(PSID sid) const { ::FreeSid(sid); }
};
using UniqueSid = std::unique_ptr<void, SidFreer>;

struct LocalFreer {
  void operator()(void* memory) const { ::LocalFree(memory); }
};
using UniqueLocal = std::unique_ptr<void, LocalFreer>;

struct TaskMemoryFreer {
  void operator()(void* memory) const { ::CoTaskMemFree(memory); }
};
using UniqueItemList = std::unique_ptr<ITEMIDLIST, TaskMemoryFreer>;

// Closes the handle and reports whether that succeeded.
bool Close(UniqueHandle& handle) { return ::CloseHandle(handle.release()) != FALSE; }

// "DOMAIN\\name" of an account, or its SID in text when it has no name.
std::string AccountName(PSID sid) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD nameSize = 256;
  DWORD domainSize = 256;
  SID_NAME_USE use;
  if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    std::u16string account(reinterpret_cast<const char16_t*>(domain));
    if (!account.empty()) account += u"\\";
    account += reinterpret_cast<const char16_t*>(name);
    return WideToUtf8(account);
  }
  LPWSTR text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return std::string();
  const UniqueLocal heldText(text);
  return WideToUtf8(reinterpret_cast<const char16_t*>(text));
}

// A file that is neither a folder nor a reparse point and has no other
// name: content written through the handle reaches no file elsewhere.
bool SingleLinkFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return ::GetFileInformationByHandle(file, &info) &&
         (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
         info.nNumberOfLinks == 1;
}

// The path the handle's file has after every link and mount point on the
// way, as the system names it; empty when it can't be had.
std::wstring FinalPath(HANDLE handle) {
  constexpr DWORD kForm = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD needed = ::GetFinalPathNameByHandleW(handle, nullptr, 0, kForm);
  if (needed == 0) return std::wstring();
  std::wstring path(needed, L'\0');
  const DWORD length = ::GetFinalPathNameByHandleW(handle, &path[0], needed, kForm);
  if (length == 0 || length >= needed) return std::wstring();
  path.resize(length);
  return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring WideNative(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  return wide;
}

std::size_t LastSeparator(const std::wstring& path) { return path.find_last_of(L"\\/"); }

// The facts of an opened handle; nothing when the system gives none.
std::optional<OpenedFacts> FactsOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) return std::nullopt;
  const std::wstring finalPath = FinalPath(handle);
  if (finalPath.empty()) return std::nullopt;
  OpenedFacts facts;
  facts.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  facts.reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.links = info.nNumberOfLinks;
  facts.volume = info.dwVolumeSerialNumber;
  facts.finalPath.assign(finalPath.begin(), finalPath.end());
  return facts;
}

using CreateFileFunction = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

// Written once, before the replacement is installed, and only read after.
CreateFileFunction forwardedCreateFile = ::CreateFileW;

// A name opened only to look at it keeps every other process free to use it.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What stands at a name, looked at on the name opened as itself.
struct NameCheck {
  UniqueHandle opened;  // with DELETE access; null when nothing could be opened
  bool link = false;    // a reparse point, or one of several links to a file
  bool elsewhere = false;  // the handle's file is not at the name asked for
};

NameCheck CheckName(const std::u16string& path) {
  NameCheck check;
  const std::wstring name(W(path));
  const std::size_t separator = LastSeparator(name);
  if (separator == std::wstring::npos) return check;
  check.opened = OwnHandle(::CreateFileW(name.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                         nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!check.opened || !::GetFileInformationByHandle(check.opened.get(), &info)) {
    check.opened.reset();
    return check;
  }
  const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  check.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (!folder && info.nNumberOfLinks > 1);
  // Where a link is not a reparse point (Wine opens a POSIX link as the file
  // it leads to), the final path tells.
  const UniqueHandle parent = OwnHandle(::CreateFileW(name.substr(0, separator).c_str(), FILE_READ_ATTRIBUTES,
                                                      kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                                      nullptr));
  const std::wstring parentPath = parent ? FinalPath(parent.get()) : std::wstring();
  check.elsewhere =
      parentPath.empty() || !SamePath(FinalPath(check.opened.get()), parentPath + L"\\" + name.substr(separator + 1));
  return check;
}

// The step of the system time that file times come from (the timer
// interval, 15.6 ms by default), twice over for safety.
std::int64_t ClockStep() {
  static const std::int64_t step = [] {
    DWORD adjustment = 0;
    DWORD increment = 0;
    BOOL disabled = FALSE;
    if (!::GetSystemTimeAdjustment(&adjustment, &increment, &disabled) || increment == 0) {
      return std::int64_t{200000};
    }
    return 2 * static_cast<std::int64_t>(increment);
  }();
  return step;
}

// ---- The Env ----------------------------------------------------------------------

int CsidlOf(SpecialFolder folder) {
  switch (folder) {
    case SpecialFolder::kCommonFiles:
      return CSIDL_PROGRAM_FILES_COMMON;
    case SpecialFolder::kCommonFilesX86:
      return CSIDL_PROGRAM_FILES_COMMONX86;
    case SpecialFolder::kCommonAppData:
      break;
  }
  return CSIDL_COMMON_APPDATA;
}

// Success, or the Status of `call`'s error on `path`.
Status Succeeded(BOOL done, const char* call, std::u16string_view path) {
  return done ? Status() : Win32Error(call, path, ::GetLastError());
}

class WindowsEnv final : public Env {
 public:
  Status GetSpecialFolder(SpecialFolder folder, MissingFolder missing, std::u16string* path) override {
    wchar_t buffer[1024] = {};
    const int csidl = CsidlOf(folder) | (missing == MissingFolder::kCreate ? CSIDL_FLAG_CREATE : 0);
    const HRESULT result = ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (FAILED(result)) return Win32Error("SHGetFolderPathW", {}, Win32ErrorOf(result));
    path->assign(reinterpret_cast<const char16_t*>(buffer));
    return Status();
  }

  Status LocateSpecialFolder(SpecialFolder folder, std::optional<std::u16string>* path) override {
    PIDLIST_ABSOLUTE found = nullptr;
    const HRESULT result = ::SHGetFolderLocation(nullptr, CsidlOf(folder), nullptr, 0, &found);
    if (FAILED(result)) return Win32Error("SHGetFolderLocation", {}, Win32ErrorOf(result));
    const UniqueItemList items(found);
    wchar_t buffer[MAX_PATH] = {};
    if (::SHGetPathFromIDListW(items.get(), buffer)) {
      *path = std::u16string(reinterpret_cast<const char16_t*>(buffer));
    } else {
      path->reset();
    }
    return Status();
  }

  Status GetAttributes(const std::u16string& path, std::uint32_t* attributes) override {
    const DWORD found = ::GetFileAttributesW(W(path));
    if (found == INVALID_FILE_ATTRIBUTES) return Win32Error("GetFileAttributesW", path, ::GetLastError());
    *attributes = found;
    return Status();
  }

  Status GetFileStamp(const std::u16string& path, Links links, FileStamp* stamp) override {
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (links == Links::kOwn ? FILE_FLAG_OPEN_REPARSE_POINT : DWORD{0});
    const UniqueHandle file =
        OwnHandle(::CreateFileW(W(path), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!file) return Win32Error("CreateFileW", path, ::GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file.get(), &info)) {
      return Win32Error("GetFileInformationByHandle", path, ::GetLastError());
    }
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic)) {
      return Win32Error("GetFileInformationByHandleEx", path, ::GetLastError());
    }
    stamp->volume = info.dwVolumeSerialNumber;
    stamp->fileIndex = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp->size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp->lastWriteTime = basic.LastWriteTime.QuadPart;
    stamp->changeTime = basic.ChangeTime.QuadPart;
    stamp->link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // The file system stamps with the system time.
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    const std::int64_t takenAt = (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    stamp->racy = platform::RacyStamp(stamp->lastWriteTime, stamp->changeTime, takenAt, 10000000, ClockStep());
    return Status();
  }

  Status IsLink(const std::u16string& path, bool* link) override {
    const NameCheck check = CheckName(path);
    *link = check.opened && (check.link || check.elsewhere);
    return Status();
  }

  Status ListFolder(const std::u16string& folder, std::vector<std::u16string>* names) override {
    const std::u16string pattern = folder + u"\\*";
    WIN32_FIND_DATAW data;
    const HANDLE first = ::FindFirstFileW(W(pattern), &data);
    if (first == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      // A folder without any entry (a drive root can be one).
      if (error != ERROR_FILE_NOT_FOUND) return Win32Error("FindFirstFileW", pattern, error);
      names->clear();
      return Status();
    }
    const UniqueFind listing(first);
    std::vector<std::u16string> found;
    do {
      found.emplace_back(reinterpret_cast<const char16_t*>(data.cFileName));
    } while (::FindNextFileW(listing.get(), &data));
    *names = std::move(found);
    return Status();
  }

  Status OpenShared(const std::u16string& path, const char* mode, std::FILE** file) override {
    std::wstring wideMode;
    for (const char* c = mode; *c != '\0'; ++c) wideMode += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    std::FILE* opened = ::_wfsopen(W(path), wideMode.c_str(), _SH_DENYNO);
    // The runtime opens with CreateFileW and leaves its error in place.
    if (opened == nullptr) return Win32Error("_wfsopen", path, ::GetLastError());
    *file = opened;
    return Status();
  }

  Status OpenForReading(const std::u16string& path, Found* found, std::FILE** file) override {
    // As _wfsopen opens for "rb" with _SH_DENYNO; the backup semantics let
    // the same open take a folder, so that one look at the path says which.
    UniqueHandle handle = OwnHandle(::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS,
                                                  nullptr));
    if (!handle) return Win32Error("CreateFileW", path, ::GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle.get(), &info)) {
      return Win32Error("GetFileInformationByHandle", path, ::GetLastError());
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      *found = Found::kFolder;
      return Status();
    }
    const int descriptor = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(handle.get()), _O_RDONLY | _O_BINARY);
    if (descriptor == -1) return Code::kFailed;
    // The descriptor owns the handle now, and the stream the descriptor.
    handle.release();
    std::FILE* stream = ::_fdopen(descriptor, "rb");
    if (stream == nullptr) {
      ::_close(descriptor);
      return Code::kFailed;
    }
    *found = Found::kFile;
    *file = stream;
    return Status();
  }

  Status DescribePath(const std::u16string& path, PathFacts* facts) override {
    if (::GetFileAttributesW(W(path)) == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Status();
      return Win32Error("GetFileAttributesW", path, error);
    }
    // Opened as itself, for its attributes and security only: no link is
    // followed and no other process is refused anything.
    const UniqueHandle handle(OwnHandle(::CreateFileW(
        W(path), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
    if (!handle) return Win32Error("CreateFileW", path, ::GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle.get(), &info)) {
      return Win32Error("GetFileInformationByHandle", path, ::GetLastError());
    }
    facts->kind = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? PathFacts::Kind::kLink
                  : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathFacts::Kind::kFolder
                                                                             : PathFacts::Kind::kFile;
    facts->size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    facts->links = info.nNumberOfLinks;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = ::GetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                                         nullptr, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) return Win32Error("GetSecurityInfo", path, read);
    const UniqueLocal heldDescriptor(descriptor);
    facts->owner = AccountName(owner);
    LPWSTR sddl = nullptr;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                               DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
      const UniqueLocal heldText(sddl);
      facts->access = WideToUtf8(reinterpret_cast<const char16_t*>(sddl));
    }
    if (facts->kind == PathFacts::Kind::kFile) ReadHead(path, info, facts);
    return Status();
  }

  // The head of the file `info` describes, read as itself: a reparse point
  // or another file put in its place since is not read.
  static void ReadHead(const std::u16string& path, const BY_HANDLE_FILE_INFORMATION& info, PathFacts* facts) {
    const UniqueHandle handle(OwnHandle(::CreateFileW(W(path), GENERIC_READ,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)));
    BY_HANDLE_FILE_INFORMATION opened;
    if (!handle || !::GetFileInformationByHandle(handle.get(), &opened) ||
        opened.dwVolumeSerialNumber != info.dwVolumeSerialNumber || opened.nFileIndexHigh != info.nFileIndexHigh ||
        opened.nFileIndexLow != info.nFileIndexLow ||
        (opened.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return;
    }
    char bytes[kPathHeadBytes];
    DWORD got = 0;
    if (::ReadFile(handle.get(), bytes, sizeof bytes, &got, nullptr)) facts->head.assign(bytes, got);
  }

  Status CreateFolder(const std::u16string& path) override {
    return Succeeded(::CreateDirectoryW(W(path), nullptr), "CreateDirectoryW", path);
  }

  Status CreateFolderChain(const std::u16string& path) override {
    const int error = ::SHCreateDirectoryExW(nullptr, W(path), nullptr);
    return Win32Error("SHCreateDirectoryExW", path, static_cast<DWORD>(error));
  }

  Status SetAttributesNormal(const std::u16string& path) override {
    return Succeeded(::SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL), "SetFileAttributesW", path);
  }

  Status MoveFileReplacing(const std::u16string& source, const std::u16string& target) override {
    if (::MoveFileExW(W(source), W(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return Status();
    const DWORD error = ::GetLastError();
    return Win32Error("MoveFileExW", source + u" -> " + target, error);
  }

  Status CopyOver(const std::u16string& source, const std::u16string& target, WriteMode mode) override {
    const BOOL failIfExists = mode == WriteMode::kCreateNew ? TRUE : FALSE;
    if (::CopyFileW(W(source), W(target), failIfExists)) return Status();
    const DWORD error = ::GetLastError();
    return Win32Error("CopyFileW", source + u" -> " + target, error);
  }

  Status WriteWholeFile(const std::u16string& path, std::string_view bytes, WriteMode mode) override {
    const bool fresh = mode == WriteMode::kCreateNew;
    const DWORD share = fresh ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    UniqueHandle file = OwnHandle(::CreateFileW(W(path), GENERIC_WRITE, share, nullptr, fresh ? CREATE_NEW : OPEN_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return Win32Error("CreateFileW", path, ::GetLastError());
    if (!SingleLinkFile(file.get())) return Code::kAccessDenied;
    const char* data = bytes.data();
    std::size_t size = bytes.size();
    while (size > 0) {
      const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!::WriteFile(file.get(), data, chunk, &written, nullptr)) return Win32Error("WriteFile", path, ::GetLastError());
      // A write that takes nothing sets no error: it is reported as one,
      // never read as success.
      if (written == 0) return Win32Error("WriteFile", path, ERROR_WRITE_FAULT);
      data += written;
      size -= written;
    }
    if (!::SetEndOfFile(file.get())) return Win32Error("SetEndOfFile", path, ::GetLastError());
    if (!::FlushFileBuffers(file.get())) return Win32Error("FlushFileBuffers", path, ::GetLastError());
    return Succeeded(Close(file), "CloseHandle", path);
  }

  Status TakeOwnerAndMode(const std::u16string&, const std::u16string&) override { return Status(); }

  Status RemoveFile(const std::u16string& path) override {
    return Succeeded(::DeleteFileW(W(path)), "DeleteFileW", path);
  }

  Status RemoveLink(const std::u16string& path) override {
    const NameCheck check = CheckName(path);
    // The handle is deleted, not the name: it is the link itself. A handle
    // that reached another file is never deleted, since that would delete the
    // file the link leads to.
    if (!check.opened || !check.link || check.elsewhere) return Code::kAccessDenied;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return Succeeded(
        ::SetFileInformationByHandle(check.opened.get(), FileDispositionInfo, &disposition, sizeof disposition),
        "SetFileInformationByHandle", path);
  }

  Status FlushFile(const std::u16string& path) override {
    constexpr DWORD kWriteThroughUnbuffered = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING |
                                              FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT;
    const UniqueHandle file = OwnHandle(::CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                      kWriteThroughUnbuffered, nullptr));
    if (!file) return Win32Error("CreateFileW", path, ::GetLastError());
    if (!SingleLinkFile(file.get())) return Code::kAccessDenied;
    return Succeeded(::FlushFileBuffers(file.get()), "FlushFileBuffers", path);
  }

  Status FlushFolder(const std::u16string&) override { return Status(); }

  Status SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>& entries) override;

  std::uint32_t ProcessId() override { return ::GetCurrentProcessId(); }

  Status ProcessRunning(std::uint32_t pid, bool* running) override {
    const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
      *running = ::GetLastError() == ERROR_ACCESS_DENIED;
      return Status();
    }
    DWORD exitCode = 0;
    *running = !::GetExitCodeProcess(process.get(), &exitCode) || exitCode == STILL_ACTIVE;
    return Status();
  }
};

}  // namespace

Env* Env::Default() {
  static WindowsEnv env;
  return &env;
}

Status WindowsEnv::SetFolderAccess(const std::u16string& folder, const std::vector<AccessEntry>& entries) {
  // The list is read and written on the folder opened as itself: a link or
  // mount point planted at its name is never given the list.
  const UniqueHandle opened = OwnHandle(::CreateFileW(W(folder), READ_CONTROL | WRITE_DAC,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!opened) return Win32Error("CreateFileW", folder, ::GetLastError());
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(opened.get(), &info)) {
    return Win32Error("GetFileInformationByHandle", folder, ::GetLastError());
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Code::kAccessDenied;
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL present = nullptr;
  PSECURITY_DESCRIPTOR found = nullptr;
  constexpr SECURITY_INFORMATION kRead =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  const DWORD read = ::GetSecurityInfo(opened.get(), SE_FILE_OBJECT, kRead, &owner, &group, &present, nullptr, &found);
  if (read != ERROR_SUCCESS) return Win32Error("GetSecurityInfo", folder, read);
  const UniqueLocal descriptor(found);

  // The SIDs are built from the last entry to the first: Everyone, then
  // Administrators.
  std::vector<UniqueSid> sids(entries.size());
  for (std::size_t i = entries.size(); i-- > 0;) {
    const AccessEntry& entry = entries[i];
    SID_IDENTIFIER_AUTHORITY authority;
    std::memcpy(authority.Value, entry.authority, sizeof authority.Value);
    PSID sid = nullptr;
    if (!::AllocateAndInitializeSid(&authority, entry.subAuthorityCount, entry.subAuthorities[0],
                                    entry.subAuthorities[1], 0, 0, 0, 0, 0, 0, &sid)) {
      return Win32Error("AllocateAndInitializeSid", folder, ::GetLastError());
    }
    sids[i].reset(sid);
  }

  std::vector<EXPLICIT_ACCESS_W> access(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPLICIT_ACCESS_W& item = access[i];
    std::memset(&item, 0, sizeof item);
    item.grfAccessPermissions = entries[i].accessMask;
    item.grfAccessMode = GRANT_ACCESS;
    item.grfInheritance = entries[i].inheritance;
    item.Trustee.pMultipleTrustee = nullptr;
    item.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    item.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    item.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    item.Trustee.ptstrName = static_cast<LPWSTR>(sids[i].get());
  }
  PACL built = nullptr;
  const DWORD set = ::SetEntriesInAclW(static_cast<ULONG>(access.size()), access.data(), nullptr, &built);
  if (set != ERROR_SUCCESS) return Win32Error("SetEntriesInAclW", folder, set);
  const UniqueLocal acl(built);

  // Only the access list is written; the owner and group read above go along
  // unused. The list no longer inherits from the parent folder.
  return Win32Error("SetSecurityInfo", folder,
                    ::SetSecurityInfo(opened.get(), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, owner, group,
                                      built, nullptr));
}

namespace platform {

// ---- Text -------------------------------------------------------------------------------

int Utf8ToUtf16(const char* text, int length, char16_t* out, int capacity) {
  return ::MultiByteToWideChar(CP_UTF8, 0, text, length, W(out), capacity);
}

int Utf16ToUtf8(const char16_t* text, int length, char* out, int capacity) {
  return ::WideCharToMultiByte(CP_UTF8, 0, W(text), length, out, capacity, nullptr, nullptr);
}

// ---- Shell path functions -----------------------------------------------------------------------

bool AppendPath(char16_t* path, const char16_t* more) { return ::PathAppendW(W(path), W(more)) != FALSE; }

void RemoveBackslash(char16_t* path) { ::PathRemoveBackslashW(W(path)); }

void StripPath(char16_t* path) { ::PathStripPathW(W(path)); }

// ---- Paths handed to libraries -------------------------------------------------------------------------

std::string NativePath(const std::string& path) { return path; }

}  // namespace platform

// ---- Files in folders that others can write -------------------------------------------------

struct platform::CheckedFolder {
  HANDLE handle;
  std::wstring path;  // as the library names files in it, without a final separator
  OpenedFacts facts;
};

namespace {

// The checked folder that directly holds `path`, or null.
CheckedFolder* HoldingFolder(LPCWSTR path) {
  CheckedFolder* folder = platform::ActiveCheckedFolder();
  if (folder == nullptr || path == nullptr) return nullptr;
  const std::wstring name(path);
  const std::size_t separator = LastSeparator(name);
  if (separator == std::wstring::npos || !SamePath(name.substr(0, separator), folder->path)) return nullptr;
  return folder;
}

// The opened file is the very name the library asked for in the checked
// folder, a file on a disk (no device or pipe), and nothing else has its
// content.
bool InCheckedFolder(const CheckedFolder& folder, LPCWSTR path, HANDLE file) {
  if (::GetFileType(file) != FILE_TYPE_DISK) return false;
  const std::optional<OpenedFacts> facts = FactsOf(file);
  if (!facts) return false;
  const std::wstring name(path);
  const std::wstring leaf = name.substr(LastSeparator(name) + 1);
  return IsOwnFile(*facts, folder.facts, std::u16string(leaf.begin(), leaf.end()));
}

HANDLE WINAPI CheckedCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile) {
  const CheckedFolder* folder = HoldingFolder(path);
  if (folder == nullptr) return forwardedCreateFile(path, access, share, security, disposition, flags, templateFile);
  // A link is opened as itself, and a missing file is created only where no
  // name stands: creating through a dangling link is never possible.
  flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  bool truncate = false;
  HANDLE file = INVALID_HANDLE_VALUE;
  if (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) {
    file = forwardedCreateFile(path, access, share, security, CREATE_NEW, flags, templateFile);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS) {
      truncate = disposition == CREATE_ALWAYS;
      disposition = OPEN_EXISTING;
    } else {
      disposition = 0;
    }
  }
  if (disposition != 0) file = forwardedCreateFile(path, access, share, security, disposition, flags, templateFile);
  if (file == INVALID_HANDLE_VALUE) return file;
  if (!InCheckedFolder(*folder, path, file) || (truncate && !::SetEndOfFile(file))) {
    ::CloseHandle(file);
    // Not an error the library retries on.
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

namespace platform {

CheckedFolder* OpenCheckedFolder(const std::string& folder) {
  std::wstring path = WideNative(folder);
  while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  if (path.empty()) return nullptr;
  // Without FILE_SHARE_DELETE nobody can rename or remove the folder while
  // it is held.
  UniqueHandle opened = OwnHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const std::optional<OpenedFacts> facts = opened ? FactsOf(opened.get()) : std::nullopt;
  if (!facts || !IsOwnFolder(*facts)) return nullptr;
  auto* checked = new (std::nothrow) CheckedFolder{nullptr, std::wstring(), *facts};
  if (checked == nullptr) return nullptr;
  checked->path.swap(path);
  checked->handle = opened.release();
  return checked;
}

void CloseCheckedFolder(CheckedFolder* folder) {
  if (folder == nullptr) return;
  ::CloseHandle(folder->handle);
  delete folder;
}

Status RemoveFromCheckedFolder(const CheckedFolder& folder, const std::string& name, bool) {
  // The name is opened as itself and deleted on that handle only when it
  // is a file of its own in this folder: a delete by path could follow
  // what a link there leads to (as Wine does with a POSIX link).
  const std::wstring path = folder.path + L"\\" + WideNative(name);
  const UniqueHandle file = OwnHandle(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return Win32Error("CreateFileW", U(path), ::GetLastError());
  if (!InCheckedFolder(folder, path.c_str(), file.get())) return Code::kAccessDenied;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  // Windows writes the folder's entries through: nothing to flush.
  return Succeeded(::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition),
                   "SetFileInformationByHandle", U(path));
}

const char* OpenCallName() { return "CreateFileW"; }

SystemCall CheckedOpenCall() { return reinterpret_cast<SystemCall>(&CheckedCreateFile); }

void ForwardOpenCallTo(SystemCall original) {
  if (original != nullptr) forwardedCreateFile = reinterpret_cast<CreateFileFunction>(original);
}

}  // namespace platform

}  // namespace customhooks::fs
