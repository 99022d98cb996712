// The access list GrantFolderAccess applies, rendered as an SDDL DACL string
// (for example "D:P(A;OICI;GA;;;BA)(A;OICI;GR;;;WD)") from the very entries
// it applies (customhooks::fs::FolderAccessEntries). Lets tests check the
// list on platforms (Wine) that don't keep access lists.
#ifndef CUSTOMHOOKS_TESTS_SUPPORT_FOLDER_ACCESS_TEXT_H_
#define CUSTOMHOOKS_TESTS_SUPPORT_FOLDER_ACCESS_TEXT_H_

#include <string>

// The list for a folder that everyone may write to (`allowWrite`) or only read.
std::string DescribeFolderAccess(bool allowWrite);

#endif  // CUSTOMHOOKS_TESTS_SUPPORT_FOLDER_ACCESS_TEXT_H_
