// The names of the run's archives: the folder's last part in lower case, plain or after the date with a free number.
#pragma once

#include <set>
#include <string>

// The decimal text of k with "0" put in front until it is at least width characters long.
std::string ZeroPad(long long k, int width);

// The folder's last part (its last character, normally the "/", is never looked at) followed by
// ".zip", all in lower case: "/data/My Docs/" gives "my docs.zip". The root "/" gives "root.zip".
std::string PlainArchiveName(const std::string& folder);

// today ("yyyy_mm_dd") + "_" + the plain name without ".zip" + ".zip"; when a file of that name
// already lies in destination, the first free name with "_02", "_03", ... before ".zip". Folders of
// that name do not count. The result is a file name without its folder.
std::string DatedArchiveName(const std::string& folder, const std::string& destination, const std::string& today);

// The newest of the dated archives of the folder in destination (the latest date, then the
// highest number; "" when there is none): the earlier archive a new dated one can take entries from.
std::string NewestDatedArchive(const std::string& folder, const std::string& destination);

// name ("docs.zip") when taken does not hold it, else the first of "docs_02.zip", "docs_03.zip",
// ... that taken does not hold: a later folder of a run whose plain name is already one of the
// run's archives.
std::string FreeArchiveName(const std::string& name, const std::set<std::string>& taken);

// Today's local date as "yyyy_mm_dd".
std::string TodayText();
