// The platform boundary on Windows: the shell, security and runtime services
// themselves. Wide strings are UTF-16 on both sides; they are cast to
// wchar_t at each call.
#include <windows.h>

#include <aclapi.h>
#include <direct.h>
#include <io.h>
#include <share.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "fs/platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace fsplatform {
namespace {

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* W(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// ---- Error translation (the only place Win32 and runtime errors become an
// FsError) ------------------------------------------------------------------------

FsError FromWin32(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return FsError::kNone;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return FsError::kNotFound;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return FsError::kExists;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return FsError::kAccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FsError::kSharingViolation;
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
      return FsError::kBadPath;
    default:
      return FsError::kFailed;
  }
}

FsError FromHresult(HRESULT result) {
  if (SUCCEEDED(result)) return FsError::kNone;
  return HRESULT_FACILITY(result) == FACILITY_WIN32 ? FromWin32(HRESULT_CODE(result)) : FsError::kFailed;
}

FsError FromErrno(int error) {
  switch (error) {
    case 0:
      return FsError::kNone;
    case ENOENT:
      return FsError::kNotFound;
    case EEXIST:
      return FsError::kExists;
    case EACCES:
      return FsError::kAccessDenied;
    case EINVAL:
      return FsError::kBadPath;
    default:
      return FsError::kFailed;
  }
}

FsError LastError() { return FromWin32(::GetLastError()); }

// What a primitive reports when the gate stops it.
FsError Stopped() {
  ::SetLastError(ERROR_GEN_FAILURE);
  errno = EIO;
  return FsError::kFailed;
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

// The facts of an opened handle; false when the system gives none.
bool FactsOf(HANDLE handle, OpenedFacts& facts) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) return false;
  const std::wstring finalPath = FinalPath(handle);
  if (finalPath.empty()) return false;
  facts.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  facts.reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.links = info.nNumberOfLinks;
  facts.volume = info.dwVolumeSerialNumber;
  facts.finalPath.assign(finalPath.begin(), finalPath.end());
  return true;
}

using CreateFileFunction = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

// Written once, before the replacement is installed, and only read after.
CreateFileFunction forwardedCreateFile = ::CreateFileW;

}  // namespace

// ---- Text -------------------------------------------------------------------------------

int Utf8ToUtf16(const char* text, int length, char16_t* out, int capacity) {
  if (!PassGate(__func__)) return 0;
  return ::MultiByteToWideChar(CP_UTF8, 0, text, length, W(out), capacity);
}

int Utf16ToUtf8(const char16_t* text, int length, char* out, int capacity) {
  if (!PassGate(__func__)) return 0;
  return ::WideCharToMultiByte(CP_UTF8, 0, W(text), length, out, capacity, nullptr, nullptr);
}

// ---- Special folders ------------------------------------------------------------------------

FsError GetFolderPath(int csidl, std::u16string& path) {
  if (!PassGate(__func__)) return Stopped();
  wchar_t buffer[1024] = {};
  const HRESULT result = ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (FAILED(result)) return FromHresult(result);
  path.assign(reinterpret_cast<const char16_t*>(buffer));
  return FsError::kNone;
}

FolderLocation LocateFolder(int csidl, std::u16string& path) {
  if (!PassGate(__func__)) return FolderLocation::kNotLocated;
  PIDLIST_ABSOLUTE found = nullptr;
  if (FAILED(::SHGetFolderLocation(nullptr, csidl, nullptr, 0, &found))) return FolderLocation::kNotLocated;
  const UniqueItemList items(found);
  wchar_t buffer[MAX_PATH] = {};
  if (!::SHGetPathFromIDListW(items.get(), buffer)) return FolderLocation::kLocatedWithoutPath;
  path.assign(reinterpret_cast<const char16_t*>(buffer));
  return FolderLocation::kLocated;
}

// ---- Shell path functions -----------------------------------------------------------------------

bool AppendPath(char16_t* path, const char16_t* more) {
  if (!PassGate(__func__)) return false;
  return ::PathAppendW(W(path), W(more)) != FALSE;
}

void RemoveBackslash(char16_t* path) {
  if (!PassGate(__func__)) return;
  ::PathRemoveBackslashW(W(path));
}

void StripPath(char16_t* path) {
  if (!PassGate(__func__)) return;
  ::PathStripPathW(W(path));
}

// ---- Tests ------------------------------------------------------------------------------------

FsError CheckExists(const char16_t* path) {
  if (!PassGate(__func__)) return Stopped();
  return FromErrno(::_waccess_s(W(path), 0));
}

bool FileExists(const char16_t* path) {
  if (!PassGate(__func__)) return false;
  return ::PathFileExistsW(W(path)) != FALSE;
}

std::uint32_t GetAttributes(const char16_t* path) {
  if (!PassGate(__func__)) return kInvalidAttributes;
  return ::GetFileAttributesW(W(path));
}

// ---- Changes -------------------------------------------------------------------------------------

