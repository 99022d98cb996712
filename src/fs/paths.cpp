#include "fs/paths.h"

#include <algorithm>
#include <vector>

#include "fs/guard.h"
#include "fs/platform.h"
#include "fs/text.h"

void StripTrailingSeparator(std::string& path) {
  if (path.size() >= 2 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
}

bool GetParentPath(const std::string& path, std::string& out) {
  // The whole path is the working copy: the shell function works on any
  // NUL-terminated buffer, so a path of MAX_PATH units or more is not cut.
  // Should memory run out, `out` is left as it was.
  return fsguard::Guarded(true, [&path, &out] {
    const std::u16string wide = Utf8ToWide(path);
    std::vector<char16_t> last(wide.begin(), wide.end());
    last.push_back(u'\0');
    fsplatform::StripPath(last.data());
    const std::size_t lastLength = std::char_traits<char16_t>::length(last.data());
    std::string parent = ".";
    if (lastLength < wide.size()) {
      parent = WideToUtf8(wide.substr(0, wide.size() - lastLength));
      StripTrailingSeparator(parent);
    }
    out.swap(parent);
    return true;
  });
}

bool JoinPath(const std::string& base, const std::string& more, std::string& out) {
  return fsguard::Guarded(false, [&base, &more, &out] {
    const std::u16string wideBase = Utf8ToWide(base);
    const std::u16string wideMore = Utf8ToWide(more);
    // A part that did not convert must not vanish from the joined path.
    if (wideBase.empty() != base.empty() || wideMore.empty() != more.empty()) return false;
    if (wideBase.size() + wideMore.size() > fsplatform::kMaxPath) return false;
    if (wideMore.empty()) {
      out = base;
      return true;
    }
    char16_t working[fsplatform::kMaxPath] = {};
    std::copy_n(wideBase.begin(), std::min(wideBase.size(), fsplatform::kMaxPath), working);
    // The sum check lets through parts whose joined form (separator and
    // terminator included) needs up to 262 units; the append refuses those,
    // and then nothing is joined rather than a cut or empty path.
    if (!fsplatform::AppendPath(working, wideMore.c_str())) return false;
    fsplatform::RemoveBackslash(working);
    std::string joined = WideToUtf8(std::u16string(working));
    // A joined path that did not convert back would turn into a relative
    // name below the process's working folder.
    if (joined.empty()) return false;
    out.swap(joined);
    return true;
  });
}
