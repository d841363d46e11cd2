#pragma once
// The folder tree as the station offers it: customers, project folders, and the two counters.
// A folder is named by its folder text: the customer alone (the originals folder) or
// customer + "/" + sub-folder; its path is photoRoot + folder text.

#include <string>
#include <vector>

// Appends the sub-folders of `folder` (names, or folder + name with `withFullPath`), skipping
// names that start with "."; gives `folder` a trailing "/" first. Dispatches pending window
// events after every entry. Returns the number of entries in `list`.
int listSubFolders(std::string &folder, std::vector<std::string> &list, bool withFullPath);
// Appends the files of `folder` matching `pattern`; dispatches events now and then.
int listFiles(std::string &folder, const std::string &pattern, std::vector<std::string> &list,
              bool withFullPath);
void fillProjectList();
void refreshSelectedCount();
void refreshTotal();