int MakeFolder(const char16_t* path) {
  if (!PassGate(__func__)) {
    Stopped();
    return -1;
  }
  return ::_wmkdir(W(path));
}

FsError CreateFolder(const char16_t* path) {
  if (!PassGate(__func__)) return Stopped();
  return ::CreateDirectoryW(W(path), nullptr) ? FsError::kNone : LastError();
}

FsError CreateFolderChain(const char16_t* path) {
  if (!PassGate(__func__)) return Stopped();
  return FromWin32(static_cast<DWORD>(::SHCreateDirectoryExW(nullptr, W(path), nullptr)));
}

FsError SetAttributesNormal(const char16_t* path) {
  if (!PassGate(__func__)) return Stopped();
  return ::SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL) ? FsError::kNone : LastError();
}

FsError CopyOver(const char16_t* source, const char16_t* target, WriteMode mode) {
  if (!PassGate(__func__)) return Stopped();
  const BOOL failIfExists = mode == WriteMode::kCreateNew ? TRUE : FALSE;
  return ::CopyFileW(W(source), W(target), failIfExists) ? FsError::kNone : LastError();
}

FsError MoveFileReplacing(const char16_t* source, const char16_t* target) {
  if (!PassGate(__func__)) return Stopped();
  return ::MoveFileExW(W(source), W(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? FsError::kNone
                                                                                                  : LastError();
}

FsError RemoveFile(const char16_t* path) {
  if (!PassGate(__func__)) return Stopped();
  return ::DeleteFileW(W(path)) ? FsError::kNone : LastError();
}

void FlushFile(const char16_t* path) {
  if (!PassGate(__func__)) return;
  constexpr DWORD kWriteThroughUnbuffered = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH |
                                            FILE_FLAG_OPEN_REPARSE_POINT;
  const UniqueHandle file = OwnHandle(::CreateFileW(W(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                    kWriteThroughUnbuffered, nullptr));
  if (file && SingleLinkFile(file.get())) ::FlushFileBuffers(file.get());
}

FsError WriteWholeFile(const char16_t* path, const void* bytes, std::size_t size, WriteMode mode) {
  if (!PassGate(__func__)) return Stopped();
  const bool fresh = mode == WriteMode::kCreateNew;
  const DWORD share = fresh ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  UniqueHandle file = OwnHandle(::CreateFileW(W(path), GENERIC_WRITE, share, nullptr, fresh ? CREATE_NEW : OPEN_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return LastError();
  if (!SingleLinkFile(file.get())) return FsError::kAccessDenied;
  const char* data = static_cast<const char*>(bytes);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file.get(), data, chunk, &written, nullptr) || written == 0) return LastError();
    data += written;
    size -= written;
  }
  if (!::SetEndOfFile(file.get()) || !::FlushFileBuffers(file.get())) return LastError();
  return Close(file) ? FsError::kNone : LastError();
}

// ---- Shared file access ----------------------------------------------------------------------------

std::FILE* OpenShared(const char16_t* path, const char* mode) {
  if (!PassGate(__func__)) {
    Stopped();
    return nullptr;
  }
  std::wstring wideMode;
  for (const char* c = mode; *c != '\0'; ++c) wideMode += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  return ::_wfsopen(W(path), wideMode.c_str(), _SH_DENYNO);
}

void CloseFile(std::FILE* file) {
  PassGate(__func__);  // a stopped close still releases the stream
  std::fclose(file);
}

// ---- Listing ------------------------------------------------------------------------------------------

FsError ListFolder(const char16_t* folder, std::vector<std::u16string>& names) {
  if (!PassGate(__func__)) return Stopped();
  const std::u16string pattern = std::u16string(folder) + u"\\*";
  WIN32_FIND_DATAW data;
  const HANDLE first = ::FindFirstFileW(W(pattern.c_str()), &data);
  if (first == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    // A folder without any entry (a drive root can be one).
    if (error != ERROR_FILE_NOT_FOUND) return FromWin32(error);
    names.clear();
    return FsError::kNone;
  }
  const UniqueFind listing(first);
  std::vector<std::u16string> found;
  do {
    found.emplace_back(reinterpret_cast<const char16_t*>(data.cFileName));
  } while (::FindNextFileW(listing.get(), &data));
  names = std::move(found);
  return FsError::kNone;
}

// ---- Paths handed to libraries -------------------------------------------------------------------------

std::string NativePath(const std::string& path) { return path; }

bool ProcessRunning(std::uint32_t pid) {
  if (!PassGate(__func__)) return true;
  const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;
  DWORD exitCode = 0;
  return !::GetExitCodeProcess(process.get(), &exitCode) || exitCode == STILL_ACTIVE;
}

void FlushFolder(const char16_t*) { PassGate(__func__); }

std::uint32_t ProcessId() {
  PassGate(__func__);  // cannot fail
  return ::GetCurrentProcessId();
}

// ---- Access lists -------------------------------------------------------------------------------------

void ApplyFolderAccess(const char16_t* folder, const std::vector<AccessEntry>& entries) {
  if (!PassGate(__func__)) return;
  // The list is read and written on the folder opened as itself: a link or
  // mount point planted at its name is never given the list.
  const UniqueHandle opened = OwnHandle(::CreateFileW(W(folder), READ_CONTROL | WRITE_DAC,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!opened || !::GetFileInformationByHandle(opened.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return;
  }
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL present = nullptr;
  PSECURITY_DESCRIPTOR found = nullptr;
  constexpr SECURITY_INFORMATION kRead =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (::GetSecurityInfo(opened.get(), SE_FILE_OBJECT, kRead, &owner, &group, &present, nullptr, &found) !=
      ERROR_SUCCESS) {
    return;
  }
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
      return;
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
  if (::SetEntriesInAclW(static_cast<ULONG>(access.size()), access.data(), nullptr, &built) != ERROR_SUCCESS) return;
  const UniqueLocal acl(built);

  // Only the access list is written; the owner and group read above go along
  // unused. The list no longer inherits from the parent folder.
  ::SetSecurityInfo(opened.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                    owner, group, built, nullptr);
}

// ---- Files in folders that others can write -------------------------------------------------

}  // namespace fsplatform

struct fsplatform::CheckedFolder {
  HANDLE handle;
  std::wstring path;  // as the library names files in it, without a final separator
  OpenedFacts facts;
  CheckedFolder* outer;
};

namespace fsplatform {
namespace {

thread_local CheckedFolder* checkedFolder = nullptr;

// The checked folder that directly holds `path`, or null.
CheckedFolder* HoldingFolder(LPCWSTR path) {
  CheckedFolder* folder = checkedFolder;
  if (folder == nullptr || path == nullptr) return nullptr;
  const std::wstring name(path);
  const std::size_t separator = LastSeparator(name);
  if (separator == std::wstring::npos || !SamePath(name.substr(0, separator), folder->path)) return nullptr;
  return folder;
}

// The opened file is the very name the library asked for in the checked
// folder, and nothing else has its content.
bool InCheckedFolder(const CheckedFolder& folder, LPCWSTR path, HANDLE file) {
  OpenedFacts facts;
  if (!FactsOf(file, facts)) return false;
  const std::wstring name(path);
  const std::wstring leaf = name.substr(LastSeparator(name) + 1);
  return IsOwnFile(facts, folder.facts, std::u16string(leaf.begin(), leaf.end()));
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

CheckedFolder* CheckFolder(const std::string& folder) {
  if (!PassGate(__func__)) return nullptr;
  std::wstring path = WideNative(folder);
  while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  if (path.empty()) return nullptr;
  // Without FILE_SHARE_DELETE nobody can rename or remove the folder while
  // it is checked.
  UniqueHandle opened = OwnHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  OpenedFacts facts;
  if (!opened || !FactsOf(opened.get(), facts) || !IsOwnFolder(facts)) return nullptr;
  auto* checked = new (std::nothrow) CheckedFolder{nullptr, std::wstring(), facts, checkedFolder};
  if (checked == nullptr) return nullptr;
  checked->path.swap(path);
  checked->handle = opened.release();
  checkedFolder = checked;
  return checked;
}

void UncheckFolder(CheckedFolder* folder) {
  if (folder == nullptr) return;
  if (checkedFolder == folder) checkedFolder = folder->outer;
  ::CloseHandle(folder->handle);
  delete folder;
}

const char* OpenCallName() { return "CreateFileW"; }

SystemCall CheckedOpenCall() { return reinterpret_cast<SystemCall>(&CheckedCreateFile); }

void ForwardOpenCallTo(SystemCall original) {
  if (original != nullptr) forwardedCreateFile = reinterpret_cast<CreateFileFunction>(original);
}

namespace {

// What stands at a name, looked at on the name opened as itself.
struct NameCheck {
  UniqueHandle opened;  // with DELETE access; null when nothing could be opened
  bool link = false;    // a reparse point, or one of several links to a file
  bool elsewhere = false;  // the handle's file is not at the name asked for
};

NameCheck CheckName(const char16_t* path) {
  NameCheck check;
  const std::wstring name(W(path));
  const std::size_t separator = LastSeparator(name);
  if (separator == std::wstring::npos) return check;
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
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

}  // namespace

bool IsLink(const char16_t* path) {
  if (!PassGate(__func__)) return false;
  const NameCheck check = CheckName(path);
  return check.opened && (check.link || check.elsewhere);
}

bool RemoveLink(const char16_t* path) {
  if (!PassGate(__func__)) return false;
  const NameCheck check = CheckName(path);
  // The handle is deleted, not the name: it is the link itself. A handle
  // that reached another file is never deleted, since that would delete the
  // file the link leads to.
  if (!check.opened || !check.link || check.elsewhere) return false;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return ::SetFileInformationByHandle(check.opened.get(), FileDispositionInfo, &disposition, sizeof disposition) !=
         FALSE;
}

}  // namespace fsplatform
