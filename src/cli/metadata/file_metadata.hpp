// Carrying a file's metadata over to the new file that replaces it, so that
// nobody gains or loses access by an in-place conversion.
#pragma once

namespace textmend {

// Gives to (a new file of the caller's) the owner, group, extended
// attributes and permission bits of from:
// - owner and group where the caller may set them; where the group cannot be
//   kept, the group permission bits (and setgid) are cleared rather than
//   handed to another group, and setuid is cleared where the owner cannot be
//   kept;
// - every extended attribute the caller may set (user.*, security.*, ...);
//   an ACL that cannot be copied is a failure;
// - the mode last, so that setuid and setgid survive (a write or a change of
//   owner clears them).
// Returns 0, or the errno of the failure.
[[nodiscard]] int copy_file_metadata(int from, int to);

}  // namespace textmend
