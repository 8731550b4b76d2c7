// Names of the temporary files that outputs are written through, and the
// removal of those that a killed run left behind. A temporary file of the
// target "dir/name" is "dir/name.tmp.<pid>.<6 random characters>": the pid of
// the process writing it tells a later run whether the writer is still alive.
#pragma once

#include <string>

namespace identify {

// The file that an output name stands for when it is replaced: the name with
// every symbolic link resolved if it exists (so that a link is kept and the
// file it points to is replaced), else the name as given.
std::string replacement_target(const std::string& name);

// The mkstemp() template for a temporary file of `target` written by this
// process: "<target>.tmp.<pid>.XXXXXX".
std::string temp_template(const std::string& target);

// Removes the temporary files of `target` (named as above, in its directory)
// whose writing process no longer exists, provided they are regular files
// owned by this user. A file whose pid is alive is kept, even if that process
// is another program. Returns how many were removed; a directory that cannot
// be listed removes none.
int remove_stale_temps(const std::string& target);

}  // namespace identify
