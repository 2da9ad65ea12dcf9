#pragma once

namespace qv {

// The stored password, in section QuorvaneDataMapping, from a lock to the matching unlock.
inline constexpr const char* kLockKey = "LQRVNL";
inline constexpr const char* kEmptyPasswordMessage = "You must enter a password.";

} // namespace qv
