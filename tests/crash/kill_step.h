#pragma once

// How the crash-safety test has the client end itself at one step of a download on the program's own folder in the
// download folder (a record removed or put in place, a paper put in place, the folder removed): steps are counted
// from the first of the process, and the client ends by SIGKILL just before or just after the one named,
//   VEXTAL_CRASH_KILL_AT="2 before"
// Those steps lie microseconds apart, closer than any kill from outside can be aimed.
namespace crashtest {

inline constexpr char kKillAtVariable[] = "VEXTAL_CRASH_KILL_AT";
inline constexpr char kBeforeStep[] = "before";
inline constexpr char kAfterStep[] = "after";

}  // namespace crashtest
