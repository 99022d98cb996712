#include "fs/paths.h"

#include <algorithm>
#include <vector>

#include "fs/fs_status.h"
#include "fs/platform.h"
#include "fs/text.h"

namespace customhooks::fs {

std::string ParentPath(const std::string& path) {
  // The whole path is the working copy: the shell function works on any
  // NUL-terminated buffer, so a path of MAX_PATH units or more is not cut.
  return UnlessOutOfMemory(std::string(), [&path] {
    const std::u16string wide = Utf8ToWide(path);
    std::vector<char16_t> last(wide.begin(), wide.end());
    last.push_back(u'\0');
    platform::StripPath(last.data());
    const std::size_t lastLength = std::char_traits<char16_t>::length(last.data());
    std::string parent = ".";
    if (lastLength < wide.size()) {
      parent = WideToUtf8(std::u16string_view(wide).substr(0, wide.size() - lastLength));
      // The shell keeps the separator before the last part; one of two
      // bytes or more goes, so that a root stays a root.
      if (parent.size() >= 2 && (parent.back() == '/' || parent.back() == '\\')) parent.pop_back();
    }
    return parent;
  });
}

Status JoinPath(const std::string& base, const std::string& more, std::string* out) {
  return UnlessOutOfMemory(Code::kNoMemory, [&base, &more, out]() -> Status {
    const std::u16string wideBase = Utf8ToWide(base);
    const std::u16string wideMore = Utf8ToWide(more);
    // A part that did not convert must not vanish from the joined path.
    if (wideBase.empty() != base.empty() || wideMore.empty() != more.empty()) return Code::kBadPath;
    if (wideBase.size() + wideMore.size() > platform::kMaxPath) return Code::kBadPath;
    if (wideMore.empty()) {
      *out = base;
      return Status();
    }
    char16_t working[platform::kMaxPath] = {};
    std::copy_n(wideBase.begin(), std::min(wideBase.size(), platform::kMaxPath), working);
    // The sum check lets through parts whose joined form (separator and
    // terminator included) needs up to 262 units; the append refuses those,
    // and then nothing is joined rather than a cut or empty path.
    if (!platform::AppendPath(working, wideMore.c_str())) return Code::kBadPath;
    platform::RemoveBackslash(working);
    std::string joined = WideToUtf8(working);
    // A joined path that did not convert back would turn into a relative
    // name below the process's working folder.
    if (joined.empty()) return Code::kBadPath;
    out->swap(joined);
    return Status();
  });
}

}  // namespace customhooks::fs
