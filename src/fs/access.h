// Folder access lists.
#ifndef CUSTOMHOOKS_FS_ACCESS_H_
#define CUSTOMHOOKS_FS_ACCESS_H_

#include <string>

// Replaces the folder's access list by a protected list of two inheritable
// entries: BUILTIN\Administrators full control, then Everyone read (with
// `allowWrite`: read, write and delete-child). On POSIX the owner stands for
// Administrators and "others" for Everyone, applied to the folder and
// everything already in it, plus a default ACL where the file system has one.
// Errors are ignored; always returns 0.
int GrantFolderAccess(const std::string& folder, bool allowWrite);

// The access list GrantFolderAccess applies, rendered as an SDDL DACL string
// (for example "D:P(A;OICI;GA;;;BA)(A;OICI;GR;;;WD)"), built by the same code
// that builds the list it applies. Lets tests check the list on platforms
// (Wine) that don't keep access lists.
std::string DescribeFolderAccess(bool allowWrite);

#endif  // CUSTOMHOOKS_FS_ACCESS_H_
