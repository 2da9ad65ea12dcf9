#pragma once

#include <string>

namespace qv {

// The folder part of a path: "." for a bare name, "/" for a file at the root.
std::string DirectoryOf(const std::string& path);

// The last part of a path, after its folder.
std::string NameOf(const std::string& path);

// Where a chain of symbolic links starting at path ends, also when the last link dangles: the file to
// replace so that the links stay links. path itself when it is no link. Empty, with errno ELOOP, when
// the chain does not end.
std::string FollowLinks(const std::string& path);

} // namespace qv
